// The BIOS version word of a boot image, read from its PCI expansion ROM
// header. Pure: the image comes from the controller and is checked against
// its own size before every read.
#include "shell/bytes.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint16_t kRomSignature = 0xAA55;
constexpr size_t kRomPciDataPointer = 24;  // u16 offset of the PCI data structure
constexpr size_t kPciDataRevision = 12;
constexpr size_t kPciDataRevisionLevel = 18;  // u16
constexpr size_t kPciDataCodeType = 20;
constexpr size_t kPciDataShortLength = 24;
constexpr size_t kPciDataLongLength = 28;  // structure revisions above 2

}  // namespace

uint32_t XolLib2BiosVersionFromImage(const uint8_t* image, size_t size, uint32_t* version) {
    if (version == nullptr)
        return kXolStatusInvalidArgument;
    if (image == nullptr || size < 2)
        return kXolStatusFailure;
    if (getLe16(image, 0) != kRomSignature) {
        *version = 0;
        return kXolStatusSuccess;
    }
    if (size < kRomPciDataPointer + 2)
        return kXolStatusFailure;
    const size_t pciData = getLe16(image, kRomPciDataPointer);
    if (pciData + kPciDataCodeType >= size)
        return kXolStatusFailure;
    if (image[pciData + kPciDataCodeType] != 0) {
        *version = 0;
        return kXolStatusSuccess;
    }
    const size_t behind = pciData + (image[pciData + kPciDataRevision] > 2 ? kPciDataLongLength
                                                                           : kPciDataShortLength);
    if (behind + 1 >= size)
        return kXolStatusFailure;
    *version = (static_cast<uint32_t>(getLe16(image, pciData + kPciDataRevisionLevel)) << 16) |
               (static_cast<uint32_t>(image[behind]) << 8) | image[behind + 1];
    return kXolStatusSuccess;
}
