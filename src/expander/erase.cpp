#include "expander/erase.h"

#include <cstring>

#include "expander/expander_access.h"
#include "expander/region_transfer.h"
#include "shell/confirm.h"
#include "shell/logger.h"
#include "shell/prompt.h"
#include "targets/expander_device.h"

namespace {

constexpr uint32_t kFlashPauseMs = 2000;
constexpr uint32_t kLogsPauseMs = 4000;
constexpr uint8_t kRegionLog1 = 0x86;
constexpr uint8_t kRegionLog2 = 0x87;

enum EraseOption : uint32_t { kFlash = 1, kLogs = 2 };

struct EraseRow {
    const char* name;
    uint32_t id;  // 3..12 erase region id + 125 alone
};

constexpr EraseRow kEraseOptions[] = {
    {"-flash", kFlash}, {"-logs", kLogs}, {"-boot", 3},     {"-active", 4},
    {"-backup", 5},     {"-mfg", 6},      {"-persist1", 7}, {"-persist2", 8},
    {"-log1", 9},       {"-log2", 10},    {"-oem1", 11},    {"-oem2", 12},
};

uint8_t singleRegion(uint32_t id) {
    return static_cast<uint8_t>(id + 125);
}

// Fills a region's whole capacity with 0xFF. An empty region is refused:
// its descriptor holds no capacity to erase.
uint32_t eraseRegion(Target* target, uint8_t bufferId) {
    uint32_t descriptor = 0;
    if (readBufferDescriptor(target, bufferId, &descriptor) != 0)
        return 1;
    if (descriptorIsEmpty(descriptor)) {
        logError("Specified region seems to be empty.");
        return 1;
    }
    return writeRegion(target, bufferId, nullptr, descriptorCapacity(descriptor), kWriteModeErase);
}

uint32_t eraseLogs(Target* target) {
    logPrintLine("\nExecuting Operation : Erase Logs\n ");
    if (eraseRegion(target, kRegionLog1) != 0) {
        logError("Error in erasing Log 1 region.");
        return 1;
    }
    logPrintLine("Log 1 region erased successfully.");
    sleepMilliseconds(kLogsPauseMs);
    if (eraseRegion(target, kRegionLog2) != 0) {
        logError("Error in erasing Log 2 region.");
        return 1;
    }
    logPrintLine("Log 2 region erased successfully.");
    return 0;
}

uint32_t eraseFlash(Target* target) {
    logPrintLine("\nExecuting Operation : Erase Complete Flash\n ");
    sleepMilliseconds(kFlashPauseMs);
    for (uint32_t id = kRegionFirst; id <= kRegionLast; ++id) {
        const uint8_t region = static_cast<uint8_t>(id);
        logPrintLine("   -Erasing '%s' region.", regionName(region));
        if (eraseRegion(target, region) != 0) {
            logError("Error in erasing '%s' region.", regionName(region));
            return 1;
        }
    }
    logPrintLine("Flash erased successfully.");
    return 0;
}

uint32_t eraseSingle(Target* target, uint8_t region) {
    const char* name = regionName(region);
    logPrintLine("\nExecuting Operation : Erase %s region.\n ", name);
    if (eraseRegion(target, region) != 0)
        return 1;
    logPrintLine("%s region erased successfully.", name);
    return 0;
}

}  // namespace

uint32_t expanderEraseCommand(uint32_t count, char** words) {
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("No device selected. Select a valid device.");
        return 1;
    }
    const EraseRow* chosen = nullptr;
    uint32_t silent = 0;
    for (uint32_t i = 1; i < count; ++i) {
        if (std::strcmp(words[i], "-s") == 0) {
            ++silent;
            continue;
        }
        const EraseRow* row = nullptr;
        for (const EraseRow& candidate : kEraseOptions) {
            if (std::strcmp(words[i], candidate.name) == 0)
                row = &candidate;
        }
        if (row == nullptr) {
            logError("Invalid argument specified '%s'.", words[i]);
            return 1;
        }
        if (chosen != nullptr) {
            logPrintLine("Option '%s' cannot be invoked with any other option.", words[i]);
            return 1;
        }
        chosen = row;
    }
    if (silent > 1) {
        logError("Option '-s' cannot be used multiple times.");
        return 1;
    }
    if (chosen == nullptr) {
        logError("Region name is mandatory for erase operation.");
        return 1;
    }
    if (silent == 0) {
        const uint32_t answer = confirmYesNo("Do you want to continue to Erase(Yes/No) :");
        if (answer != kConfirmYes) {
            logPrintLine("");
            logPrintLine(" %s Erase operation aborted by user.", "");
            return answer == kConfirmNo ? 0 : 1;
        }
    }
    if (chosen->id == kFlash)
        return eraseFlash(target);
    if (chosen->id == kLogs)
        return eraseLogs(target);
    return eraseSingle(target, singleRegion(chosen->id));
}

uint32_t expanderEraseUsage() {
    logPrintLine("Erase Operation:");
    logPrintLine("The command is to erase the specified regions from the expander.");
    logPrintLine("%4s erase -<region> [-s]", "");
    logPrintLine("%10s -flash      : Erase the complete expander flash", "");
    logPrintLine("%10s -logs       : Erase the logs regions.", "");
    logPrintLine("%10s -mfg        : Erase the manufacturing pages", "");
    logPrintLine("%10s -s          : Silent erase flag and does not query", "");
    logPrintLine("Example  : erase -flash");
    return 0;
}
