// Questions asked on the console (yes/no, a bounded decimal number), the
// whole-file read and write used by the flash and dump commands, and the
// millisecond pause. All answers are read from consoleIn().
#pragma once

#include <cstddef>
#include <cstdint>

#include "shell/byte_buffer.h"

// 0 yes, 1 no, 2 invalid (including end of input). The caller prints the question.
uint32_t askYesNo();

struct PromptSpec {
    uint32_t* out;
    const char* prompt;
    const char* invalid;
    uint32_t min;
    uint32_t max;
    uint32_t allowEmpty;
};

PromptSpec makePromptSpec(uint32_t* out, const char* prompt, const char* invalid, uint32_t min,
                          uint32_t max, uint32_t allowEmpty);

inline constexpr uint32_t kAnswerAccepted = 0;
inline constexpr uint32_t kAnswerRejected = 1;
inline constexpr uint32_t kAnswerEmpty = 3;

// One attempt, no prompt text: 0 accepted (stored in *out), 1 rejected or end
// of input, 3 empty and allowed.
uint32_t readNumberLine(uint32_t* out, uint32_t min, uint32_t max, uint32_t allowEmpty);
// Shows the prompt and reads; with retry, reports the invalid text and asks
// again. At end of input it stops asking and returns 1.
uint32_t askNumber(const PromptSpec& question, uint32_t retry);

// 0 with the whole file in *contents; 1 after reporting why not.
uint32_t readWholeFile(const char* path, ByteBuffer* contents);
// 0 ok; 1 after reporting the failure.
uint32_t writeWholeFile(const char* path, const uint8_t* data, size_t length);

// Pauses with nanosleep, resuming after signals with the time left.
void sleepMilliseconds(uint32_t ms);
// Replaces the pause of sleepMilliseconds, so that unit tests run on a fake
// clock; nullptr restores nanosleep.
using SleepFunction = void (*)(uint32_t ms);
void setSleepFunction(SleepFunction sleep);

// Reads one line from consoleIn() into buf (capacity bytes, NUL-terminated,
// line end removed). A longer line is consumed whole and reported through
// *overlong. False at end of input with nothing read.
bool readConsoleLine(char* buf, size_t capacity, bool* overlong);
