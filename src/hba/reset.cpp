// HBA reset; see reset.h.
#include "hba/reset.h"

#include <cstring>

#include "hba/adapter_reset.h"
#include "hba/command_target.h"
#include "hba/phy_args.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

enum class PhyScope { Controller, Given, All };

struct ResetOption {
    const char* word;
    uint32_t code;
    PhyScope scope;
    uint8_t operation;  // IO unit control phy operation
};

constexpr uint8_t kLinkReset = 6;
constexpr uint8_t kHardReset = 7;
constexpr uint8_t kClearCounters = 8;

const ResetOption kResetOptions[] = {
    {"-c", 1, PhyScope::Controller, 0},
    {"-pl", 2, PhyScope::Given, kLinkReset},
    {"-pla", 3, PhyScope::All, kLinkReset},
    {"-ph", 4, PhyScope::Given, kHardReset},
    {"-pha", 5, PhyScope::All, kHardReset},
    {"-pevnt", 6, PhyScope::Given, kClearCounters},
    {"-pevntall", 7, PhyScope::All, kClearCounters},
};

// Byte 0 of IOC Facts (the XIF message version's low byte) picks the request.
constexpr uint8_t kPlainFamilyVersion = 5;
constexpr uint8_t kNewFamilyVersion = 6;

const ResetOption* findOption(const char* word) {
    for (const ResetOption& row : kResetOptions) {
        if (std::strcmp(word, row.word) == 0)
            return &row;
    }
    return nullptr;
}

uint32_t resetController(AdapterRecord* adapter) {
    logPrintLine("Resetting the adapter...");
    const uint32_t status = resetAdapterAndWait(adapter);
    if (status != kXolStatusSuccess) {
        logError("Reset Failed. Error code %08x", status);
        return 1;
    }
    logPrintLine("Success");
    return 0;
}

// One phy operation; 0, the library status, or the controller's IOC status.
uint32_t phyOperation(AdapterRecord* adapter, uint8_t operation, int phy) {
    const uint8_t version = adapter->iocFacts.size() > 0 ? adapter->iocFacts[0] : 0;
    XolStatusInfo status = {};
    uint32_t result = kXolStatusFailure;
    if (version == kPlainFamilyVersion) {
        result = XolLib2IoUnitControl(&adapter->adapterHandle, nullptr, operation,
                                      static_cast<uint8_t>(phy), &status);
    } else if (version == kNewFamilyVersion) {
        result = XolLib2IoUnitControlNewFamily(&adapter->adapterHandle, nullptr, operation,
                                               static_cast<uint8_t>(phy), &status);
    }
    if (result != kXolStatusSuccess)
        return result;
    // A request the controller refused is no reset.
    if ((status.flags & kXolStatusFlagIocStatus) != 0)
        return status.iocStatus != 0 ? status.iocStatus : kXolStatusFailure;
    return kXolStatusSuccess;
}

uint32_t resetPhys(AdapterRecord* adapter, uint8_t operation, int first, int last) {
    for (int phy = first; phy <= last; ++phy) {
        const uint32_t status = phyOperation(adapter, operation, phy);
        if (status != kXolStatusSuccess) {
            logError("Reset failed for Phy %d with error code %08x", phy, status);
            return 1;
        }
    }
    logPrintLine("Reset completed successfully.");
    return 0;
}

}  // namespace

uint32_t hbaResetUsage() {
    const char* b = " ";
    logPrintLine("Reset Operations");
    logPrintLine("The command resets different components/devices/counters");
    static const char* const kPairs[][2] = {
        {"reset -c", "-c : Resets the controller"},
        {"reset -pl <PHY ID>", "-pl : Link reset specific PHY"},
        {"reset -pla", "-pla : Link reset all Phys"},
        {"reset -ph <PHY ID>", "-ph : Hard reset specific PHY"},
        {"reset -pha", "-pha : Hard reset all Phys"},
        {"reset -pevnt <PHY ID>", "-pevnt : Clears the event counters of specific PHY to 0"},
        {"reset -pevntall", "-pevntall : Clears event counters of all Phys to 0"},
    };
    for (const auto& pair : kPairs) {
        logPrintLine("%4s %s", b, pair[0]);
        logPrintLine("%10s %s", b, pair[1]);
    }
    logPrintLine("Example : reset -pl 4");
    return 0;
}

uint32_t hbaResetCommand(uint32_t count, char** words) {
    Target* target = nullptr;
    AdapterRecord* adapter = adapterForOptions(count, &target);
    if (adapter == nullptr)
        return 1;
    const ResetOption* chosen = nullptr;
    int first = 0;
    int last = kSinglePhy;
    for (uint32_t i = 1; i < count; ++i) {
        const ResetOption* option = findOption(words[i]);
        if (option == nullptr) {
            logError("Invalid/Unknown argument '%s' specified.", words[i]);
            return 1;
        }
        if (chosen != nullptr) {
            logError("Argument '%s' cannot be used with other options.", words[i]);
            return 1;
        }
        chosen = option;
        if (option->scope != PhyScope::Given)
            continue;
        if (i + 1 >= count || findOption(words[i + 1]) != nullptr) {
            logError("Argument '%s' requires mandatory Phy number.", words[i]);
            return 1;
        }
        if (parsePhyRange(words[++i], adapter->phyCount, &first, &last) != 0)
            return 1;
    }
    switch (chosen->scope) {
        case PhyScope::Controller:
            return resetController(adapter);
        case PhyScope::All:
            if (adapter->phyCount == 0) {
                logPrintLine("Reset completed successfully.");
                return 0;
            }
            return resetPhys(adapter, chosen->operation, 0, adapter->phyCount - 1);
        case PhyScope::Given:
            return resetPhys(adapter, chosen->operation, first, last == kSinglePhy ? first : last);
    }
    return 1;
}
