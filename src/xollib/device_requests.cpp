// The requests that act on phys and devices: IO unit control, task
// management, SMP, SATA and SCSI IO passthrough, locate and the driver's
// handle mapping.
#include <cstring>

#include "shell/bytes.h"
#include "xollib/device_details.h"
#include "xollib/xol_internal.h"

namespace {

constexpr uint32_t kDevicePageBufferSize = 56;
constexpr uint32_t kLocateBit = 0x20000;

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
        if (const uint32_t s = lookupAdapterDevice(deviceHandle, adapter, &device);
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
        if (const uint32_t s = lookupAdapterDevice(deviceHandle, adapter, &device);
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
    if (const uint32_t s = lookupAdapterDevice(&deviceHandle, adapter, &device);
        s != kXolStatusSuccess)
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
    if (const uint32_t s = lookupAdapterDevice(deviceHandle, adapter, &device);
        s != kXolStatusSuccess)
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
    if (const uint32_t s = readDevicePageByHandle(adapter, device->secondList, device->devHandle,
                                                  page, sizeof page, &received);
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
    if (const uint32_t s = mapDeviceRequest(*adapter, &handle, &target, &channel);
        s != kXolStatusSuccess)
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
    if (const uint32_t s = mapDeviceRequest(*adapter, &handle, &target, &channel);
        s != kXolStatusSuccess)
        return s;
    *devHandle = handle;
    return kXolStatusSuccess;
}
