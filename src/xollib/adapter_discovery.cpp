// Adapter discovery over the control nodes, the board-name filter and the
// adapter information block with its BIOS version and IO Unit page 7 fields.
#include <cstdio>
#include <cstring>
#include <new>

#include "shell/bytes.h"
#include "xollib/xol_internal.h"

namespace {

constexpr uint32_t kLastIocNumber = 254;
constexpr uint32_t kAdapterRecordKind = 0x01000001;

struct ControlNodeRule {
    const char* path;
    // With restricted discovery the node is opened only when the option word
    // holds every bit of `allOf` and at least one of `anyOf` (0: no rule).
    uint32_t allOf;
    uint32_t anyOf;
};

const ControlNodeRule kControlNodes[] = {
    {"/dev/xol2ctl_wd", 0, 0},
    {"/dev/xol2ctl", 0, kXolOptionFirstGeneration | kXolOptionFlashAccelerator},
    {"/dev/ovsactl", kXolOptionOtherVendor, 0},
    {"/dev/xol3ctl", kXolOptionSecondGeneration | kXolOptionNewestGeneration, 0},
};

bool nodeAllowed(const ControlNodeRule& rule, uint32_t options) {
    if ((options & kXolOptionRestrict) == 0)
        return true;
    if ((options & rule.allOf) != rule.allOf)
        return false;
    return rule.anyOf == 0 || (options & rule.anyOf) != 0;
}

bool chipAccepted(uint16_t deviceId, uint32_t options) {
    if ((options & kXolOptionRestrict) == 0)
        return true;
    const XolChipRow* row = findChipRow(deviceId);
    return row == nullptr || (options & row->optionBits) != 0;
}

void copyText(uint8_t* info, size_t offset, size_t capacity, const char* text) {
    std::memset(info + offset, 0, capacity);
    std::snprintf(reinterpret_cast<char*>(info + offset), capacity, "%s", text);
}

// Appends a zeroed record at the tail; nullptr when memory ran out.
XolAdapterRecord* appendAdapter(XolContext* context) {
    std::unique_ptr<XolAdapterRecord> record(new (std::nothrow) XolAdapterRecord());
    if (!record)
        return nullptr;
    XolAdapterRecord* raw = record.get();
    if (context->tail == nullptr) {
        context->adapters = std::move(record);
    } else {
        context->tail->next = std::move(record);
    }
    context->tail = raw;
    ++context->adapterCount;
    return raw;
}

void removeAdapter(XolContext* context, XolAdapterRecord* victim) {
    std::unique_ptr<XolAdapterRecord>* link = &context->adapters;
    XolAdapterRecord* previous = nullptr;
    while (*link && link->get() != victim) {
        previous = link->get();
        link = &(*link)->next;
    }
    if (!*link)
        return;
    std::unique_ptr<XolAdapterRecord> removed = std::move(*link);
    *link = std::move(removed->next);
    if (context->tail == victim)
        context->tail = previous;
    --context->adapterCount;
}

void readIocFactsAtDiscovery(XolAdapterRecord* adapter) {
    uint8_t facts[kXolIocFactsReplySize] = {};
    uint32_t length = sizeof facts;
    if (XolLib2GetIocFacts(&adapter->handle, facts, &length, nullptr) != kXolStatusSuccess) {
        return;
    }
    std::memcpy(adapter->iocFacts, facts, sizeof facts);
    adapter->infoValid = true;
    adapter->xif25Frames = false;
    adapter->newFamily = false;
    if (const XolChipRow* row = findChipRow(adapter->deviceId)) {
        adapter->xif25Frames = row->xif25Frames;
        adapter->newFamily = row->newFamily;
    }
}

uint32_t probeNode(XolContext* context, const char* path) {
    uint32_t status = kXolStatusFailure;
    const ControlNodeDescriptor node(path);
    if (!node.isOpen())
        return status;
    for (uint32_t ioc = 0; ioc <= kLastIocNumber; ++ioc) {
        uint8_t info[kIocInfoSize] = {};
        putLe32(info, kIoctlHeaderIocNumber, ioc);
        putLe32(info, kIoctlHeaderMaxDataSize, kIocInfoSize);
        if (node.ioctl(kXolIoctlAdapterInfo, info) != 0)
            continue;
        const auto deviceId = static_cast<uint16_t>(getLe32(info, kIocInfoDeviceId));
        if (!chipAccepted(deviceId, context->options))
            continue;
        XolAdapterRecord* adapter = appendAdapter(context);
        if (adapter == nullptr) {
            status = kXolStatusNoMemory;
            continue;
        }
        adapter->handle = kXolAdapterHandleKind + context->nextHandle++;
        adapter->kind = kAdapterRecordKind;
        adapter->iocNumber = ioc;
        std::snprintf(adapter->nodePath, sizeof adapter->nodePath, "%s", path);
        fillAdapterInfo(adapter, info);
        readIocFactsAtDiscovery(adapter);
    }
    return status;
}

// Drops the shared first-generation chip when its board is not ours.
void runBoardNameFilter(XolContext* context) {
    XolAdapterRecord* adapter = context->adapters.get();
    while (adapter != nullptr) {
        XolAdapterRecord* next = adapter->next.get();
        if (adapter->deviceId == kXolBoardFilterDeviceId) {
            uint32_t size = 0;
            ByteBuffer page;
            if (XolLib2ReadManufacturingPage0(&adapter->handle, nullptr, &size,
                                              kPageSelectorSize) == kXolStatusSuccess &&
                size >= 8 && page.allocate(size) &&
                XolLib2ReadManufacturingPage0(&adapter->handle, page.data(), &size,
                                              kPageSelectorCurrent) == kXolStatusSuccess &&
                std::memcmp(page.data() + 4, kXolBoardFilterModel, 4) != 0) {
                removeAdapter(context, adapter);
            }
        }
        adapter = next;
    }
}

// IO Unit page 7 fields copied into the information block.
struct Page7Field {
    size_t pageOffset;
    size_t infoOffset;
    size_t length;
};
const Page7Field kPage7Fields[] = {
    {6, kAdapterInfoPcieWidth, 1},         {7, kAdapterInfoPcieSpeed, 1},
    {8, kAdapterInfoProcessorState, 4},    {16, kAdapterInfoIocTemperature, 2},
    {18, kAdapterInfoTemperatureUnits, 1}, {19, kAdapterInfoIocSpeed, 1},
};

void refreshFromIoUnitPage7(XolAdapterRecord* adapter) {
    uint32_t size = 0;
    if (XolLib2ReadIoUnitPage7(&adapter->handle, nullptr, &size, kPageSelectorSize) !=
        kXolStatusSuccess) {
        return;
    }
    ByteBuffer page;
    if (size == 0 || !page.allocate(size))
        return;
    if (XolLib2ReadIoUnitPage7(&adapter->handle, page.data(), &size, kPageSelectorCurrent) !=
        kXolStatusSuccess) {
        return;
    }
    for (const auto& field : kPage7Fields) {
        if (field.pageOffset + field.length > page.size())
            continue;
        std::memcpy(adapter->adapterInfo + field.infoOffset, page.data() + field.pageOffset,
                    field.length);
    }
}

void refreshInvalidInfo(XolAdapterRecord* adapter) {
    putLe32(adapter->adapterInfo, kAdapterInfoHandle, adapter->handle);
    uint8_t info[kIocInfoSize] = {};
    putLe32(info, kIoctlHeaderIocNumber, adapter->iocNumber);
    putLe32(info, kIoctlHeaderMaxDataSize, kIocInfoSize);
    if (issueAdapterIoctl(*adapter, kXolIoctlAdapterInfo, info) == kXolStatusSuccess) {
        fillAdapterInfo(adapter, info);
        adapter->infoValid = true;
    }
    refreshFromIoUnitPage7(adapter);
}

uint32_t biosVersionOf(const uint32_t* handle, uint32_t* version) {
    ByteBuffer image;
    if (XolLib2ReadRegion(handle, kImageTypeBoot, &image) != kXolStatusSuccess) {
        return kXolStatusFailure;
    }
    return XolLib2BiosVersionFromImage(image.data(), image.size(), version);
}

}  // namespace

