// Builders of controller flash contents for tests and seeded regions:
// firmware images of header form A or B with every field a download is
// checked against, and option ROM chains of x86, EFI and FCODE images with
// extra component blocks. Each builder makes a sound image from its options;
// the damage options break exactly one thing. Pure: no I/O, no global state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qemu::images {

using HbaBytes = std::vector<uint8_t>;

struct NvdataOptions {
    uint32_t version = 0x10010000;
    uint16_t deviceId = 0x0630;
    uint16_t deviceTest = 0;  // 0xFFFF switches the device ID test off
    uint8_t revision = 0xFF;  // 255 accepts every chip revision
    uint8_t upperRevision = 0;
    bool badSignature = false;
    bool badProductSignature = false;
    bool productBlockOutside = false;  // the block pointer leaves the image
};

struct HbaFirmwareOptions {
    bool formB = false;
    std::vector<uint16_t> supportedDevices = {0x0630};
    uint32_t interfaceVersion = 0x02060000;  // byte 19 major, byte 18 minor
    uint32_t firmwareVersion = 0x10000300;
    uint32_t nvdataVersion = 0x10010000;  // header copy
    uint16_t vendorId = 0x1F3A;
    uint16_t productId = 0x2213;
    std::vector<NvdataOptions> nvdata = {NvdataOptions{}};
    bool bootloader = true;
    bool initialization = true;
    size_t size = 8192;  // at least what the header and extended images need
    // Damage.
    bool badSignature = false;
    bool badSum = false;              // the words sum to 1
    size_t oddTail = 0;               // 1-3 bytes after the last word (the sum still holds)
    bool loopingChain = false;        // the last extended image points back at the first
    bool overlongChain = false;       // the last extended image declares a size past the end
    bool deviceCountOverrun = false;  // the list claims 255 entries
};

HbaBytes buildHbaFirmware(const HbaFirmwareOptions& options);

struct RomComponentOptions {
    uint32_t kind = 3;  // descriptor bits 28-31
    uint16_t id = 0x102;
    size_t size = 512;
    uint8_t fill = 0x11;
};

struct RomImageOptions {
    uint8_t codeType = 0;  // 0 x86, 1 FCODE, 3 EFI
    uint16_t deviceId = 0x0630;
    uint32_t version = 0x08240100;  // x86 and EFI four-part; FCODE "v.ww.xx.yy"
    uint8_t pcirRevision = 3;       // x86: 2 keeps the build bytes at +0x18
    uint16_t blocks = 4;            // 512-byte units
    uint8_t fill = 0;               // varies the body
    // Damage.
    bool badSignature = false;
    bool pcirOutside = false;
    bool zeroLength = false;
    bool overlong = false;  // the length runs past the chain
};

struct OptionRomOptions {
    std::vector<RomImageOptions> images;  // in chain order
    std::vector<RomComponentOptions> components;
    bool noLastBit = false;
    bool zeroSizeComponent = false;  // the first component declares size 0
    bool badSum = false;             // the first image does not sum to 0
};

HbaBytes buildOptionRom(const OptionRomOptions& options);

}  // namespace qemu::images
