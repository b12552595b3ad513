#include "targets/expander_device.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/node_access.h"
#include "shell/prompt.h"
#include "targets/scsi_status.h"
#include "targets/scsi_transport.h"
#include "targets/target_list.h"

namespace {

constexpr uint32_t kMaxAttempts = 3;
// BUSY and TASK SET FULL: up to three more tries, a second apart.
constexpr uint32_t kMaxBusyRetries = 3;
constexpr uint32_t kBusyPauseMs = 1000;
constexpr uint32_t kBufferZeroLength = 256;
constexpr size_t kFirmwareVersionOffset = 36;

// Text that differs between the read and the write operation.
struct Direction {
    ScsiDirection scsi;
    const char* notInitialized;
    const char* tooManyRetries;
};
constexpr Direction kReadDirection{ScsiDirection::FromDevice,
                                   "Device is not initialized but trying to read.",
                                   "Read CDB Failed (Too many retries...)"};
constexpr Direction kWriteDirection{ScsiDirection::ToDevice,
                                    "Device is not initialized but trying to write.",
                                    "Write CDB Failed (Too many retries...)"};

uint32_t runCommand(Target* target, const Direction& direction, const uint8_t* cdb,
                    uint32_t cdbLength, uint8_t* data, uint32_t dataLength, uint32_t* transferred) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr || cdb == nullptr || cdbLength == 0 || cdbLength > 16)
        return 1;
    if (!device->fd.isOpen() && expanderOpen(target) != 0) {
        logError("%s", direction.notInitialized);
        return 1;
    }
    uint32_t busyRetries = 0;
    for (uint32_t attempt = 0; attempt < kMaxAttempts;) {
        const ScsiOutcome outcome =
            issueScsiCommand(device->fd.get(), cdb, static_cast<uint8_t>(cdbLength), direction.scsi,
                             data, dataLength);
        bool headerFailure = false;
        const uint32_t result = sortScsiOutcome(outcome, direction.scsi, &headerFailure);
        if (result == kCommandOk) {
            const uint32_t moved = transferredBytes(outcome, direction.scsi, dataLength);
            if (transferred != nullptr) {
                *transferred = moved;
            } else if (moved < dataLength) {
                // The caller needs every byte: the zeros behind a short
                // transfer are not data.
                logError("Unable to perform the IO header operation.");
                return 1;
            }
            return 0;
        }
        if (result == kCommandBusy) {
            if (busyRetries == kMaxBusyRetries)
                break;
            ++busyRetries;
            sleepMilliseconds(kBusyPauseMs);
            continue;
        }
        if (result != kCommandRetry) {
            if (headerFailure)
                logError("Unable to perform the IO header operation.");
            return 1;
        }
        ++attempt;
    }
    logError("%s", direction.tooManyRetries);
    return 1;
}

}  // namespace

ExpanderDevice* expanderOf(Target* target) {
    if (target == nullptr || target->transport != TransportKind::ScsiGeneric)
        return nullptr;
    return static_cast<ExpanderDevice*>(target->device);
}

bool openExpanderNode(const char* path, DeviceFd* fd) {
    DeviceFd node(::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!node.isOpen()) {
        noteNodeOpenFailure(path, errno);
        return false;
    }
    sg_scsi_id identity;
    std::memset(&identity, 0, sizeof identity);
    if (ioctl(node.get(), SG_GET_SCSI_ID, &identity) < 0 ||
        identity.scsi_type != kPeripheralEnclosureServices) {
        return false;
    }
    *fd = std::move(node);
    return true;
}

Target* createExpanderTarget(uint32_t sgNumber, DeviceFd fd) {
    std::unique_ptr<ExpanderDevice> device(new (std::nothrow) ExpanderDevice);
    std::unique_ptr<Target> target(new (std::nothrow) Target{});
    if (!device || !target)
        return nullptr;
    char path[64];
    std::snprintf(path, sizeof path, "%s%u", "/dev/sg", sgNumber);
    device->sgNumber = sgNumber;
    device->path = path;
    device->fd = std::move(fd);
    device->open = expanderOpen;
    device->close = expanderClose;
    device->write = expanderWrite;
    device->read = expanderRead;
    device->destroy = expanderDestroy;
    target->transport = TransportKind::ScsiGeneric;
    target->kind = TargetKind::Expander;
    target->device = device.release();
    return target.release();
}

