#include "expander/parent_hba.h"
#include "expander/scan.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kEnclosurePageSize = 40;
constexpr uint32_t kEnclosureHandle = 22;

uint32_t printEnclosure(void* /*context*/, const uint8_t* page, uint32_t size) {
    EnclosureInfo info;
    if (!decodeEnclosurePage(page, size, &info))
        return kXolStatusFailure;
    logPrintLine("%-20s : %d", "EnclosureHandle", info.handle);
    logPrintLine("%-20s : 0x%08x%08x", "Logical ID", info.logicalIdHigh, info.logicalIdLow);
    logPrintLine("%-20s : %d", "StartSlot", info.startSlot);
    logPrintLine("%-20s : %d", "NumSlots", info.slots);
    logPrintLine("%-20s : %d", "SEP Handle", info.sepHandle);
    logPrintLine("%-20s : %d", "Enclosure Level", info.level);
    logPrintLine("");
    return 0;
}

}  // namespace

uint32_t expanderEnclCommand(uint32_t count, char** words) {
    Target* hba = nullptr;
    if (findParentHba(count, words, &hba) != 0)
        return 1;
    // The walk ends at the controller's "no further page" (258) and at an
    // enclosure handle it already gave, so each enclosure prints once.
    const uint32_t status =
        XolLib2WalkPages(&adapterOf(hba)->adapterHandle, kPageTypeExtended, kExtPageTypeEnclosure,
                         kEnclosurePageSize, kEnclosureHandle, printEnclosure, nullptr);
    if (status == kXolStatusNoMemory) {
        logError("Not able to allocate memory for SAS Enclosure Page 0. \n");
        return 1;
    }
    if (status != kXolStatusSuccess) {
        logError("Failure reading SAS Enclosure Page 0 \n");
        return 1;
    }
    return 0;
}

uint32_t expanderEnclUsage() {
    logPrintLine("Enclosure Information Command:");
    logPrintLine("To display the enclosure information");
    logPrintLine("Example : encl");
    return 0;
}