void fillAdapterInfo(XolAdapterRecord* adapter, const uint8_t* iocInfo) {
    uint8_t* info = adapter->adapterInfo;
    const auto deviceId = static_cast<uint16_t>(getLe32(iocInfo, kIocInfoDeviceId));
    const XolChipRow* chip = findChipRow(deviceId);
    const uint32_t options = xolContext() != nullptr ? xolContext()->options : 0;

    char adapterName[kAdapterInfoAdapterNameSize];
    std::snprintf(adapterName, sizeof adapterName, "SAS Host %u", adapter->iocNumber);
    copyText(info, kAdapterInfoAdapterName, kAdapterInfoAdapterNameSize, adapterName);
    copyText(info, kAdapterInfoChipName, kAdapterInfoChipNameSize,
             chip != nullptr ? chip->name : "Unknown");
    adapter->handleCopy = adapter->handle;
    putLe32(info, kAdapterInfoHandle, adapter->handle);

    struct Word {
        size_t from;
        size_t to;
    };
    static const Word kWords[] = {
        {kIocInfoAdapterType, kAdapterInfoAdapterType},
        {kIocInfoPortNumber, kAdapterInfoPortNumber},
        {kIocInfoDeviceId, kAdapterInfoDeviceId},
        {kIocInfoRevision, kAdapterInfoRevision},
        {kIocInfoSubsystemDeviceId, kAdapterInfoSubsystemDeviceId},
        {kIocInfoSubsystemVendorId, kAdapterInfoSubsystemVendorId},
        {kIocInfoReserved, kAdapterInfoReserved},
        {kIocInfoFirmwareVersion, kAdapterInfoFirmwareVersion},
        {kIocInfoPciLocation, kAdapterInfoPciLocation},
    };
    for (const auto& word : kWords)
        putLe32(info, word.to, getLe32(iocInfo, word.from));
    info[kAdapterInfoScsiId] = iocInfo[kIocInfoScsiId];
    std::memcpy(info + kAdapterInfoDriverVersion, iocInfo + kIocInfoDriverVersion,
                kAdapterInfoDriverVersionSize);
    // The driver's text need not be terminated.
    info[kAdapterInfoDriverVersion + kAdapterInfoDriverVersionSize - 1] = 0;

    adapter->deviceId = deviceId;
    adapter->subsystemDeviceId = static_cast<uint16_t>(getLe32(iocInfo, kIocInfoSubsystemDeviceId));
    adapter->subsystemVendorId = static_cast<uint16_t>(getLe32(iocInfo, kIocInfoSubsystemVendorId));
    adapter->vendorId = (options & kXolOptionOtherVendor) != 0 ? kXolOtherVendorId : kXolVendorId;
    adapter->pciLocation = getLe32(iocInfo, kIocInfoPciLocation);
    adapter->flashAccelerator = chip != nullptr && chip->flashAccelerator;
}

