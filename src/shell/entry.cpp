// Program entry: options, their combination, banner, discovery, the index
// check and the chosen mode; and the single exit path of the process.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "shell/batch.h"
#include "shell/command.h"
#include "shell/logger.h"
#include "shell/options.h"
#include "shell/parse.h"
#include "targets/target_list.h"

namespace {

LaunchOptions g_options;
ExecutionMode g_currentMode = ExecutionMode::None;

constexpr int kVersion[4] = {16, 2, 0, 0};
constexpr const char* kRule = "-------------------------------------------------------------";

using OptionHandler = uint32_t (*)(int argc, char** argv, int* cursor, uint32_t* code);

uint32_t optionError(uint32_t* code, const char* message) {
    logError("%s", message);
    *code = kExitSyntaxError;
    return 1;
}

uint32_t onInteractive(int, char**, int* cursor, uint32_t* code) {
    if (g_options.mode != ExecutionMode::None) {
        return optionError(code, "Interactive mode cannot be invoked with any other modes");
    }
    g_options.mode = ExecutionMode::Interactive;
    *cursor += 1;
    return 0;
}

uint32_t onBatch(int argc, char** argv, int* cursor, uint32_t* code) {
    if (g_options.mode != ExecutionMode::None) {
        return optionError(code, "Batch mode cannot be invoked with any other modes");
    }
    g_options.mode = ExecutionMode::Batch;
    if (*cursor + 1 >= argc) {
        return optionError(code, "Batch mode must have a valid file name as an argument.");
    }
    g_options.batchPath = argv[*cursor + 1];
    if (!isRegularFile(g_options.batchPath)) {
        return optionError(code,
                           "Invalid file name specified/File does not exist. Note: Path should "
                           "not have any spaces.");
    }
    *cursor += 2;
    return 0;
}

uint32_t onList(int, char**, int* cursor, uint32_t* code) {
    if (g_options.mode != ExecutionMode::None) {
        return optionError(code, "List mode cannot be invoked with any other modes");
    }
    g_options.mode = ExecutionMode::ListOnly;
    *cursor += 1;
    return 0;
}

uint32_t onIndex(int argc, char** argv, int* cursor, uint32_t* code) {
    if (g_options.selector != kSelectorNone) {
        return optionError(code, "-i option cannot be invoked with -p/-w option");
    }
    g_options.selector = kSelectorIndex;
    *cursor += 1;
    if (*cursor >= argc || argv[*cursor][0] == '-') {
        return optionError(code, "-i option must have an argument for index value.");
    }
    const char* word = argv[*cursor];
    if (!isDecimalString(word))
        return optionError(code, "Invalid index specified");
    // An index that does not fit in 32 bits must never wrap onto a real target.
    uint64_t value = 0;
    if (word[0] != '\0' && !parseDecimalChecked(word, &value)) {
        g_options.indexOverflow = true;
        value = 0;
    }
    g_options.targetIndex = static_cast<uint32_t>(value);
    *cursor += 1;
    if (*cursor < argc && argv[*cursor][0] != '-') {
        g_options.mode = ExecutionMode::OneLine;
        g_options.oneLineCount = static_cast<uint32_t>(argc - *cursor);
        g_options.oneLineWords = argv + *cursor;
        *cursor = argc;
    }
    return 0;
}

uint32_t onHelp(int, char**, int* cursor, uint32_t* code) {
    if (g_options.helpRequested != 0) {
        return optionError(code,
                           "Syntax of the command is incorrect. 'help' is used multiple times.");
    }
    g_options.helpRequested = 1;
    *cursor += 1;
    return 0;
}

struct OptionRow {
    const char* name;
    OptionHandler handler;
};

const OptionRow kOptions[] = {
    {"--interactive", onInteractive},
    {"--batch", onBatch},
    {"--list", onList},
    {"-i", onIndex},
    {"--help", onHelp},
};

uint32_t checkCombination() {
    const bool help = g_options.helpRequested != 0;
    const bool selector = g_options.selector != kSelectorNone;
    switch (g_options.mode) {
        case ExecutionMode::None:
            if (help && selector)
                break;
            return 0;
        case ExecutionMode::ListOnly:
            if (help) {
                logError(
                    "Syntax of the command is incorrect. 'help' should not be used with any "
                    "interface.");
                return 1;
            }
            if (selector)
                break;
            return 0;
        case ExecutionMode::OneLine:
        case ExecutionMode::Batch:
        case ExecutionMode::Interactive:
            if (help) {
                logError(
                    "Syntax of the command is incorrect. 'help' should not be used with any "
                    "interface.");
                return 1;
            }
            if (g_options.mode != ExecutionMode::Interactive && !selector) {
                logError("Syntax of the command is incorrect. Target details are mandatory.");
                return 1;
            }
            return 0;
    }
    logError("Syntax of the command is incorrect. 'list' or 'help' does not require target.");
    return 1;
}

uint32_t printHelp() {
    logPrintLine("Quarlen CLI - Help Option");
    logPrintLine("Three modes of execution");
    logPrintLine("%4s %s", " ", "1.Interactive Mode");
    logPrintLine("%4s %s", " ", "2.Oneline Mode");
    logPrintLine("%4s %s", " ", "3.Batch Mode");
    logPrintLine("Example for Interactive Mode :");
    logPrintLine("%4s %s", " ", "./quarlencli.x86_64");
    logPrintLine("Example for Oneline Mode :");
    logPrintLine("%4s %s", " ", "./quarlencli.x86_64 -i <index of target> ");
    logPrintLine("Example for Batch Mode :");
    logPrintLine("    ./quarlencli.x86_64 -i <index> --batch <batch file>");
    return 0;
}

void printBanner() {
    logPrintLine("");
    logPrintLine("%s", kRule);
    logPrintLine("Quarlen CLI v%d.%d.%d.%d - Copyright (c) 2026 Quarlen Storage Systems",
                 kVersion[0], kVersion[1], kVersion[2], kVersion[3]);
    logPrintLine("%s", kRule);
    logPrintLine("");
}

}  // namespace

