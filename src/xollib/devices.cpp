// Devices behind each adapter: enumeration from the SAS device pages and the
// second device list, the device information block, and the requests that act
// on phys and devices (IO unit control, task management, SMP, SATA and SCSI IO
// passthrough, locate, the driver's handle mapping).
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
constexpr uint32_t kLocateBit = 0x20000;
constexpr char kDeviceTextSource[] = "/proc/scsi/scsi";

// SCSI IO request (96 bytes) and reply (52 bytes).
constexpr uint8_t kFunctionScsiIo = 0x00;
constexpr uint32_t kScsiIoRequestSize = 96;
constexpr uint32_t kScsiIoReplySize = 52;
constexpr size_t kScsiIoDevHandle = 0;
constexpr size_t kScsiIoSenseAddress = 12;
constexpr size_t kScsiIoSenseLength = 18;
constexpr size_t kScsiIoDescriptorOffset = 20;
constexpr size_t kScsiIoDataLength = 28;
constexpr size_t kScsiIoCdbLength = 36;
constexpr size_t kScsiIoLun = 52;
constexpr size_t kScsiIoControl = 60;
constexpr size_t kScsiIoCdb = 64;
constexpr uint32_t kScsiIoControlWrite = 0x01000000;
constexpr uint32_t kScsiIoControlRead = 0x02000000;
constexpr size_t kScsiIoReplyScsiStatus = 12;
constexpr size_t kScsiIoReplyTransferCount = 20;
constexpr uint16_t kIocStatusScsiError = 0x0044;
constexpr uint16_t kIocStatusDataUnderrun = 0x0045;
constexpr uint8_t kScsiStatusGood = 0x00;
constexpr uint8_t kScsiStatusCheckCondition = 0x02;
constexpr uint8_t kScsiStatusConditionMet = 0x04;
constexpr uint8_t kSenseKeyUnitAttention = 6;
constexpr int kScsiIoTries = 3;

// IO unit control (44 bytes, reply 20).
constexpr uint8_t kFunctionIoUnitControl = 0x1B;
constexpr uint32_t kIoUnitControlRequestSize = 44;
constexpr uint32_t kIoUnitControlReplySize = 20;

// Task management (52 bytes, reply 28).
constexpr uint8_t kFunctionTaskManagement = 0x01;
constexpr uint32_t kTaskRequestSize = 52;
constexpr uint32_t kTaskReplySize = 28;

// SMP passthrough (32 bytes, reply 28).
constexpr uint8_t kFunctionSmpPassthrough = 0x1A;
constexpr uint32_t kSmpRequestSize = 32;
constexpr uint32_t kSmpReplySize = 28;
constexpr uint32_t kSmpMinimumRequest = 4;

// SATA passthrough (48 bytes, reply 48).
constexpr uint8_t kFunctionSataPassthrough = 0x1C;
constexpr uint32_t kSataRequestSize = 48;
constexpr uint32_t kSataReplySize = 48;

// Enclosure processor (32 bytes, reply 32).
constexpr uint8_t kFunctionEnclosure = 0x18;
constexpr uint32_t kEnclosureRequestSize = 32;
constexpr uint32_t kEnclosureReplySize = 32;
constexpr uint8_t kEnclosureActionWrite = 0;
constexpr uint8_t kEnclosureActionRead = 1;

bool flagged(const XolStatusInfo& status) {
    return (status.flags & kXolStatusFlagIocStatus) != 0;
}

void putStatusRecord(uint8_t* at, const XolStatusInfo& status) {
    putLe32(at, 0, status.size);
    putLe32(at, 4, status.flags);
    putLe32(at, 8, status.iocStatus);
    putLe32(at, 12, status.iocLogInfo);
}

template <typename T>
T* pointerField(const uint8_t* record, size_t offset) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(getLe64(record, offset)));
}

