// The interactive prompt: read a line, split it, dispatch it, forever.
#include "shell/command.h"
#include "shell/logger.h"
#include "shell/options.h"
#include "shell/prompt.h"
#include "targets/target_list.h"

void interactiveLoop() {
    const LaunchOptions& options = launchOptions();
    if (options.selector == kSelectorIndex) {
        Target* target = options.indexOverflow ? nullptr : targetAt(options.targetIndex);
        if (target == nullptr) {
            logError("Invalid device selected. Device does not exist.");
            terminate(kExitBadIndex);
        }
        setCurrentTarget(target);
    } else {
        listCommand(0, nullptr);
    }
    char line[kMaxCommandLength + 1];
    for (;;) {
        const Target* target = currentTarget();
        logPrint("%s> ", target != nullptr ? target->name : "Quarlen");
        bool overlong = false;
        // End of input: nobody is left to type quit. End the prompt's line so
        // that the caller's shell prompt starts on its own.
        if (!readConsoleLine(line, sizeof line, &overlong)) {
            logPrintLine("");
            terminate(kExitSuccess);
        }
        if (overlong) {
            // The rest of the physical line has been discarded with it.
            logError(
                "Invalid command specified. Unknown command or invalid length of the command.");
            continue;
        }
        std::vector<std::vector<char>> words;
        if (splitCommandLine(line, &words) == kSplitOk)
            dispatchSplitLine(words);
    }
}
