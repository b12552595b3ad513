// BIOS (PCI expansion ROM) images as dl handles them: validation of a file,
// the walk of its ROM images and of the extra component blocks behind the
// last one, and the assembly of new flash content from the file and the
// images already in flash. Pure: bytes in, bytes and the logger's lines out.
// Each walk stops where the bytes stop making sense, never past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hba/rom_version.h"

struct RomImage {
    size_t offset = 0;  // of the 0x55 0xAA signature
    size_t length = 0;  // bytes (512-byte units from the PCIR structure)
    size_t pcir = 0;    // PCIR structure, from the buffer start
    uint8_t codeType = 0;
    uint16_t deviceId = 0;
    bool last = false;  // indicator bit 7
};

// The ROM images from the start of the buffer. The walk ends after the image
// with the last-image bit, or before an image without the signature, with its
// PCIR structure outside it, with a length of 0, or past the buffer.
std::vector<RomImage> walkRomImages(const uint8_t* rom, size_t size);

struct RomComponent {
    size_t offset = 0;
    size_t size = 0;
    uint32_t kind = 0;  // descriptor bits 28-31
    uint32_t id = 0;    // descriptor bits 0-15
};

// The blocks behind the image carrying the last-image bit, while each starts
// with 0x55 0xAA, has a non-zero size and lies inside the buffer.
std::vector<RomComponent> walkRomComponents(const uint8_t* rom, size_t size,
                                            const std::vector<RomImage>& images);

// One of the controller device IDs a BIOS file may name.
bool isSupportedBiosDeviceId(uint16_t deviceId);

// Signature, 8-bit checksum, PCIR structure and device ID. On success the
// first image's PCIR device ID becomes the controller's. 0 or 1, each step's
// line logged.
uint32_t validateBiosImage(uint8_t* rom, size_t size, uint16_t controllerDeviceId);

// The new BIOS region: the x86 pieces, the EFI part, the FCODE part, then the
// flash's and the file's extra components. The flash's EFI and FCODE images
// stay when the file brings none. flash is null when it could not be read.
// Each ROM part carries the last-image bit only when no ROM part follows it
// and sums to 0 modulo 256. False when there is nothing to write.
bool assembleBios(const uint8_t* file, size_t fileSize, const uint8_t* flash, size_t flashSize,
                  std::vector<uint8_t>* out);