// The device of a handle word, which must belong to this adapter.
uint32_t deviceOfAdapter(const uint32_t* device, const XolAdapterRecord* adapter,
                         XolDeviceRecord** record) {
    XolAdapterRecord* owner = nullptr;
    if (const uint32_t status = lookupDevice(device, record, &owner); status != kXolStatusSuccess)
        return status;
    return owner == adapter ? kXolStatusSuccess : kXolStatusBadHandle;
}

uint32_t mapRequest(const XolAdapterRecord& adapter, uint16_t* devHandle, uint32_t* targetId,
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
uint32_t readDevicePage(XolAdapterRecord* adapter, bool secondList, uint16_t devHandle,
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
        if (const uint32_t status = readDevicePage(adapter, device.secondList, device.devHandle,
                                                   page, sizeof page, &received);
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
    if (mapRequest(*adapter, &devHandle, &targetId, &bus) != kXolStatusSuccess)
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
    if (readDevicePage(adapter, false, device.devHandle, page, sizeof page, &received) !=
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

bool ioUnitOperationAccepted(uint8_t operation) {
    static const uint8_t kAccepted[] = {2, 6, 7, 8, 0x0B, 0x0D, 0x10, 0x11, 0x12, 0x13};
    if (operation >= 0x80)
        return true;
    return std::memchr(kAccepted, operation, sizeof kAccepted) != nullptr;
}

bool ioUnitOperationOnDevice(uint8_t operation) {
    return operation == 0x0D || operation == 0x10 || operation == 0x11;
}

bool ioUnitOperationOnPhy(uint8_t operation) {
    return operation == 6 || operation == 7 || operation == 8;
}

uint32_t ioUnitControl(const uint32_t* adapterHandle, const uint32_t* deviceHandle,
                       uint8_t operation, uint8_t phy, XolStatusInfo* status, bool newFamily) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t s = lookupAdapter(adapterHandle, &adapter); s != kXolStatusSuccess)
        return s;
    if (adapter->newFamily != newFamily)
        return kXolStatusNotApplicable;
    XolDeviceRecord* device = nullptr;
    if (deviceHandle != nullptr) {
        if (const uint32_t s = deviceOfAdapter(deviceHandle, adapter, &device);
            s != kXolStatusSuccess) {
            return s;
        }
    }
    if (!ioUnitOperationAccepted(operation))
        return kXolStatusInvalidArgument;
    uint8_t frame[kIoUnitControlRequestSize] = {};
    frame[0] = operation;
    frame[kFrameFunction] = kFunctionIoUnitControl;
    if (ioUnitOperationOnDevice(operation)) {
        if (device == nullptr)
            return kXolStatusBadHandle;
        putLe16(frame, 4, device->devHandle);
    }
    if (ioUnitOperationOnPhy(operation))
        frame[14] = phy;
    uint8_t reply[kIoUnitControlReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter->handle, frame, sizeof frame, reply, sizeof reply);
    const uint32_t result = XolLib2Passthrough(&block);
    if (result == kXolStatusSuccess && status != nullptr)
        *status = block.status;
    return result;
}

bool taskTypeAccepted(uint8_t type) {
    return type == 1 || type == 2 || type == 3 || (type >= 5 && type <= 10);
}

// One enclosure processor request on a device's slot.
uint32_t enclosureRequest(XolAdapterRecord* adapter, uint8_t action, uint16_t enclosure,
                          uint16_t slot, uint32_t* slotStatus) {
    uint8_t frame[kEnclosureRequestSize] = {};
    frame[kFrameFunction] = kFunctionEnclosure;
    frame[4] = action;
    frame[5] = 1;  // address by enclosure handle and slot
    putLe32(frame, 12, *slotStatus);
    putLe16(frame, 28, slot);
    putLe16(frame, 30, enclosure);
    uint8_t reply[kEnclosureReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter->handle, frame, sizeof frame, reply, sizeof reply);
    const uint32_t status = XolLib2Passthrough(&block);
    if (status != kXolStatusSuccess)
        return status;
    if (flagged(block.status))
        return kXolStatusFailure;
    if (action == kEnclosureActionRead)
        *slotStatus = getLe32(reply, 20);
    return kXolStatusSuccess;
}

}  // namespace

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
        if (const uint32_t status = deviceOfAdapter(deviceHandle, adapter, &device);
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

// ------------------------------------------------------------ requests

uint32_t XolLib2IoUnitControl(const uint32_t* adapter, const uint32_t* device, uint8_t operation,
                              uint8_t phy, XolStatusInfo* status) {
    return ioUnitControl(adapter, device, operation, phy, status, false);
}

uint32_t XolLib2IoUnitControlNewFamily(const uint32_t* adapter, const uint32_t* device,
                                       uint8_t operation, uint8_t phy, XolStatusInfo* status) {
    return ioUnitControl(adapter, device, operation, phy, status, true);
}

uint32_t XolLib2TaskManagement(const uint32_t* adapterHandle, const uint32_t* deviceHandle,
                               uint32_t targetId, uint32_t bus, uint8_t lun, uint8_t taskType,
                               uint8_t messageFlags, XolStatusInfo* status, uint8_t* responseCode,
                               uint32_t* terminationCount) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t s = lookupAdapter(adapterHandle, &adapter); s != kXolStatusSuccess)
        return s;
    if (!taskTypeAccepted(taskType))
        return kXolStatusBadTaskType;
    XolDeviceRecord* device = nullptr;
    if (deviceHandle != nullptr) {
        if (const uint32_t s = deviceOfAdapter(deviceHandle, adapter, &device);
            s != kXolStatusSuccess) {
            return s;
        }
    } else {
        for (XolDeviceRecord* d = adapter->devices.get(); d != nullptr; d = d->next.get()) {
            if (d->targetId == targetId && d->bus == bus && d->lun == lun) {
                device = d;
                break;
            }
        }
        if (device == nullptr)
            return kXolStatusNoSuchDevice;
    }
    uint8_t frame[kTaskRequestSize] = {};
    putLe16(frame, 0, device->devHandle);
    frame[kFrameFunction] = kFunctionTaskManagement;
    frame[5] = taskType;
    frame[7] = messageFlags;
    if (taskType != 3)
        frame[19] = device->lun;
    uint8_t reply[kTaskReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter->handle, frame, sizeof frame, reply, sizeof reply);
    const uint32_t result = XolLib2Passthrough(&block);
    if (status != nullptr)
        *status = block.status;
    if (result == kXolStatusSuccess) {
        if (responseCode != nullptr)
            *responseCode = reply[4];
        if (terminationCount != nullptr)
            *terminationCount = getLe32(reply, 20);
    }
    return result;
}

