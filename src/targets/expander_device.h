// The expander record behind an expander target and its five operations:
// the SCSI generic node stays open while the record lives; read and write
// send one command block with its data, retrying what the device asks to be
// retried, and reopen a closed node after checking it is still an expander.
// Also the command-block forms discovery needs (chip registers, buffer 0,
// buffer descriptors).
#pragma once

#include <cstdint>
#include <string>

#include "targets/device_fd.h"

struct Target;

using ExpanderTargetOp = uint32_t (*)(Target* target);
using ExpanderReadOp = uint32_t (*)(Target* target, const uint8_t* cdb, uint32_t cdbLength,
                                    uint8_t* data, uint32_t dataLength, uint32_t* transferred);
using ExpanderWriteOp = uint32_t (*)(Target* target, const uint8_t* cdb, uint32_t cdbLength,
                                     const uint8_t* data, uint32_t dataLength,
                                     uint32_t* transferred);

struct ExpanderDevice {
    uint32_t sgNumber = 0;
    std::string path;  // /dev/sgN
    DeviceFd fd;
    uint64_t sasAddress = 0;
    uint32_t firmwareVersion = 0;  // four bytes, most significant first
    // 0 ok; 1 null target, the node cannot be opened or is not an expander.
    ExpanderTargetOp open = nullptr;
    // 0 ok; 1 null target.
    ExpanderTargetOp close = nullptr;
    // 0 ok; 1 failure (reported here). With transferred null the caller needs
    // the whole data length: a shorter transfer fails (reported here too).
    ExpanderWriteOp write = nullptr;
    ExpanderReadOp read = nullptr;
    // Closes the node and frees the record and the target; returns 0.
    ExpanderTargetOp destroy = nullptr;
};

// The expander record of a SCSI generic target; nullptr for any other target.
ExpanderDevice* expanderOf(Target* target);

// A new expander target (kind Expander, SCSI generic operations) owning the
// open descriptor of /dev/sg<sgNumber>; nullptr when memory ran out (the
// descriptor is then closed).
Target* createExpanderTarget(uint32_t sgNumber, DeviceFd fd);

// The SCSI generic operations.
uint32_t expanderOpen(Target* target);
uint32_t expanderClose(Target* target);
uint32_t expanderRead(Target* target, const uint8_t* cdb, uint32_t cdbLength, uint8_t* data,
                      uint32_t dataLength, uint32_t* transferred);
uint32_t expanderWrite(Target* target, const uint8_t* cdb, uint32_t cdbLength, const uint8_t* data,
                       uint32_t dataLength, uint32_t* transferred);
uint32_t expanderDestroy(Target* target);

// Opens path read-write and non-blocking and checks that it is an enclosure
// services device. The descriptor is not open when false is returned.
bool openExpanderNode(const char* path, DeviceFd* fd);

// Command blocks (10 bytes) of the chip register and buffer forms.
inline constexpr uint32_t kBufferCdbLength = 10;
inline constexpr uint8_t kBufferIdZero = 0x00;
inline constexpr uint8_t kBufferIdMemory = 0xC2;
inline constexpr uint8_t kBufferModeVendor = 1;
inline constexpr uint8_t kBufferModeDescriptor = 3;
// Zeroes the block and sets the operation, buffer mode and buffer id that
// open every READ BUFFER and WRITE BUFFER form.
void startBufferCdb(uint8_t* cdb, uint8_t opcode, uint8_t mode, uint8_t bufferId);
void buildChipRegisterCdb(uint8_t* cdb, uint8_t opcode, uint32_t address, uint16_t length);
void buildBufferZeroCdb(uint8_t* cdb);
void buildBufferDescriptorCdb(uint8_t* cdb, uint8_t bufferId);

// Reads `length` bytes of address-mapped memory. 0 ok, 1 failure (a short
// transfer included).
uint32_t readChipRegister(Target* target, uint32_t address, uint8_t* buffer, uint32_t length);
// The READ BUFFER descriptor of a buffer as one big-endian word. 0 ok; 1 when
// the read fails or moves fewer than its 4 bytes.
uint32_t readBufferDescriptor(Target* target, uint8_t bufferId, uint32_t* value);
// Reads buffer 0 and stores the firmware version it carries. 0 ok, 1 failure.
uint32_t readBufferZero(Target* target);
