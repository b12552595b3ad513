#include "targets/hba_discovery.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "shell/bytes.h"
#include "shell/command.h"
#include "shell/logger.h"
#include "shell/node_access.h"
#include "shell/options.h"
#include "shell/parse.h"
#include "targets/adapter_record.h"
#include "targets/controller_models.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kManPage5ReadSize = 32;
constexpr size_t kManPage5PhyCount = 4;
constexpr size_t kManPage5Wwid = 16;

[[noreturn]] void endWithLibraryStatus(uint32_t status) {
    terminate(kExitLibraryFailure + (status & 0xFFFF));
}

// IOC Facts into the record. 0 ok; otherwise reported, and a failing IOC
// status ends the process.
uint32_t readIocFacts(AdapterRecord* record) {
    uint8_t facts[kXolIocFactsReplySize] = {};
    uint32_t length = sizeof facts;
    XolStatusInfo status = {};
    const uint32_t result = XolLib2GetIocFacts(&record->adapterHandle, facts, &length, &status);
    if (result != kXolStatusSuccess) {
        logError("IOC Facts request failure. Status - %x.", result);
        logError("Unable to read IOC Facts reply.");
        return 1;
    }
    if ((status.flags & kXolStatusFlagIocStatus) != 0) {
        logError("IOC Status failed.");
        terminate(kExitIocStatus + status.iocStatus);
    }
    std::memcpy(record->iocFacts.data(), facts, sizeof facts);
    return 0;
}

// Manufacturing page 5 (first 32 bytes). 0 ok; otherwise reported.
uint32_t readManPage5(AdapterRecord* record, uint8_t* page) {
    uint32_t size = kManPage5ReadSize;
    const uint32_t result =
        XolLib2ReadManufacturingPage5(&record->adapterHandle, page, &size, kPageSelectorCurrent);
    if (result != kXolStatusSuccess) {
        logPrintLine("Man Page 5 request failed %d.", static_cast<int>(result));
        logError("Discovery failed. Unable to get phy count.");
        return 1;
    }
    return 0;
}

void nameTarget(Target* target, const AdapterRecord& record) {
    const uint32_t deviceId = getLe32(record.adapterInfo.data(), kAdapterInfoDeviceId);
    const uint32_t revision = getLe32(record.adapterInfo.data(), kAdapterInfoRevision);
    std::memset(target->name, 0, sizeof target->name);
    target->family = 0;
    if (const ControllerModel* model = findControllerModel(deviceId, revision)) {
        std::snprintf(target->name, sizeof target->name, "%s", model->name);
        target->family = model->family;
    } else {
        char device[16];
        char rev[16];
        std::snprintf(device, sizeof device, "Dev %02X", deviceId);
        std::snprintf(rev, sizeof rev, "Rev %02X", revision);
        std::snprintf(target->name, sizeof target->name, "%s %s", device, rev);
    }
    const bool newest = target->family >= 8 && target->family <= 10;
    target->kind = newest ? TargetKind::HbaAlt : TargetKind::Hba;
}

// Builds the target of one adapter. 0 added or skipped; 1 when enumeration
// must stop (IOC Facts could not be read).
uint32_t addAdapter(uint32_t index) {
    std::unique_ptr<AdapterRecord> record(new (std::nothrow) AdapterRecord());
    if (!record || !record->adapterInfo.allocate(kXolAdapterInfoSize) ||
        !record->iocFacts.allocate(kXolIocFactsReplySize)) {
        logError("Unable to allocate memory.");
        terminate(kExitLibraryFailure);
    }
    uint32_t size = kXolAdapterInfoSize;
    const uint32_t status =
        XolLib2GetAdapterInfo(index, nullptr, record->adapterInfo.data(), &size);
    if (status != kXolStatusSuccess) {
        logError("Adapter info function failed with %x.", status);
        return 0;
    }
    record->adapterHandle = getLe32(record->adapterInfo.data(), kAdapterInfoHandle);
    record->adapterIndex = index;
    if (readIocFacts(record.get()) != 0)
        return 1;

    std::unique_ptr<Target> target(new (std::nothrow) Target());
    if (!target) {
        logError("Unable to allocate the meomroy.");
        return 0;
    }
    target->transport = TransportKind::Library;
    uint8_t page[kManPage5ReadSize] = {};
    if (readManPage5(record.get(), page) != 0)
        return 0;
    record->phyCount = page[kManPage5PhyCount];
    nameTarget(target.get(), *record);
    target->commands = kHbaCommands;
    target->device = record.get();
    if (appendTarget(target.get()) != 0) {
        logWarn("Target list is full. Adapter %u not added.", index);
        return 0;
    }
    record.release();
    target.release();
    return 0;
}

}  // namespace

AdapterRecord* adapterOf(const Target* target) {
    if (target == nullptr || target->transport != TransportKind::Library)
        return nullptr;
    return static_cast<AdapterRecord*>(target->device);
}

void initControllerLibrary() {
    uint32_t status = XolLib2Create();
    if (status != kXolStatusSuccess) {
        logError("Unable to initialize Xollib library.");
        endWithLibraryStatus(status);
    }
    XolLib2VersionRecord version = {};
    version.size = 8;
    status = XolLib2GetVersion(&version);
    if (status != kXolStatusSuccess) {
        logError("Unable to initialize library facts.");
        endWithLibraryStatus(status);
    }
}

uint32_t discoverHbaTargets() {
    uint32_t count = 0;
    const uint32_t status = XolLib2DiscoverAdapters(&count, kXolShellDiscoveryOptions);
    if (status != kXolStatusSuccess || count == 0) {
        warnPermissionDenied();
        logError("Unable to find any compatible devices in the list.");
        return 0;
    }
    for (uint32_t index = 0; index < count; ++index) {
        if (addAdapter(index) != 0)
            return 1;
    }
    return 0;
}

void printHbaRow(uint32_t i, Target* target) {
    AdapterRecord* record = adapterOf(target);
    if (record == nullptr)
        return;
    readIocFacts(record);
    uint8_t page[kManPage5ReadSize] = {};
    readManPage5(record, page);
    const uint8_t* facts = record->iocFacts.data();
    logPrintLine("%3d) %-16s %-21s %02d.%02d.%02d.%02d", static_cast<int>(i), target->name,
                 formatSasAddress(getLe64(page, kManPage5Wwid)),
                 facts[kIocFactsFirmwareVersion + 3], facts[kIocFactsFirmwareVersion + 2],
                 facts[kIocFactsFirmwareVersion + 1], facts[kIocFactsFirmwareVersion]);
}

void releaseHbaTarget(Target* target) {
    if (target == nullptr)
        return;
    delete adapterOf(target);
    delete target;
}