uint32_t XolLib2SmpPassthrough(const uint32_t* adapterHandle, uint8_t* record) {
    if (record == nullptr)
        return kXolStatusInvalidArgument;
    if (getLe32(record, 0) != kXolSmpRecordSize)
        return kXolStatusWrongRecordSize;
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t s = lookupAdapter(adapterHandle, &adapter); s != kXolStatusSuccess)
        return s;
    const uint32_t requestLength = getLe16(record, kSmpRecordRequestLength);
    const uint32_t responseCapacity = getLe16(record, kSmpRecordResponseLength);
    // The record holds 1028 request bytes and 1032 response bytes: nothing
    // may point the controller past them.
    if (requestLength < kSmpMinimumRequest || requestLength > kXolSmpMaxResponse ||
        responseCapacity > kXolSmpMaxResponse) {
        return kXolStatusInvalidArgument;
    }
    ByteBuffer out;
    ByteBuffer in;
    if (!out.allocate(requestLength) || !in.allocate(responseCapacity))
        return kXolStatusNoMemory;
    const uint32_t outLength = requestLength - kSmpMinimumRequest;
    std::memcpy(out.data(), record + kSmpRecordRequest, outLength);
    uint8_t frame[kSmpRequestSize] = {};
    frame[1] = 0xFF;
    frame[kFrameFunction] = kFunctionSmpPassthrough;
    putLe64(frame, 16, getLe64(record, kSmpRecordSasAddress));
    uint8_t reply[kSmpReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter->handle, frame, sizeof frame, reply, sizeof reply);
    block.dataOut = out.data();
    block.dataOutLength = outLength;
    block.dataIn = in.data();
    block.dataInLength = responseCapacity;
    const uint32_t result = XolLib2Passthrough(&block);
    putStatusRecord(record + kSmpRecordStatus, block.status);
    if (result == kXolStatusSuccess) {
        uint32_t received = getLe16(reply, 4);
        if (received > responseCapacity)
            received = responseCapacity;
        putLe16(record, kSmpRecordResponseLength, static_cast<uint16_t>(received));
        record[kSmpRecordSasStatus] = reply[13];
        std::memcpy(record + kSmpRecordResponse, in.data(), received);
    }
    return result;
}

