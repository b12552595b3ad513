#include "expander/region_transfer.h"

#include <algorithm>
#include <cstring>

#include "expander/expander_access.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/prompt.h"
#include "targets/expander_device.h"
#include "targets/scsi_status.h"

namespace {

constexpr const char* kRegionNames[] = {
    "Bootloader",   "Active Firmware", "Backup Firmware", "Manufacturing", "Persistent 1",
    "Persistent 2", "Log 1",           "Log 2",           "OEM 1",         "OEM 2",
};

// One READ BUFFER chunk; moving fewer bytes than asked is a failure.
uint32_t readChunk(ExpanderDevice* device, Target* target, uint8_t bufferId, uint32_t offset,
                   uint32_t length, uint8_t* out) {
    uint8_t cdb[kBufferCdbLength];
    buildRegionTransferCdb(cdb, kOpReadBuffer, bufferId, offset, length);
    uint32_t transferred = 0;
    if (device->read(target, cdb, kBufferCdbLength, out, length, &transferred) != 0)
        return 1;
    return transferred == length ? 0 : 1;
}

}  // namespace

const char* regionName(uint8_t bufferId) {
    if (bufferId < kRegionFirst || bufferId > kRegionLast)
        return nullptr;
    return kRegionNames[bufferId - kRegionFirst];
}

void buildRegionTransferCdb(uint8_t* cdb, uint8_t opcode, uint8_t bufferId, uint32_t offset,
                            uint32_t length) {
    startBufferCdb(cdb, opcode, kBufferModeData, bufferId);
    putBe24(cdb, 3, offset);
    putBe24(cdb, 6, length);
}

uint32_t readRegionBytes(Target* target, uint8_t bufferId, uint32_t length, uint32_t chunkSize,
                         uint8_t* out) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr || length > kMaxRegionTransfer || chunkSize == 0 ||
        chunkSize > kMaxRegionTransfer)
        return 1;
    uint32_t offset = 0;
    uint32_t remaining = length;
    while (remaining > 0) {
        const uint32_t chunk = std::min(remaining, chunkSize);
        if (readChunk(device, target, bufferId, offset, chunk, out + offset) != 0)
            return 1;
        offset += chunk;
        remaining -= chunk;
    }
    return 0;
}

uint32_t readWholeBuffer(Target* target, uint8_t bufferId, uint32_t chunkSize, ByteBuffer* out,
                         BufferReadStep* step) {
    uint32_t descriptor = 0;
    if (readBufferDescriptor(target, bufferId, &descriptor) != 0) {
        *step = BufferReadStep::Descriptor;
        return 1;
    }
    if (descriptorIsEmpty(descriptor)) {
        *step = BufferReadStep::Empty;
        return 1;
    }
    const uint32_t capacity = descriptorCapacity(descriptor);
    ByteBuffer buffer;
    if (!buffer.allocate(capacity)) {
        *step = BufferReadStep::Allocation;
        return 1;
    }
    if (readRegionBytes(target, bufferId, capacity, chunkSize, buffer.data()) != 0) {
        *step = BufferReadStep::Chunk;
        return 1;
    }
    *out = std::move(buffer);
    *step = BufferReadStep::Done;
    return 0;
}

uint32_t writeRegion(Target* target, uint8_t bufferId, const uint8_t* data, uint32_t length,
                     uint32_t mode) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr) {
        logError("Device selected is not present. Select a valid device.");
        return 1;
    }
    // Past 24 bits the offset would wrap and overwrite the region's start.
    if (length > kMaxRegionTransfer || (mode == kWriteModeData && data == nullptr && length > 0))
        return 1;
    if (length == 0)
        return 0;
    ByteBuffer fill;
    if (mode == kWriteModeErase) {
        if (!fill.allocate(std::min(length, kRegionChunkSize))) {
            logError("Error in allocating memory.");
            return 1;
        }
        std::memset(fill.data(), 0xFF, fill.size());
    }
    uint32_t offset = 0;
    uint32_t remaining = length;
    while (remaining > 0) {
        const uint32_t chunk = std::min(remaining, kRegionChunkSize);
        const uint8_t* bytes = mode == kWriteModeErase ? fill.data() : data + offset;
        uint8_t cdb[kBufferCdbLength];
        buildRegionTransferCdb(cdb, kOpWriteBuffer, bufferId, offset, chunk);
        if (device->write(target, cdb, kBufferCdbLength, bytes, chunk, nullptr) != 0)
            return 1;
        // The flash needs time to program what it was sent.
        sleepMilliseconds(remaining >= kRegionChunkSize ? kFullChunkPauseMs : kTailChunkPauseMs);
        offset += chunk;
        remaining -= chunk;
    }
    return 0;
}

uint32_t readRegionToFile(Target* target, uint8_t bufferId, const char* path, uint32_t length) {
    if (length > kMaxRegionTransfer)
        return 1;
    ByteBuffer contents;
    if (!contents.allocate(length)) {
        logError("Error in allocating memory.");
        return 1;
    }
    if (readRegionBytes(target, bufferId, length, kRegionChunkSize, contents.data()) != 0)
        return 1;
    return writeWholeFile(path, contents.data(), length);
}

uint32_t regionSize(Target* target, uint32_t requested, uint8_t* bufferId, uint32_t* size) {
    if (expanderOf(target) == nullptr) {
        logError("No device selected. Select a valid device.");
        return 1;
    }
    uint32_t descriptor = 0;
    if (readBufferDescriptor(target, *bufferId, &descriptor) != 0) {
        logError("Unable to get the region size.");
        return 1;
    }
    if (descriptorIsEmpty(descriptor) && *bufferId == kBufferIdFirmwareDownload) {
        // No image behind the download buffer: the bootloader region holds one.
        *bufferId = kRegionFirst;
        if (readBufferDescriptor(target, *bufferId, &descriptor) != 0)
            return 1;
    }
    if (descriptorIsEmpty(descriptor)) {
        logError("Specified region seems to be empty.");
        return 1;
    }
    const uint32_t capacity = descriptorCapacity(descriptor);
    if (requested > capacity) {
        logPrintLine("Size entered by user is greater than the actual region size.");
        logPrintLine("Uploading the maximum region size.");
        *size = capacity;
    } else {
        *size = requested == 0 ? capacity : requested;
    }
    return 0;
}
