// Moving whole flash regions and data buffers of an expander: region names,
// the data-mode (mode 2) READ BUFFER / WRITE BUFFER command block, chunked
// reads that refuse short transfers, chunked writes with the pauses the
// flash needs, and the capacity a descriptor reports. Every size that comes
// from the device is bounded to 24 bits before anything is allocated, and a
// transfer that would not fit the 24-bit offset is refused before a command
// is sent.
#pragma once

#include <cstdint>

#include "shell/byte_buffer.h"

struct Target;

inline constexpr uint8_t kBufferIdFirmwareDownload = 0x00;
inline constexpr uint8_t kRegionFirst = 0x80;  // "Bootloader"
inline constexpr uint8_t kRegionLast = 0x89;   // "OEM 2"
inline constexpr uint8_t kRegionManufacturing = 0x83;
inline constexpr uint8_t kBufferModeData = 2;

// Largest offset or length the 24-bit command fields carry.
inline constexpr uint32_t kMaxRegionTransfer = 0xFFFFFF;
// Flash regions are written, read and erased 256 KiB at a time.
inline constexpr uint32_t kRegionChunkSize = 0x40000;
// Pause after a written chunk: long after a full chunk, short after the tail.
inline constexpr uint32_t kFullChunkPauseMs = 5000;
inline constexpr uint32_t kTailChunkPauseMs = 1000;
// A descriptor word meaning that the region holds nothing.
inline constexpr uint32_t kDescriptorEmpty = 0xFFFFFFFF;

// Name of a flash region 0x80..0x89; nullptr for any other id.
const char* regionName(uint8_t bufferId);

// 10-byte READ BUFFER (0x3C) or WRITE BUFFER (0x3B) in data mode: offset in
// bytes 3..5, length in bytes 6..8, both 24 bits, most significant first.
void buildRegionTransferCdb(uint8_t* cdb, uint8_t opcode, uint8_t bufferId, uint32_t offset,
                            uint32_t length);

// The descriptor word: the top byte is the offset boundary, the capacity is
// in the low 24 bits. kDescriptorEmpty is an empty region.
inline bool descriptorIsEmpty(uint32_t descriptor) {
    return descriptor == kDescriptorEmpty;
}
inline uint32_t descriptorCapacity(uint32_t descriptor) {
    return descriptor & kMaxRegionTransfer;
}

// Reads `length` bytes from offset 0 of a buffer into out (which holds at
// least that many) in chunks of chunkSize (1..0xFFFFFF) at ascending
// offsets. A chunk that moves fewer bytes than asked is a failure. No
// message of its own. 0 ok; 1 a chunk failed or was short, or length is
// above 0xFFFFFF (nothing sent).
uint32_t readRegionBytes(Target* target, uint8_t bufferId, uint32_t length, uint32_t chunkSize,
                         uint8_t* out);

// Which step of readWholeBuffer failed.
enum class BufferReadStep : uint32_t {
    Done,        // the whole capacity was read
    Descriptor,  // the descriptor read failed or came back short
    Empty,       // the descriptor says 0xFFFFFFFF: nothing was read
    Allocation,  // no memory for the capacity
    Chunk,       // a chunk failed or came back short
};

// Reads a buffer whole: its descriptor, then its capacity (low 24 bits) in
// chunks of chunkSize into a zero-filled buffer. A capacity of 0 gives an
// empty buffer. No message of its own: the caller reports by *step.
// 0 ok (*step Done); 1 otherwise.
uint32_t readWholeBuffer(Target* target, uint8_t bufferId, uint32_t chunkSize, ByteBuffer* out,
                         BufferReadStep* step);

inline constexpr uint32_t kWriteModeErase = 1;  // 0xFF bytes
inline constexpr uint32_t kWriteModeData = 2;   // the caller's bytes

// Writes `length` bytes to a buffer from offset 0 in 0x40000-byte chunks at
// ascending offsets, pausing 5 s after a chunk when at least 0x40000 bytes
// remained before it, else 1 s. Erase mode sends 0xFF from one chunk-sized
// buffer whatever the length; data mode sends data. Length 0 succeeds at
// once. 0 ok; 1 after "Device selected is not present. Select a valid
// device." or "Error in allocating memory.", or silently when length is above
// 0xFFFFFF (nothing sent) or a chunk fails (the transport has reported it).
uint32_t writeRegion(Target* target, uint8_t bufferId, const uint8_t* data, uint32_t length,
                     uint32_t mode);

// Reads the first `length` bytes of a region in 0x40000-byte chunks and, once
// all of them arrived, writes them to path with writeWholeFile (a failed read
// leaves the file alone). 0 ok; 1 after "Error in allocating memory." or the
// file's own messages, or silently when a chunk fails or is short or length
// is above 0xFFFFFF.
uint32_t readRegionToFile(Target* target, uint8_t bufferId, const char* path, uint32_t length);

// Size to transfer from a region: the capacity, or the requested size when it
// is not 0 and fits. Buffer 0x00 reporting an empty descriptor falls back to
// region 0x80 (*bufferId changes). 0 ok; 1 after "No device selected. Select
// a valid device.", "Unable to get the region size." or "Specified region
// seems to be empty.", or silently when the fallback's descriptor read fails.
uint32_t regionSize(Target* target, uint32_t requested, uint8_t* bufferId, uint32_t* size);