uint32_t XolLib2SataPassthrough(const uint32_t* adapterHandle, uint8_t* record) {
    if (record == nullptr)
        return kXolStatusInvalidArgument;
    if (getLe32(record, 0) != kXolSataRecordSize)
        return kXolStatusWrongRecordSize;
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t s = lookupAdapter(adapterHandle, &adapter); s != kXolStatusSuccess)
        return s;
    const uint32_t deviceHandle = getLe32(record, kSataRecordDeviceHandle);
    XolDeviceRecord* device = nullptr;
    if (const uint32_t s = deviceOfAdapter(&deviceHandle, adapter, &device); s != kXolStatusSuccess)
        return s;
    auto option = [&](int i) { return getLe32(record, kSataRecordOptions + 4 * i) != 0; };
    uint16_t flags = 0;
    if (option(0))
        flags |= 0x100;
    if (option(1))
        flags |= 0x20;
    if (option(2))
        flags |= 0x10;
    if (option(3))
        flags |= (option(4) ? 0x02 : 0) | (option(5) ? 0x01 : 0);
    else
        flags |= 0x04;
    const uint32_t outLength = getLe32(record, kSataRecordDataOutLength);
    const uint32_t inLength = getLe32(record, kSataRecordDataInLength);
    uint8_t frame[kSataRequestSize] = {};
    putLe16(frame, 0, device->devHandle);
    frame[kFrameFunction] = kFunctionSataPassthrough;
    putLe16(frame, 4, flags);
    putLe32(frame, 24, outLength > inLength ? outLength : inLength);
    std::memcpy(frame + 28, record + kSataRecordFis, 20);
    uint8_t reply[kSataReplySize] = {};
    uint8_t sense[kSataReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter->handle, frame, sizeof frame, reply, sizeof reply);
    block.dataOut = pointerField<const uint8_t>(record, kSataRecordDataOut);
    block.dataOutLength = outLength;
    block.dataIn = pointerField<uint8_t>(record, kSataRecordDataIn);
    block.dataInLength = inLength;
    block.sense = sense;
    block.senseLength = sizeof sense;
    block.timeoutSeconds = getLe32(record, kSataRecordTimeout);
    const uint32_t result = XolLib2Passthrough(&block);
    putStatusRecord(record + kSataRecordStatus, block.status);
    if (result == kXolStatusSuccess) {
        record[kSataRecordSasStatus] = reply[13];
        std::memcpy(record + kSataRecordStatusFis, reply + 20, 20);
        putLe32(record, kSataRecordStatusControl, getLe32(reply, 40));
        putLe32(record, kSataRecordTransferCount, getLe32(reply, 44));
    }
    return result;
}

