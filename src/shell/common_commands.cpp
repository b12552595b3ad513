// The commands every target has: list, help, quit and select.
#include <string_view>

#include "shell/command.h"
#include "shell/logger.h"
#include "shell/options.h"
#include "shell/parse.h"
#include "shell/prompt.h"
#include "targets/target_list.h"

const CommandEntry kCommonCommands[] = {
    {"list", "Lists all the compatible HBA/Expander", listUsage, 1, listCommand},
    {"help", "Lists the available commands", helpUsage, 1, helpCommand},
    {"quit", "Quits from the application", quitUsage, 1, quitCommand},
    {"select", "Select a Compatible HBA/Expander from the discovered list", selectUsage, 1,
     selectCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};

namespace {

void printCommandList() {
    for (const CommandEntry* row = kCommonCommands; row->name != nullptr; ++row) {
        if (row->exec == selectCommand && currentExecutionMode() == ExecutionMode::OneLine) {
            continue;
        }
        logPrintLine("%-8s - %s", row->name, row->description);
    }
    const Target* target = currentTarget();
    if (target == nullptr)
        return;
    for (const CommandEntry* row = target->commands; row != nullptr && row->name != nullptr;
         ++row) {
        logPrintLine("%-8s - %s", row->name, row->description);
    }
    logPrintLine("");
}

}  // namespace

uint32_t listCommand(uint32_t count, char**) {
    if (currentExecutionMode() == ExecutionMode::Batch) {
        logError("'list' command cannot be used with Batch mode.");
        return 1;
    }
    if (count >= 2) {
        logError("Invalid argument(s) specified.");
        return 1;
    }
    rescanExpanders();
    if (printTargetTable() != 0) {
        logError("Unable to list the devices.");
        return 1;
    }
    logPrintLine("");
    // With nothing listed there is no valid answer to ask for.
    if (currentExecutionMode() == ExecutionMode::Interactive && targetCount() > 0) {
        uint32_t index = 0;
        const PromptSpec question =
            makePromptSpec(&index, "Enter the target index to connect with : ",
                           "Invalid value specified. Specify valid input.", 1, targetCount(), 0);
        if (askNumber(question, 1) != kAnswerAccepted)
            return 1;
        setCurrentTarget(targetAt(index));
    }
    return 0;
}

uint32_t helpCommand(uint32_t count, char** words) {
    if (count == 1) {
        printCommandList();
        return 0;
    }
    if (count == 2) {
        const CommandEntry* entry = nullptr;
        if (lookupCommand(words[1], &entry) == 0)
            return entry->usage();
        logError("Invalid or unknown command '%s'", words[1]);
        return 1;
    }
    logError("Invalid 'help' syntax specified.");
    logPrintLine("Following is the list of commands that are available.");
    printCommandList();
    return 0;
}

uint32_t quitCommand(uint32_t count, char**) {
    if (count < 2)
        terminate(kExitSuccess);
    logError("Invalid argument(s) specified.");
    return 1;
}

uint32_t selectCommand(uint32_t count, char** words) {
    if (currentExecutionMode() == ExecutionMode::OneLine) {
        logError("'select' command cannot be used with OneLine execution mode.");
        return 1;
    }
    if (count == 1 || count > 3) {
        logError("Invalid command syntax. Specify the '-i' option with valid index value.");
        return 1;
    }
    if (std::string_view(words[1]) != "-i") {
        logError("Invalid option '%s' specified.", words[1]);
        return 1;
    }
    if (count == 2) {
        logError("'-i' option requires a mandatory index value to be specified.");
        return 1;
    }
    if (!isDecimalString(words[2])) {
        logError("Invalid index value specified.");
        return 1;
    }
    // Values beyond 32 bits stay out of range instead of wrapping onto a target.
    uint64_t index = 0;
    const bool fits = parseDecimalChecked(words[2], &index);
    setCurrentTarget(nullptr);
    if (discoverAll() != 0)
        return 1;
    Target* target = fits ? targetAt(static_cast<uint32_t>(index)) : nullptr;
    if (target == nullptr) {
        reportIndexRange(targetCount());
        return 1;
    }
    setCurrentTarget(target);
    return 0;
}

uint32_t listUsage() {
    logPrintLine("List Command:");
    logPrintLine(
        "Lists all the HBA/Expander information and can choose the target to connect with.");
    logPrintLine("Example : list");
    return 0;
}

uint32_t helpUsage() {
    logPrintLine("Help Command:");
    logPrintLine("Lists the available commands.");
    logPrintLine("%4s %s", " ", " help <command> ");
    logPrintLine("%4s %s", " ", " Example : help phy");
    return 0;
}

uint32_t quitUsage() {
    logPrintLine("Quit Command:");
    logPrintLine("Quits the application.");
    logPrintLine("Example : quit");
    return 0;
}

uint32_t selectUsage() {
    logPrintLine("Select Command:");
    logPrintLine("Select a HBA/Expander by specifying the device index.");
    logPrintLine("Example : select -i 1");
    return 0;
}