uint32_t XolLib2DiscoverAdapters(uint32_t* adapterCount, uint32_t options) {
    XolContext* context = xolContext();
    if (context == nullptr) {
        if (adapterCount != nullptr)
            *adapterCount = 0;
        return kXolStatusFailure;
    }
    context->options = options;
    if (context->adapterCount != 0) {
        if (adapterCount != nullptr)
            *adapterCount = context->adapterCount;
        return kXolStatusSuccess;
    }
    rememberDevice(nullptr, nullptr);
    context->adapters.reset();
    context->tail = nullptr;
    context->adapterCount = 0;
    context->nextHandle = 1;
    uint32_t status = kXolStatusFailure;
    for (const auto& rule : kControlNodes) {
        if (!nodeAllowed(rule, options))
            continue;
        if (probeNode(context, rule.path) == kXolStatusNoMemory)
            status = kXolStatusNoMemory;
    }
    if ((options & kXolOptionFlashAccelerator) != 0)
        runBoardNameFilter(context);
    // One adapter whose device pages fail must not hide the others: with
    // adapters found the answer is 0 and each keeps the devices it yielded
    // (rediscovery reports such a failure).
    for (XolAdapterRecord* a = context->adapters.get(); a != nullptr; a = a->next.get()) {
        if ((options & kXolOptionNoDeviceScan) == 0)
            enumerateDevices(a);
        status = kXolStatusSuccess;
    }
    if (adapterCount != nullptr)
        *adapterCount = context->adapterCount;
    return status;
}

uint32_t XolLib2GetAdapterInfo(uint32_t index, const uint32_t* handle, uint8_t* info,
                               uint32_t* size) {
    if (info == nullptr)
        return kXolStatusInvalidArgument;
    XolAdapterRecord* adapter = nullptr;
    if (handle == nullptr) {
        XolContext* context = xolContext();
        if (context == nullptr || index >= context->adapterCount) {
            return kXolStatusIndexOutOfRange;
        }
        adapter = context->adapters.get();
        for (uint32_t i = 0; i < index && adapter != nullptr; ++i)
            adapter = adapter->next.get();
        if (adapter == nullptr)
            return kXolStatusFailure;
    } else if (const uint32_t status = lookupAdapter(handle, &adapter);
               status != kXolStatusSuccess) {
        return status;
    }
    if (!adapter->infoValid)
        refreshInvalidInfo(adapter);
    uint32_t version = 0;
    if (biosVersionOf(&adapter->handle, &version) == kXolStatusSuccess) {
        putLe32(adapter->adapterInfo, kAdapterInfoBiosVersion, version);
    }
    std::memcpy(info, adapter->adapterInfo, kXolAdapterInfoSize);
    if (size != nullptr)
        *size = kXolAdapterInfoSize;
    return kXolStatusSuccess;
}
