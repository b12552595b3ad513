#include "expander/parent_hba.h"

#include "expander/expander_access.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/expander_device.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kExpanderPage0Size = 64;
constexpr uint32_t kExpanderPageHandle = 24;
constexpr uint32_t kExpanderPageAddressLow = 12;
constexpr uint32_t kExpanderPageAddressHigh = 16;
// Any value but 0 stops the walk; this one says the expander was found.
constexpr uint32_t kWalkFound = 0xF0;

struct Search {
    uint64_t sasAddress;
};

uint32_t visitExpanderPage(void* context, const uint8_t* page, uint32_t size) {
    const Search* search = static_cast<const Search*>(context);
    return expanderPageNames(page, size, search->sasAddress) ? kWalkFound : 0;
}

bool reportsExpander(AdapterRecord* adapter, uint64_t sasAddress) {
    Search search{sasAddress};
    return XolLib2WalkPages(&adapter->adapterHandle, kPageTypeExtended, kExtPageTypeSasExpander,
                            kExpanderPage0Size, kExpanderPageHandle, visitExpanderPage,
                            &search) == kWalkFound;
}

}  // namespace

bool expanderPageNames(const uint8_t* page, uint32_t size, uint64_t sasAddress) {
    if (page == nullptr || size < kExpanderPageAddressHigh + 4)
        return false;
    return getLe32(page, kExpanderPageAddressLow) == static_cast<uint32_t>(sasAddress) &&
           getLe32(page, kExpanderPageAddressHigh) == static_cast<uint32_t>(sasAddress >> 32);
}

bool decodeEnclosurePage(const uint8_t* page, uint32_t size, EnclosureInfo* info) {
    if (page == nullptr || size < kEnclosurePageFields)
        return false;
    info->logicalIdLow = getLe32(page, 12);
    info->logicalIdHigh = getLe32(page, 16);
    info->handle = getLe16(page, 22);
    info->slots = getLe16(page, 24);
    info->startSlot = getLe16(page, 26);
    info->level = page[29];
    info->sepHandle = getLe16(page, 30);
    return true;
}

uint32_t findParentHba(uint32_t count, char** /*words*/, Target** hba) {
    Target* expander = currentExpander();
    if (expander == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return 1;
    }
    if (count > 1) {
        logError("Invalid argument(s) specified.");
        return 1;
    }
    const uint64_t sasAddress = expanderOf(expander)->sasAddress;
    for (uint32_t i = 1; i <= targetCount(); ++i) {
        Target* candidate = targetAt(i);
        if (candidate->kind != TargetKind::Hba && candidate->kind != TargetKind::HbaAlt)
            continue;
        AdapterRecord* adapter = adapterOf(candidate);
        if (adapter == nullptr || adapter->adapterInfo.empty())
            continue;
        // An error or the end of the list means: not this HBA.
        if (reportsExpander(adapter, sasAddress)) {
            *hba = candidate;
            return 0;
        }
    }
    logError("Not able to identify the expander parent handle.");
    return 1;
}