namespace {

// One try of a SCSI IO request; the record receives the outcome.
uint32_t scsiIoTry(const XolAdapterRecord& adapter, const XolDeviceRecord& device, uint8_t* record,
                   ByteBuffer& bounce, bool toDevice) {
    const uint32_t dataLength = getLe32(record, kScsiIoRecordDataLength);
    const uint8_t cdbLength = record[kScsiIoRecordCdbLength];
    uint8_t* sense = record + kScsiIoRecordSense;
    std::memset(sense, 0, kScsiIoRecordSenseSize);
    uint8_t frame[kScsiIoRequestSize] = {};
    putLe16(frame, kScsiIoDevHandle, device.devHandle);
    frame[kFrameFunction] = kFunctionScsiIo;
    if (adapter.xif25Frames)
        std::memcpy(frame + kScsiIoSenseAddress, sense, 4);
    else
        putLe32(frame, kScsiIoSenseAddress,
                static_cast<uint32_t>(reinterpret_cast<uintptr_t>(sense)));
    frame[kScsiIoSenseLength] = static_cast<uint8_t>(kScsiIoRecordSenseSize);
    frame[kScsiIoDescriptorOffset] = 24;
    putLe32(frame, kScsiIoDataLength, dataLength);
    putLe16(frame, kScsiIoCdbLength, cdbLength);
    frame[kScsiIoLun] = device.lun;
    putLe32(frame, kScsiIoControl,
            dataLength == 0 ? 0 : (toDevice ? kScsiIoControlWrite : kScsiIoControlRead));
    std::memcpy(frame + kScsiIoCdb, record + kScsiIoRecordCdb, cdbLength);
    uint8_t reply[kScsiIoReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(adapter.handle, frame, sizeof frame, reply, sizeof reply);
    if (dataLength != 0 && toDevice) {
        block.dataOut = bounce.data();
        block.dataOutLength = dataLength;
    } else if (dataLength != 0) {
        std::memset(bounce.data(), 0, dataLength);
        block.dataIn = bounce.data();
        block.dataInLength = dataLength;
    }
    block.sense = sense;
    block.senseLength = kScsiIoRecordSenseSize;
    block.timeoutSeconds = getLe32(record, kScsiIoRecordTimeout);
    const uint32_t status = XolLib2Passthrough(&block);
    uint32_t transferred = getLe32(reply, kScsiIoReplyTransferCount);
    if (status != kXolStatusSuccess)
        transferred = 0;
    if (transferred > dataLength)
        transferred = dataLength;
    record[kScsiIoRecordScsiStatus] = reply[kScsiIoReplyScsiStatus];
    putLe16(record, kScsiIoRecordIocStatus, static_cast<uint16_t>(block.status.iocStatus));
    putLe32(record, kScsiIoRecordIocLogInfo, block.status.iocLogInfo);
    putLe32(record, kScsiIoRecordTransferCount, transferred);
    if (status != kXolStatusSuccess)
        return status;
    const uint32_t iocStatus = block.status.iocStatus;
    if (iocStatus != 0 && iocStatus != kIocStatusScsiError && iocStatus != kIocStatusDataUnderrun)
        return kXolStatusFailure;
    return kXolStatusSuccess;
}

}  // namespace

uint32_t XolLib2ScsiIoPassthrough(const uint32_t* adapterHandle, const uint32_t* deviceHandle,
                                  uint8_t* record) {
    if (record == nullptr)
        return kXolStatusInvalidArgument;
    if (getLe32(record, 0) != kXolScsiIoRecordSize)
        return kXolStatusWrongRecordSize;
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t s = lookupAdapter(adapterHandle, &adapter); s != kXolStatusSuccess)
        return s;
    XolDeviceRecord* device = nullptr;
    if (const uint32_t s = deviceOfAdapter(deviceHandle, adapter, &device); s != kXolStatusSuccess)
        return s;
    if (record[kScsiIoRecordCdbLength] > kXolMaxCdbLength)
        return kXolStatusInvalidArgument;
    const uint32_t dataLength = getLe32(record, kScsiIoRecordDataLength);
    uint8_t* data = pointerField<uint8_t>(record, kScsiIoRecordData);
    if (dataLength != 0 && data == nullptr)
        return kXolStatusInvalidArgument;
    const bool toDevice = getLe32(record, kScsiIoRecordDirection) != 0;
    ByteBuffer bounce;
    if (!bounce.allocate(dataLength))
        return kXolStatusNoMemory;
    if (toDevice && dataLength != 0)
        std::memcpy(bounce.data(), data, dataLength);
    uint32_t status = kXolStatusSuccess;
    for (int attempt = 0; attempt < kScsiIoTries; ++attempt) {
        status = scsiIoTry(*adapter, *device, record, bounce, toDevice);
        const uint8_t scsiStatus = record[kScsiIoRecordScsiStatus];
        const uint8_t key = senseKeyOf(record + kScsiIoRecordSense, kScsiIoRecordSenseSize);
        if (scsiStatus != kScsiStatusCheckCondition && key != kSenseKeyUnitAttention)
            break;
    }
    if (!toDevice && dataLength != 0)
        std::memcpy(data, bounce.data(), getLe32(record, kScsiIoRecordTransferCount));
    if (status != kXolStatusSuccess)
        return status;
    // A command that ended in CHECK CONDITION, BUSY or RESERVATION CONFLICT
    // moved no data worth reading.
    const uint8_t scsiStatus = record[kScsiIoRecordScsiStatus];
    if (scsiStatus != kScsiStatusGood && scsiStatus != kScsiStatusConditionMet)
        return kXolStatusFailure;
    return kXolStatusSuccess;
}

