// Devices behind each adapter: enumeration from the SAS device pages and the
// second device list, and the device information block with its details.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "shell/bytes.h"
#include "xollib/device_details.h"
#include "xollib/xol_internal.h"

namespace {

constexpr uint32_t kDeviceRecordKind = 0x02000001;
constexpr uint32_t kDevicePageBufferSize = 56;
constexpr size_t kDevicePageHandle = 24;
constexpr uint32_t kPageAddressByHandle = 0x20000000;
constexpr uint32_t kDeviceFormatWord = 536;
constexpr uint32_t kDeviceFormatWord2 = 532;
constexpr uint16_t kProductWordMask = 0xF000;
constexpr uint16_t kProductWordDevicePages = 0x2000;
constexpr char kDeviceTextSource[] = "/proc/scsi/scsi";

uint32_t scsiRead(XolAdapterRecord* adapter, const XolDeviceRecord& device, const uint8_t* cdb,
                  uint8_t cdbLength, uint8_t* data, uint32_t length, uint32_t* received) {
    uint8_t record[kXolScsiIoRecordSize] = {};
    putLe32(record, 0, kXolScsiIoRecordSize);
    record[kScsiIoRecordCdbLength] = cdbLength;
    std::memcpy(record + kScsiIoRecordCdb, cdb, cdbLength);
    putLe32(record, kScsiIoRecordDataLength, length);
    putLe64(record, kScsiIoRecordData, reinterpret_cast<uintptr_t>(data));
    const uint32_t handle = device.handle;
    const uint32_t status = XolLib2ScsiIoPassthrough(&adapter->handle, &handle, record);
    *received = getLe32(record, kScsiIoRecordTransferCount);
    return status;
}

uint32_t inquiry(XolAdapterRecord* adapter, const XolDeviceRecord& device, bool evpd, uint8_t page,
                 uint8_t* data, uint32_t* received) {
    const uint8_t cdb[6] = {0x12, static_cast<uint8_t>(evpd ? 1 : 0),           page,
                            0,    static_cast<uint8_t>(kDeviceInfoInquirySize), 0};
    return scsiRead(adapter, device, cdb, sizeof cdb, data, kDeviceInfoInquirySize, received);
}

uint64_t blocksFrom(uint64_t lastLba) {
    return lastLba == UINT64_MAX ? UINT64_MAX : lastLba + 1;
}

// Capacity in blocks and bytes of a direct-access device; optional: a disk
// that does not answer keeps zeros.
void readCapacity(XolAdapterRecord* adapter, const XolDeviceRecord& device, uint8_t* info) {
    const uint8_t cdb10[10] = {0x25};
    uint8_t data[32] = {};
    uint32_t received = 0;
    uint32_t last32 = 0;
    uint32_t blockSize = 0;
    if (scsiRead(adapter, device, cdb10, sizeof cdb10, data, 8, &received) != kXolStatusSuccess ||
        !decodeReadCapacity10(data, received, &last32, &blockSize)) {
        return;
    }
    uint64_t blocks = static_cast<uint64_t>(last32) + 1;
    if (last32 == 0xFFFFFFFF) {
        const uint8_t cdb16[16] = {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0};
        uint64_t last64 = 0;
        std::memset(data, 0, sizeof data);
        if (scsiRead(adapter, device, cdb16, sizeof cdb16, data, 32, &received) !=
                kXolStatusSuccess ||
            !decodeReadCapacity16(data, received, &last64, &blockSize)) {
            return;
        }
        blocks = blocksFrom(last64);
    }
    // A device may claim any size: the product saturates instead of wrapping.
    const uint64_t bytes =
        blockSize != 0 && blocks > UINT64_MAX / blockSize ? UINT64_MAX : blocks * blockSize;
    putLe64(info, kDeviceInfoBlocks, blocks);
    putLe32(info, kDeviceInfoBlockSize, blockSize);
    putLe64(info, kDeviceInfoCapacity, bytes);
}

// Rotation rate and form factor when the device lists page 0xB1.
void readRotation(XolAdapterRecord* adapter, const XolDeviceRecord& device, uint8_t* info) {
    uint8_t data[kDeviceInfoInquirySize] = {};
    uint32_t received = 0;
    if (inquiry(adapter, device, true, 0x00, data, &received) != kXolStatusSuccess ||
        !vpdPageListed(data, received, 0xB1)) {
        return;
    }
    std::memset(data, 0, sizeof data);
    uint16_t rate = 0;
    uint8_t formFactor = 0;
    if (inquiry(adapter, device, true, 0xB1, data, &received) != kXolStatusSuccess ||
        !decodeBlockCharacteristics(data, received, &rate, &formFactor)) {
        return;
    }
    putLe16(info, kDeviceInfoRotationRate, rate);
    putLe32(info, kDeviceInfoNonRotating, rate == 1 ? 1 : 0);
    info[kDeviceInfoFormFactor] = formFactor;
}

// Fills the details of `info` from the device page and the device itself.
// The device page and the standard INQUIRY are required; serial, capacity
// and rotation are optional.
uint32_t fillDetails(XolAdapterRecord* adapter, const XolDeviceRecord& device, uint8_t* info,
                     uint32_t* deviceType) {
    if ((getLe16(adapter->iocFacts, kIocFactsProductWord) & kProductWordMask) ==
        kProductWordDevicePages) {
        uint8_t page[kDevicePageBufferSize] = {};
        uint32_t received = 0;
        if (const uint32_t status = readDevicePageByHandle(
                adapter, device.secondList, device.devHandle, page, sizeof page, &received);
            status != kXolStatusSuccess) {
            return status;
        }
        DevicePageFields fields = {};
        if (!decodeDevicePage(page, received, device.secondList, &fields))
            return kXolStatusFailure;
        putLe64(info, kDeviceInfoSasAddress, fields.sasAddress);
        putLe16(info, kDeviceInfoEnclosureHandle, fields.enclosureHandle);
        putLe16(info, kDeviceInfoSlot, fields.slot);
        info[kDeviceInfoPort] = fields.port;
        putLe32(info, kDeviceInfoAttachment, fields.attachment);
    }

    uint8_t data[kDeviceInfoInquirySize] = {};
    uint32_t received = 0;
    const uint32_t status = inquiry(adapter, device, false, 0, data, &received);
    // Vendor, product and revision end at byte 36: a shorter answer is no
    // identification.
    if (status != kXolStatusSuccess || received < 36) {
        const XolContext* context = xolContext();
        if (context != nullptr && (context->options & kXolOptionFlashAccelerator) != 0 &&
            adapter->flashAccelerator) {
            return kXolStatusSuccess;
        }
        return status != kXolStatusSuccess ? status : kXolStatusFailure;
    }
    std::memset(info + kDeviceInfoInquiry, 0, kDeviceInfoInquirySize);
    std::memcpy(info + kDeviceInfoInquiry, data, received);
    *deviceType = inquiryDeviceType(data, received);
    putLe32(info, kDeviceInfoDeviceType, *deviceType);

    std::memset(data, 0, sizeof data);
    char serial[kSerialTextCapacity];
    uint32_t serialLength = 0;
    if (inquiry(adapter, device, true, 0x80, data, &received) == kXolStatusSuccess &&
        decodeUnitSerial(data, received, serial, &serialLength)) {
        std::memset(info + kDeviceInfoSerial, 0, kDeviceInfoSerialSize);
        std::memcpy(info + kDeviceInfoSerial, serial, serialLength);
        putLe32(info, kDeviceInfoSerialLength, serialLength);
    }
    if (*deviceType == 0)
        readCapacity(adapter, device, info);
    readRotation(adapter, device, info);
    return kXolStatusSuccess;
}

void removeDevice(XolAdapterRecord* adapter, XolDeviceRecord* victim) {
    std::unique_ptr<XolDeviceRecord>* link = &adapter->devices;
    XolDeviceRecord* previous = nullptr;
    while (*link && link->get() != victim) {
        previous = link->get();
        link = &(*link)->next;
    }
    if (!*link)
        return;
    adapter->cursorDevice = nullptr;
    rememberDevice(nullptr, nullptr);
    std::unique_ptr<XolDeviceRecord> removed = std::move(*link);
    *link = std::move(removed->next);
    if (adapter->deviceTail == victim)
        adapter->deviceTail = previous;
    --adapter->deviceCount;
}

uint32_t addDevice(XolAdapterRecord* adapter, const DevicePageFields& fields, bool secondList) {
    XolContext* context = xolContext();
    if (context == nullptr)
        return kXolStatusFailure;
    uint16_t devHandle = fields.devHandle;
    uint32_t targetId = 0xFFFFFFFF;
    uint32_t bus = 0xFFFFFFFF;
    if (mapDeviceRequest(*adapter, &devHandle, &targetId, &bus) != kXolStatusSuccess)
        return kXolStatusSuccess;  // the driver has no target for it: not listed
    std::unique_ptr<XolDeviceRecord> owned(new (std::nothrow) XolDeviceRecord());
    if (!owned)
        return kXolStatusNoMemory;
    XolDeviceRecord* device = owned.get();
    device->handle = kXolDeviceHandleKind | (context->nextHandle++ & ~kXolHandleKindMask);
    device->kind = kDeviceRecordKind;
    device->iocNumber = adapter->iocNumber;
    device->secondList = secondList;
    device->bus = bus;
    device->targetId = targetId;
    device->devHandle = fields.devHandle;
    uint8_t* info = device->info;
    putLe32(info, kDeviceInfoHandle, device->handle);
    putLe32(info, kDeviceInfoInterface, interfaceKindOf(fields.deviceInfo));
    putLe32(info, kDeviceInfoBus, bus);
    putLe32(info, kDeviceInfoTargetId, targetId);
    putLe16(info, kDeviceInfoDevHandle, fields.devHandle);
    putLe32(info, kDeviceInfoDeviceType, kXolUnknownDeviceType);
    adapter->cursorDevice = nullptr;
    if (adapter->deviceTail == nullptr)
        adapter->devices = std::move(owned);
    else
        adapter->deviceTail->next = std::move(owned);
    adapter->deviceTail = device;
    ++adapter->deviceCount;
    rememberDevice(device, adapter);

    uint32_t type = kXolUnknownDeviceType;
    if (fillDetails(adapter, *device, info, &type) != kXolStatusSuccess) {
        removeDevice(adapter, device);  // unreadable devices are left out quietly
        return kXolStatusSuccess;
    }
    device->deviceType = type;
    device->detailsValid = true;
    return kXolStatusSuccess;
}

struct WalkState {
    XolAdapterRecord* adapter;
    bool secondList;
    uint32_t addStatus;
};

uint32_t visitDevicePage(void* context, const uint8_t* page, uint32_t size) {
    auto* state = static_cast<WalkState*>(context);
    DevicePageFields fields = {};
    if (!decodeDevicePage(page, size, state->secondList, &fields))
        return kXolStatusSuccess;
    const bool listed = state->secondList
                            ? isListedSecondDevice(fields.deviceInfo, fields.accessStatus)
                            : isListedSasDevice(fields.deviceInfo, fields.accessStatus);
    if (!listed)
        return kXolStatusSuccess;
    state->addStatus = addDevice(state->adapter, fields, state->secondList);
    return state->addStatus;
}

// Phy power-management details of a SAS device; reads that fail leave zeros.
void readPowerDetails(XolAdapterRecord* adapter, const XolDeviceRecord& device, uint8_t* info) {
    uint8_t page[kDevicePageBufferSize] = {};
    uint32_t received = 0;
    DevicePageFields fields = {};
    if (readDevicePageByHandle(adapter, false, device.devHandle, page, sizeof page, &received) !=
            kXolStatusSuccess ||
        !decodeDevicePage(page, received, false, &fields)) {
        return;
    }
    putLe32(info, kDeviceInfoFlag1000, (fields.flags & 0x1000) != 0 ? 1 : 0);
    putLe32(info, kDeviceInfoFlag0800, (fields.flags & 0x0800) != 0 ? 1 : 0);
    uint8_t phyPage[64] = {};
    uint32_t size = sizeof phyPage;
    if (XolLib2ReadSasPhyPage0(&adapter->handle, kPageFormNext, fields.phy, phyPage, &size,
                               kPageSelectorCurrent) == kXolStatusSuccess &&
        size >= 28) {
        putLe32(info, kDeviceInfoPhyState, phyStateCode(getLe32(phyPage, 24)));
    }
    ByteBuffer page5;
    if (!page5.allocate(4096))
        return;
    size = static_cast<uint32_t>(page5.size());
    if (XolLib2ReadSasIoUnitPage5(&adapter->handle, page5.data(), &size, kPageSelectorNvram) ==
        kXolStatusSuccess) {
        putLe32(info, kDeviceInfoPowerValid, 1);
    }
}

// The start of the kernel's SCSI device list. A system without the file
// gives an empty text; a link or an unreadable file is a failure.
uint32_t readDeviceText(uint8_t* text) {
    std::memset(text, 0, kDeviceInfoTextSize);
    const int fd = ::open(kDeviceTextSource, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? kXolStatusSuccess : kXolStatusFailure;
    size_t total = 0;
    uint32_t status = kXolStatusSuccess;
    while (total < kDeviceInfoTextSize - 1) {
        const ssize_t n = ::read(fd, text + total, kDeviceInfoTextSize - 1 - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            status = kXolStatusFailure;
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
    ::close(fd);
    text[total] = 0;
    return status;
}

uint32_t firstAccess(XolAdapterRecord* adapter, XolDeviceRecord* device) {
    uint8_t* info = device->info;
    putLe32(info, kDeviceInfoHandle, device->handle);
    putLe32(info, kDeviceInfoFormat, kDeviceFormatWord);
    putLe32(info, kDeviceInfoBus, device->bus);
    putLe32(info, kDeviceInfoTargetId, device->targetId);
    info[kDeviceInfoLun] = device->lun;
    if (device->secondList)
        putLe32(info, kDeviceInfoPowerValid, 0);
    else
        readPowerDetails(adapter, *device, info);
    // A refresh that fails keeps what enumeration found: one flaky drive
    // must not take the device out of a listing.
    ByteBuffer refreshed;
    if (refreshed.allocate(kXolDeviceInfoSize)) {
        std::memcpy(refreshed.data(), info, kXolDeviceInfoSize);
        uint32_t type = device->deviceType;
        if (fillDetails(adapter, *device, refreshed.data(), &type) == kXolStatusSuccess) {
            std::memcpy(info, refreshed.data(), kXolDeviceInfoSize);
            device->deviceType = type;
        }
    }
    putLe32(info, kDeviceInfoFormat2, kDeviceFormatWord2);
    if (device->deviceType != kXolUnknownDeviceType) {
        if (const uint32_t status = readDeviceText(info + kDeviceInfoText);
            status != kXolStatusSuccess) {
            return status;
        }
    } else {
        putLe32(info, kDeviceInfoUnknownType, 1);
        std::memset(info + kDeviceInfoText, 0, kDeviceInfoTextSize);
        std::snprintf(reinterpret_cast<char*>(info + kDeviceInfoText), kDeviceInfoTextSize, "%s",
                      "Unknown device type");
    }
    device->blockFilled = true;
    return kXolStatusSuccess;
}

}  // namespace

// ------------------------------------------------------------ shared services

uint32_t lookupAdapterDevice(const uint32_t* device, const XolAdapterRecord* adapter,
                             XolDeviceRecord** record) {
    XolAdapterRecord* owner = nullptr;
    if (const uint32_t status = lookupDevice(device, record, &owner); status != kXolStatusSuccess)
        return status;
    return owner == adapter ? kXolStatusSuccess : kXolStatusBadHandle;
}

uint32_t mapDeviceRequest(const XolAdapterRecord& adapter, uint16_t* devHandle, uint32_t* targetId,
                          uint32_t* bus) {
    uint8_t request[kMapHandleSize] = {};
    putLe32(request, kIoctlHeaderIocNumber, adapter.iocNumber);
    putLe32(request, kIoctlHeaderMaxDataSize, kMapHandleSize);
    putLe32(request, kMapHandleTargetId, *targetId);
    putLe32(request, kMapHandleBus, *bus);
    putLe16(request, kMapHandleDevHandle, *devHandle);
    const uint32_t status = issueAdapterIoctl(adapter, kXolIoctlMapHandle, request);
    if (status != kXolStatusSuccess)
        return status;
    *targetId = getLe32(request, kMapHandleTargetId);
    *bus = getLe32(request, kMapHandleBus);
    *devHandle = getLe16(request, kMapHandleDevHandle);
    return kXolStatusSuccess;
}

// Device page 0 of one device by its controller handle; *received is what
// the page and the buffer both cover.
uint32_t readDevicePageByHandle(XolAdapterRecord* adapter, bool secondList, uint16_t devHandle,
                                uint8_t* page, uint32_t capacity, uint32_t* received) {
    uint32_t size = capacity;
    const uint32_t status =
        XolLib2ReadConfigPage(&adapter->handle, kPageAddressByHandle | devHandle, kPageTypeExtended,
                              0, secondList ? kExtPageTypeSecondDeviceList : kExtPageTypeSasDevice,
                              kPageSelectorCurrent, page, &size);
    *received = size < capacity ? size : capacity;
    return status;
}

// One SCSI command with data from the device into `data`.

// ------------------------------------------------------------ device list

void rememberDevice(XolDeviceRecord* device, XolAdapterRecord* adapter) {
    XolContext* context = xolContext();
    if (context == nullptr)
        return;
    context->lastDevice = device;
    context->lastDeviceAdapter = device != nullptr ? adapter : nullptr;
}

uint32_t lookupDevice(const uint32_t* handle, XolDeviceRecord** device,
                      XolAdapterRecord** adapter) {
    if (handle == nullptr || (*handle & kXolHandleKindMask) != kXolDeviceHandleKind)
        return kXolStatusBadHandle;
    XolContext* context = xolContext();
    if (context == nullptr)
        return kXolStatusBadHandle;
    if (context->lastDevice != nullptr && context->lastDevice->handle == *handle) {
        *device = context->lastDevice;
        if (adapter != nullptr)
            *adapter = context->lastDeviceAdapter;
        return kXolStatusSuccess;
    }
    for (XolAdapterRecord* a = context->adapters.get(); a != nullptr; a = a->next.get()) {
        for (XolDeviceRecord* d = a->devices.get(); d != nullptr; d = d->next.get()) {
            if (d->handle == *handle) {
                *device = d;
                if (adapter != nullptr)
                    *adapter = a;
                rememberDevice(d, a);
                return kXolStatusSuccess;
            }
        }
    }
    return kXolStatusBadHandle;
}

void releaseDevices(XolAdapterRecord* adapter) {
    // Iteratively, so that a long list cannot exhaust the stack.
    std::unique_ptr<XolDeviceRecord> device = std::move(adapter->devices);
    while (device)
        device = std::move(device->next);
    adapter->deviceTail = nullptr;
    adapter->deviceCount = 0;
    adapter->cursorDevice = nullptr;
    rememberDevice(nullptr, nullptr);
}

uint32_t enumerateDevices(XolAdapterRecord* adapter) {
    WalkState state = {adapter, false, kXolStatusSuccess};
    const uint32_t status =
        XolLib2WalkPages(&adapter->handle, kPageTypeExtended, kExtPageTypeSasDevice,
                         kDevicePageBufferSize, kDevicePageHandle, visitDevicePage, &state);
    if (status != kXolStatusSuccess)
        return status;
    state = {adapter, true, kXolStatusSuccess};
    XolLib2WalkPages(&adapter->handle, kPageTypeExtended, kExtPageTypeSecondDeviceList,
                     kDevicePageBufferSize, kDevicePageHandle, visitDevicePage, &state);
    return state.addStatus;
}

uint32_t XolLib2GetDeviceCount(const uint32_t* adapterHandle, uint32_t* count) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(adapterHandle, &adapter); status != kXolStatusSuccess)
        return status;
    if (count == nullptr)
        return kXolStatusInvalidArgument;
    *count = adapter->deviceCount;
    return kXolStatusSuccess;
}

uint32_t XolLib2GetDeviceInfo(uint32_t index, const uint32_t* adapterHandle,
                              const uint32_t* deviceHandle, uint8_t* info, uint32_t* size) {
    if (info == nullptr || size == nullptr)
        return kXolStatusInvalidArgument;
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(adapterHandle, &adapter); status != kXolStatusSuccess)
        return status;
    XolDeviceRecord* device = nullptr;
    if (deviceHandle != nullptr) {
        if (const uint32_t status = lookupAdapterDevice(deviceHandle, adapter, &device);
            status != kXolStatusSuccess) {
            return status;
        }
    } else {
        if (index >= adapter->deviceCount)
            return kXolStatusBadHandle;
        // Listings ask for 0, 1, 2...: each step goes on from the last one.
        uint32_t at = 0;
        device = adapter->devices.get();
        if (adapter->cursorDevice != nullptr && adapter->cursorIndex <= index) {
            device = adapter->cursorDevice;
            at = adapter->cursorIndex;
        }
        for (; at < index && device != nullptr; ++at)
            device = device->next.get();
        if (device == nullptr)
            return kXolStatusFailure;
        adapter->cursorDevice = device;
        adapter->cursorIndex = index;
        rememberDevice(device, adapter);
    }
    if (!device->blockFilled) {
        if (const uint32_t status = firstAccess(adapter, device); status != kXolStatusSuccess)
            return status;
    }
    const uint32_t copied = *size < kXolDeviceInfoSize ? *size : kXolDeviceInfoSize;
    std::memcpy(info, device->info, copied);
    *size = copied;
    return kXolStatusSuccess;
}

uint32_t XolLib2RediscoverDevices(const uint32_t* adapterHandle) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(adapterHandle, &adapter); status != kXolStatusSuccess)
        return status;
    releaseDevices(adapter);
    const XolContext* context = xolContext();
    if (context != nullptr && (context->options & kXolOptionNoDeviceScan) != 0)
        return kXolStatusSuccess;
    return enumerateDevices(adapter);
}
