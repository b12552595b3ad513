// Program entry: the launch options, their combination rules, the execution
// mode and the single exit path of the process.
#pragma once

#include <cstdint>

enum class ExecutionMode : uint32_t {
    None = 0,
    Interactive = 1,
    OneLine = 2,
    Batch = 3,
    ListOnly = 4,
};

inline constexpr uint32_t kSelectorNone = 0;
inline constexpr uint32_t kSelectorIndex = 16;

struct LaunchOptions {
    uint32_t selector = kSelectorNone;
    // 1-based index given with -i; 0 when absent. Indexes that do not fit in
    // 32 bits are kept out of range (see indexOverflow) rather than wrapped.
    uint32_t targetIndex = 0;
    bool indexOverflow = false;
    ExecutionMode mode = ExecutionMode::None;
    uint32_t helpRequested = 0;
    bool versionRequested = false;  // --version or -V alone
    const char* batchPath = nullptr;
    uint32_t oneLineCount = 0;
    char** oneLineWords = nullptr;
};

// Exit codes of the process.
inline constexpr uint32_t kExitSuccess = 0;
inline constexpr uint32_t kExitModeFailed = 0x2020000;
inline constexpr uint32_t kExitBadIndex = 0x2020002;
inline constexpr uint32_t kExitLibraryFailure = 0x4020000;
inline constexpr uint32_t kExitIocStatus = 0x5020000;
// Standard output could not be written or flushed after a successful run.
inline constexpr uint32_t kExitOutputFailed = 1;

ExecutionMode currentExecutionMode();
void setCurrentExecutionMode(ExecutionMode mode);
const LaunchOptions& launchOptions();

// 0 ok; 1 with *code set (0x2020003) after reporting the error.
uint32_t parseArguments(int argc, char** argv, uint32_t* code);
// 0 success, 1 failure.
uint32_t runSelectedMode();

// Releases every target, reports a non-zero code and ends the process.
[[noreturn]] void terminate(uint32_t code);
// The status the shell sees for an exit code: only 8 bits reach it, so a
// code whose low byte is 0 is mapped to 1 rather than reported as success.
int processExitStatus(uint32_t code);

// Reports the index message for the number of targets (used by -i and select).
void reportIndexRange(uint32_t targetCount);

// The full program: never returns.
[[noreturn]] void runProgram(int argc, char** argv);
