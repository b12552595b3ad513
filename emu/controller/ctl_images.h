// Flash images a controller ships with: the boot image (a PCI expansion ROM
// chain) and the firmware image with its header, extended images and checksum.
#pragma once

#include <cstdint>

#include "ctl_bytes.h"
#include "ctl_setup.h"

namespace qemu::ctl {

// x86 image (code type 0, PCIR revision 3) then, when uefiVersion is non-zero,
// an EFI image (code type 3) carrying the last-image indicator. Every image
// sums to 0 modulo 256.
Bytes buildBootImage(const ControllerSetup& setup);

// Header form A (older families) or form B (newest family), supported device
// list, NVDATA, bootloader and initialization images; 32-bit words sum to 0.
Bytes buildFirmwareImage(const ControllerSetup& setup);

// Offset of the firmware header in an image (form A: 0, form B: the word at
// 0x2C), or -1 when the image has neither signature.
long firmwareHeaderOffset(const Bytes& image);

struct FirmwareIdentity {
    uint32_t firmwareVersion = 0;
    uint32_t nvdataVersion = 0;
};
// Versions from the header of a firmware image; false when it has no header.
bool readFirmwareIdentity(const Bytes& image, FirmwareIdentity* out);

// Small filler regions (configuration copies, bootloader, trivault): a
// recognisable 16-byte tag followed by a deterministic pattern.
Bytes buildFillerRegion(const char* tag, uint32_t size, uint32_t seed);

}  // namespace qemu::ctl
