// Command tables and dispatch: a command line is split into words, the first
// word is looked up in the common table and then in the current target's
// table, and the row's handler runs with (word count, words).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// words[0] is the command name; returns 0 for success.
using CommandHandler = uint32_t (*)(uint32_t count, char** words);
using UsageHandler = uint32_t (*)();

struct CommandEntry {
    const char* name;  // nullptr ends a table
    const char* description;
    UsageHandler usage;
    uint32_t flag;
    CommandHandler exec;
};

extern const CommandEntry kCommonCommands[];
extern const CommandEntry kHbaCommands[];
extern const CommandEntry kExpanderCommands[];

// Codes left behind by a dispatch for batch execution.
inline constexpr uint32_t kExitSyntaxError = 0x2020003;
inline constexpr uint32_t kExitUnknownCommand = 0x2030004;

uint32_t lastCommandError();

// 0 with *entry set, 1 when the word is not in the table.
uint32_t findCommand(const char* word, const CommandEntry* table, const CommandEntry** entry);
// Common table first, then the current target's; 1 when neither has it.
uint32_t lookupCommand(const char* word, const CommandEntry** entry);

inline constexpr uint32_t kSplitOk = 0;
inline constexpr uint32_t kSplitTooLong = 1;
inline constexpr uint32_t kSplitEmpty = 3;
inline constexpr size_t kMaxCommandLength = 1023;

// Splits on spaces only (runs count as one). The words are owned by *words.
uint32_t splitCommandLine(const char* text, std::vector<std::vector<char>>* words);
// Runs a split line: builds the argument vector and dispatches it.
uint32_t dispatchSplitLine(std::vector<std::vector<char>>& words);

uint32_t dispatchCommand(uint32_t count, char** words);

// Reads, splits and dispatches lines until quit or end of input. Never returns.
[[noreturn]] void interactiveLoop();

// The common commands.
uint32_t listCommand(uint32_t count, char** words);
uint32_t helpCommand(uint32_t count, char** words);
uint32_t quitCommand(uint32_t count, char** words);
uint32_t selectCommand(uint32_t count, char** words);
uint32_t listUsage();
uint32_t helpUsage();
uint32_t quitUsage();
uint32_t selectUsage();