ExecutionMode currentExecutionMode() {
    return g_currentMode;
}
void setCurrentExecutionMode(ExecutionMode mode) {
    g_currentMode = mode;
}
const LaunchOptions& launchOptions() {
    return g_options;
}

void reportIndexRange(uint32_t count) {
    if (count == 1) {
        logError("Invalid index value specified. The valid index value is '1'");
    } else if (count == 2) {
        logError("Invalid index value specified. The valid index value should be '1' or '2'");
    } else {
        logError(
            "Invalid index value specified. The valid index value should be between '1' to '%d'",
            static_cast<int>(count));
    }
}

uint32_t parseArguments(int argc, char** argv, uint32_t* code) {
    g_options = LaunchOptions{};
    // The usual version query, answered before anything else runs; only as
    // the sole argument, so that it never changes the meaning of a command line.
    if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0)) {
        g_options.versionRequested = true;
        return 0;
    }
    int cursor = 1;
    while (cursor < argc) {
        const OptionRow* match = nullptr;
        for (const OptionRow& row : kOptions) {
            if (std::strcmp(argv[cursor], row.name) == 0) {
                match = &row;
                break;
            }
        }
        if (match == nullptr) {
            logError("Invalid argument '%s'", argv[cursor]);
            *code = kExitSyntaxError;
            return 1;
        }
        if (match->handler(argc, argv, &cursor, code) != 0)
            return 1;
    }
    return 0;
}

uint32_t runSelectedMode() {
    if (g_options.versionRequested) {
        logPrintLine("quarlencli %d.%d.%d.%d", kVersion[0], kVersion[1], kVersion[2], kVersion[3]);
        return 0;
    }
    if (checkCombination() != 0)
        return 1;
    if (g_options.helpRequested != 0)
        return printHelp();
    if (g_options.mode == ExecutionMode::None)
        g_options.mode = ExecutionMode::Interactive;
    setCurrentExecutionMode(g_options.mode);
    printBanner();
    if (discoverAll() != 0)
        return 1;
    if (g_options.selector == kSelectorIndex) {
        Target* target = g_options.indexOverflow ? nullptr : targetAt(g_options.targetIndex);
        if (target == nullptr) {
            reportIndexRange(targetCount());
            return 1;
        }
        setCurrentTarget(target);
    }
    switch (g_options.mode) {
        case ExecutionMode::OneLine:
            return dispatchCommand(g_options.oneLineCount, g_options.oneLineWords);
        case ExecutionMode::Interactive:
            interactiveLoop();
        case ExecutionMode::Batch:
            return runBatch(g_options.batchPath);
        case ExecutionMode::ListOnly:
            return printTargetTable();
        case ExecutionMode::None:
            break;
    }
    return 1;
}

namespace {

// A closed standard descriptor would be handed to the first node we open, and
// console output would then be written into a device. Park /dev/null there.
void occupyStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1)
            continue;
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            // Only when a lower one was closed in between: keep what we got.
            ::close(opened);
        }
    }
}

}  // namespace

int processExitStatus(uint32_t code) {
    if (code == 0)
        return 0;
    const int low = static_cast<int>(code & 0xFFu);
    return low != 0 ? low : 1;
}

void terminate(uint32_t code) {
    releaseAllTargets();
    if (code != 0)
        logError("ERROR CODE %08x", code);
    // Output that never arrived (a full disk, a closed pipe) is a failure,
    // even when the command itself worked.
    FILE* out = consoleOut();
    const bool lost = std::fflush(out) != 0 || std::ferror(out) != 0;
    if (lost && code == 0)
        code = kExitOutputFailed;
    std::exit(processExitStatus(code));
}

void runProgram(int argc, char** argv) {
    occupyStandardDescriptors();
    // A reader that went away must not kill us between two flash chunks: the
    // write fails with EPIPE instead and the exit status shows it.
    std::signal(SIGPIPE, SIG_IGN);
    installLogger(&kConsoleLogger);
    setCurrentExecutionMode(ExecutionMode::None);
    setCurrentTarget(nullptr);
    // The standard containers report exhausted memory by throwing; it ends
    // here as the memory failure it is, never as an abort.
    try {
        uint32_t code = 0;
        if (parseArguments(argc, argv, &code) != 0)
            terminate(code);
        terminate(runSelectedMode() == 0 ? kExitSuccess : kExitModeFailed);
    } catch (const std::bad_alloc&) {
        logError("Unable to allocate memory.");
        terminate(kExitModeFailed);
    }
}
