#include "expander/reset.h"

#include <cstring>

#include "expander/expander_access.h"
#include "shell/logger.h"
#include "targets/expander_device.h"
#include "targets/target_list.h"

namespace {

// The largest phy count a sane expander reports.
constexpr uint32_t kMaxPhyCount = 81;

using PhyPrimitive = uint32_t (*)(uint32_t phy);

struct ResetOption {
    const char* name;
    uint32_t id;
    bool takesPhyList;
    bool allPhys;
    PhyPrimitive primitive;  // nullptr: the expander reset
    const char* operation;   // as the line for each phy names it
};

constexpr ResetOption kResetOptions[] = {
    {"-e", 1, false, false, nullptr, nullptr},
    {"-pl", 2, true, false, linkResetPhy, "link reset"},
    {"-pla", 3, false, true, linkResetPhy, "link reset"},
    {"-ph", 4, true, false, hardResetPhy, "reset"},
    {"-pha", 5, false, true, hardResetPhy, "reset"},
    {"-perr", 6, true, false, clearPhyErrorCounters, "error counter reset"},
    {"-perrall", 7, false, true, clearPhyErrorCounters, "error counter reset"},
};

const ResetOption* findResetOption(const char* word) {
    for (const ResetOption& option : kResetOptions) {
        if (std::strcmp(word, option.name) == 0)
            return &option;
    }
    return nullptr;
}

// Runs the option's primitive on each phy, one line per phy. A failing phy
// does not stop the others; it fails the command.
uint32_t runPhyOperation(const ResetOption& option, int32_t first, int32_t last) {
    uint32_t count = 0;
    const bool countRead = getPhyCount(&count) == 0;
    if (countRead && count > kMaxPhyCount) {
        logError("Invalid Phy number found.");
        return 1;
    }
    uint32_t from = static_cast<uint32_t>(first);
    uint32_t to = static_cast<uint32_t>(last < 0 ? first : last);
    if (option.allPhys) {
        if (!countRead) {
            logError("Unable to get the total Phy number.");
            return 1;
        }
        if (count == 0)
            return 0;
        from = 0;
        to = count - 1;
    }
    uint32_t status = 0;
    for (uint32_t phy = from; phy <= to; ++phy) {
        const bool ok = option.primitive(phy) == 0;
        if (!ok)
            status = 1;
        logPrintLine("Phy %02u %s : %s", phy, option.operation, ok ? "Successful" : "Failed");
    }
    return status;
}

}  // namespace

uint32_t expanderResetCommand(uint32_t count, char** words) {
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("Device is not selected. Select a valid device.");
        return 1;
    }
    if (count < 2) {
        logError("Invalid command syntax or unknown argument(s) specified.");
        return 1;
    }
    const ResetOption* chosen = nullptr;
    int32_t first = -1;
    int32_t last = -1;
    for (uint32_t i = 1; i < count; ++i) {
        const ResetOption* option = findResetOption(words[i]);
        if (option == nullptr) {
            logError("Invalid/Unknown argument '%s' specified.", words[i]);
            return 1;
        }
        if (chosen != nullptr) {
            logError("Argument '%s' cannot be used with other options.", words[i]);
            return 1;
        }
        chosen = option;
        if (option->takesPhyList) {
            if (i + 1 >= count) {
                logError("Argument '%s' requires mandatory Phy number.", words[i]);
                return 1;
            }
            ++i;
            if (parsePhyList(words[i], &first, &last) != 0)
                return 1;
        }
    }
    if (chosen->primitive == nullptr)
        return resetExpander(expanderOf(target)->sasAddress, ResetPurpose::Reset);
    return runPhyOperation(*chosen, first, last);
}

uint32_t expanderResetUsage() {
    static const char* const kLines[][2] = {
        {"reset -e", "-e : Resets the expander"},
        {" reset -pl <PHY ID>", "-pl : Link reset specific PHY"},
        {"reset -pla", "-pla : Link reset all Phys"},
        {"reset -ph <PHY ID>", "-ph : Hard reset specific PHY"},
        {"reset -pha", "-pha : Hard reset all Phys"},
        {"reset -perr <PHY ID>", "-perr : Clears the error counters of specific PHY to 0"},
        {"reset -perrall", "-perrall : Clears error counters of all Phys to 0"},
    };
    logPrintLine("Reset Operations");
    logPrintLine("The command resets different components/devices/counters");
    for (const auto& pair : kLines) {
        logPrintLine("%4s %s", " ", pair[0]);
        logPrintLine("%10s %s", " ", pair[1]);
    }
    logPrintLine("Example : reset -pl 4");
    return 0;
}
