// Batch scripts: the whole script is read and checked first, then each line
// runs as if typed at the prompt; the first failing command ends the process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr uint32_t kScriptLine = 0;
inline constexpr uint32_t kScriptStreamError = 1;
inline constexpr uint32_t kScriptLineTooLong = 2;
inline constexpr uint32_t kScriptEmptyLine = 3;
inline constexpr uint32_t kScriptEnd = 4;
inline constexpr uint32_t kScriptNoMemory = 5;
inline constexpr size_t kMaxScriptLine = 1024;

// 0 a line (without its line feed), 1 stream error, 3 empty line, 4 end of
// file; 2 as soon as the line passes kMaxScriptLine characters (the rest of
// it is left unread and nothing beyond the limit is stored).
uint32_t readScriptLine(FILE* stream, std::string* line);
// 0 with the non-empty lines; 1 open failure (also anything but a regular
// file), over-long line or read error; 5 out of memory.
uint32_t loadScript(const char* path, std::vector<std::string>* lines);
// Status of the command; 3 for a comment or blank line.
uint32_t runScriptLine(const std::string& line);
// 0 when every line ran; non-zero when the script could not be read. A
// failing command ends the process.
uint32_t runBatch(const char* path);