uint32_t expanderOpen(Target* target) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr) {
        logError("Expander device is null and not initialized.");
        return 1;
    }
    DeviceFd node(::open(device->path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!node.isOpen()) {
        logError("Unable to open the device. Open system call failed.");
        return 1;
    }
    sg_scsi_id identity;
    std::memset(&identity, 0, sizeof identity);
    if (ioctl(node.get(), SG_GET_SCSI_ID, &identity) < 0 ||
        identity.scsi_type != kPeripheralEnclosureServices) {
        logError("Invalid device state. Wrong device table found. Opening device is not expander.");
        return 1;
    }
    device->fd = std::move(node);
    return 0;
}

uint32_t expanderClose(Target* target) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr)
        return 1;
    device->fd.reset();
    return 0;
}

uint32_t expanderRead(Target* target, const uint8_t* cdb, uint32_t cdbLength, uint8_t* data,
                      uint32_t dataLength, uint32_t* transferred) {
    return runCommand(target, kReadDirection, cdb, cdbLength, data, dataLength, transferred);
}

uint32_t expanderWrite(Target* target, const uint8_t* cdb, uint32_t cdbLength, const uint8_t* data,
                       uint32_t dataLength, uint32_t* transferred) {
    // The driver only reads from the buffer of a transfer to the device.
    return runCommand(target, kWriteDirection, cdb, cdbLength, const_cast<uint8_t*>(data),
                      dataLength, transferred);
}

uint32_t expanderDestroy(Target* target) {
    if (target == nullptr)
        return 0;
    delete expanderOf(target);
    delete target;
    return 0;
}

void startBufferCdb(uint8_t* cdb, uint8_t opcode, uint8_t mode, uint8_t bufferId) {
    std::memset(cdb, 0, kBufferCdbLength);
    cdb[0] = opcode;
    cdb[1] = mode;
    cdb[2] = bufferId;
}

void buildChipRegisterCdb(uint8_t* cdb, uint8_t opcode, uint32_t address, uint16_t length) {
    startBufferCdb(cdb, opcode, kBufferModeVendor, kBufferIdMemory);
    putBe32(cdb, 3, address);
    putBe16(cdb, 7, length);
}

void buildBufferZeroCdb(uint8_t* cdb) {
    startBufferCdb(cdb, kOpReadBuffer, kBufferModeVendor, kBufferIdZero);
    putBe16(cdb, 7, kBufferZeroLength);
}

void buildBufferDescriptorCdb(uint8_t* cdb, uint8_t bufferId) {
    startBufferCdb(cdb, kOpReadBuffer, kBufferModeDescriptor, bufferId);
    putBe16(cdb, 7, 4);
}

uint32_t readChipRegister(Target* target, uint32_t address, uint8_t* buffer, uint32_t length) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr || length > 0xFFFF)
        return 1;
    uint8_t cdb[kBufferCdbLength];
    buildChipRegisterCdb(cdb, kOpReadBuffer, address, static_cast<uint16_t>(length));
    uint32_t transferred = 0;
    if (device->read(target, cdb, kBufferCdbLength, buffer, length, &transferred) != 0)
        return 1;
    // Registers the device did not send are not zeros: a short block is a
    // failed read, reported like any other failed transfer.
    if (transferred < length) {
        logError("Unable to perform the IO header operation.");
        return 1;
    }
    return 0;
}

uint32_t readBufferDescriptor(Target* target, uint8_t bufferId, uint32_t* value) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr)
        return 1;
    uint8_t cdb[kBufferCdbLength];
    buildBufferDescriptorCdb(cdb, bufferId);
    uint8_t reply[4] = {};
    uint32_t transferred = 0;
    if (device->read(target, cdb, kBufferCdbLength, reply, sizeof reply, &transferred) != 0)
        return 1;
    // A short descriptor would pass its zero tail off as a capacity; callers
    // report the failure in their own words.
    if (transferred != sizeof reply)
        return 1;
    *value = getBe32(reply, 0);
    return 0;
}

uint32_t readBufferZero(Target* target) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr)
        return 1;
    uint8_t cdb[kBufferCdbLength];
    buildBufferZeroCdb(cdb);
    uint8_t reply[kBufferZeroLength] = {};
    if (device->read(target, cdb, kBufferCdbLength, reply, sizeof reply, nullptr) != 0)
        return 1;
    device->firmwareVersion = getLe32(reply, kFirmwareVersionOffset);
    return 0;
}