uint32_t XolLib2Locate(const uint32_t* deviceHandle, bool on) {
    XolDeviceRecord* device = nullptr;
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t s = lookupDevice(deviceHandle, &device, &adapter); s != kXolStatusSuccess)
        return s;
    uint8_t page[kDevicePageBufferSize] = {};
    uint32_t received = 0;
    DevicePageFields fields = {};
    if (const uint32_t s = readDevicePage(adapter, device->secondList, device->devHandle, page,
                                          sizeof page, &received);
        s != kXolStatusSuccess) {
        return s;
    }
    if (!decodeDevicePage(page, received, device->secondList, &fields))
        return kXolStatusFailure;
    uint32_t slotStatus = 0;
    // Without the current status nothing is written: a guess would clear the
    // slot's other bits.
    if (const uint32_t s = enclosureRequest(adapter, kEnclosureActionRead, fields.enclosureHandle,
                                            fields.slot, &slotStatus);
        s != kXolStatusSuccess) {
        return s;
    }
    if (on) {
        device->savedSlotStatus = slotStatus;
        device->locateOn = true;
        slotStatus |= kLocateBit;
    } else {
        device->locateOn = false;
        slotStatus &= ~kLocateBit;
    }
    return enclosureRequest(adapter, kEnclosureActionWrite, fields.enclosureHandle, fields.slot,
                            &slotStatus);
}

uint32_t XolLib2MapHandleToTarget(const uint32_t* adapterHandle, uint16_t devHandle,
                                  uint32_t* targetId, uint32_t* bus) {
    if (targetId == nullptr || bus == nullptr || devHandle == 0xFFFF)
        return kXolStatusInvalidArgument;
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t s = lookupAdapter(adapterHandle, &adapter); s != kXolStatusSuccess)
        return s;
    uint16_t handle = devHandle;
    uint32_t target = 0xFFFFFFFF;
    uint32_t channel = 0xFFFFFFFF;
    if (const uint32_t s = mapRequest(*adapter, &handle, &target, &channel); s != kXolStatusSuccess)
        return s;
    *targetId = target;
    *bus = channel;
    return kXolStatusSuccess;
}

uint32_t XolLib2MapTargetToHandle(const uint32_t* adapterHandle, uint32_t targetId, uint32_t bus,
                                  uint16_t* devHandle) {
    if (devHandle == nullptr || (targetId == 0xFFFFFFFF && bus == 0xFFFFFFFF))
        return kXolStatusInvalidArgument;
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t s = lookupAdapter(adapterHandle, &adapter); s != kXolStatusSuccess)
        return s;
    uint16_t handle = 0xFFFF;
    uint32_t target = targetId;
    uint32_t channel = bus;
    if (const uint32_t s = mapRequest(*adapter, &handle, &target, &channel); s != kXolStatusSuccess)
        return s;
    *devHandle = handle;
    return kXolStatusSuccess;
}
