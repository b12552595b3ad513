// Builders and readers of the controller's flash images.
#include "ctl_images.h"

#include <cstring>

namespace qemu::ctl {
namespace {

constexpr uint32_t kFormA[4] = {0xEA000000, 0x5AFAA55A, 0xA55AFAA5, 0x5AA55AFA};
constexpr uint32_t kFormB[4] = {0xEB000000, 0x5AEAA500, 0xA55AEAA5, 0x5AA55AEA};
constexpr size_t kFormBHeaderOffset = 0x100;
constexpr size_t kHeaderSize = 256;

void fillPattern(Bytes& b, size_t from, size_t to, uint32_t seed) {
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = from; i < to && i < b.size(); ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(x >> 16);
    }
}

// One ROM image of `blocks` 512-byte units with its PCIR structure at 0x1C.
Bytes romImage(const ControllerSetup& setup, uint8_t codeType, uint32_t blocks, uint16_t codeRev,
               uint8_t verHi, uint8_t verLo, bool last) {
    Bytes img(blocks * 512, 0);
    fillPattern(img, 0x40, img.size(), codeType + 7u);
    img[0] = 0x55;
    img[1] = 0xAA;
    const size_t pcir = 0x1C;
    if (codeType == 3) {
        set16(img, 2, blocks);   // initialisation size
        set32(img, 4, 0x0EF1);   // EFI signature
        set16(img, 8, 0x0B);     // boot service driver
        set16(img, 10, 0x8664);  // x64
        set16(img, 12, 0);       // not compressed
        set16(img, 0x16, 0x40);  // image offset
        img[26] = verLo;         // EFI build number, low byte first
        img[27] = verHi;
    } else {
        img[2] = static_cast<uint8_t>(blocks);
        img[3] = 0xE9;  // entry point jump
    }
    set16(img, 0x18, pcir);
    std::memcpy(img.data() + pcir, "PCIR", 4);
    set16(img, pcir + 4, setup.vendorId);
    set16(img, pcir + 6, setup.deviceId);
    set16(img, pcir + 8, 0);
    set16(img, pcir + 0x0A, 0x1C);  // structure length, revision 3 layout
    img[pcir + 0x0C] = setup.biosPcirRevision;
    img[pcir + 0x0D] = 0x00;  // class code 01 07 00: SAS controller
    img[pcir + 0x0E] = 0x07;
    img[pcir + 0x0F] = 0x01;
    set16(img, pcir + 0x10, blocks);
    set16(img, pcir + 0x12, codeRev);
    img[pcir + 0x14] = codeType;
    img[pcir + 0x15] = last ? 0x80 : 0x00;
    set16(img, pcir + 0x16, 0);
    if (codeType == 0) {
        // Revision 3 keeps the build bytes behind the structure, older ones inside it.
        const size_t build = setup.biosPcirRevision < 3 ? pcir + 0x18 : pcir + 0x1C;
        img[build] = verHi;
        img[build + 1] = verLo;
    }
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < img.size(); ++i)
        sum = static_cast<uint8_t>(sum + img[i]);
    img.back() = static_cast<uint8_t>(0x100 - sum);
    return img;
}

void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

// Extended image header: type, size, next offset (relative to the header).
size_t putExtended(Bytes& img, size_t header, size_t at, uint32_t type, uint32_t size,
                   size_t next) {
    set32(img, at, type);
    set32(img, at + 8, size);
    set32(img, at + 12, next == 0 ? 0 : static_cast<uint32_t>(next - header));
    return at + size;
}

}  // namespace

Bytes buildBootImage(const ControllerSetup& setup) {
    Bytes out;
    const bool withEfi = setup.uefiVersion != 0;
    if (setup.biosVersion != 0) {
        append(out, romImage(setup, 0, 18, static_cast<uint16_t>(setup.biosVersion >> 16),
                             static_cast<uint8_t>(setup.biosVersion >> 8),
                             static_cast<uint8_t>(setup.biosVersion), !withEfi));
    }
    if (withEfi) {
        append(out, romImage(setup, 3, 24, static_cast<uint16_t>(setup.uefiVersion >> 16),
                             static_cast<uint8_t>(setup.uefiVersion >> 8),
                             static_cast<uint8_t>(setup.uefiVersion), true));
    }
    return out;
}

Bytes buildFirmwareImage(const ControllerSetup& setup) {
    const ChipRow& chip = chipFor(setup.deviceId);
    const bool formB = hasPcie(chip);  // the newest family's header form
    const size_t size = formB ? 70000 : 65536 + 4096;
    Bytes img(size, 0);
    fillPattern(img, 0, size, setup.deviceId);
    const size_t h = formB ? kFormBHeaderOffset : 0;
    if (formB) {
        std::memset(img.data(), 0, kFormBHeaderOffset);
        set32(img, 0, 0xEB0000FF);  // prefix block; word 1 stays 0
        set32(img, 0x2C, static_cast<uint32_t>(kFormBHeaderOffset));
    }
    std::memset(img.data() + h, 0, kHeaderSize);
    for (int i = 0; i < 4; ++i)
        set32(img, h + 4 * i, formB ? kFormB[i] : kFormA[i]);
    set32(img, h + 16, static_cast<uint32_t>(chip.msgVersion) << 16);
    set32(img, h + 20, setup.firmwareVersion);
    set32(img, h + 24, setup.nvdataVersion);
    set32(img, h + 28, setup.packageVersion);
    set16(img, h + 0x20, setup.vendorId);
    set16(img, h + 0x22, setup.productId);
    setText(img, h + 104, 32, setup.firmwareName);
    setText(img, h + 140, 32, "Quarlen");
    setText(img, h + 176, 32, setup.packageName);

    // Extended image chain right behind the header.
    const size_t devices = h + kHeaderSize;
    const size_t nvdata = devices + 128;
    const size_t boot = nvdata + 256;
    const size_t init = boot + 1024;
    set32(img, h + 0x30, static_cast<uint32_t>(devices - h));
    std::memset(img.data() + devices, 0, init + 1024 - devices);
    putExtended(img, h, devices, 7, 128, nvdata);
    img[devices + 66] = 1;
    set16(img, devices + 72, setup.deviceId);
    putExtended(img, h, nvdata, 3, 256, boot);
    set32(img, nvdata + 64, 0x546F6C62);
    set32(img, nvdata + 72, setup.nvdataVersion);
    set16(img, nvdata + 92, 16);  // product-ID block at 64 + 4 * 16
    const size_t prod = nvdata + 64 + 64;
    set32(img, prod, 0x57657370);
    setText(img, prod + 4, 8, "QUARLEN");
    setText(img, prod + 12, 16, setup.boardName);
    set16(img, prod + 40, 0);
    set16(img, prod + 42, setup.deviceId);
    img[prod + 48] = 0xFF;  // every chip revision
    img[prod + 50] = 0;
    putExtended(img, h, boot, 4, 1024, init);
    putExtended(img, h, init, 5, 1024, 0);

    // Checksum word: all 32-bit words sum to 0.
    const size_t fix = formB ? 0x28 : 0x24;
    set32(img, fix, 0);
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= img.size(); i += 4)
        sum += get32(img, i);
    set32(img, fix, 0u - sum);
    return img;
}

long firmwareHeaderOffset(const Bytes& image) {
    auto matches = [&](size_t at, const uint32_t* sig, bool topByteOnly) {
        if (at + 256 > image.size())
            return false;
        if (topByteOnly ? (get32(image, at) >> 24) != (sig[0] >> 24) : get32(image, at) != sig[0]) {
            return false;
        }
        for (int i = 1; i < 4; ++i) {
            if (get32(image, at + 4 * i) != sig[i])
                return false;
        }
        return true;
    };
    if (matches(0, kFormA, false))
        return 0;
    const size_t at = get32(image, 0x2C);
    if ((get32(image, 4) & 0xA5155AFF) <= 1 && matches(at, kFormB, true)) {
        return static_cast<long>(at);
    }
    return -1;
}

bool readFirmwareIdentity(const Bytes& image, FirmwareIdentity* out) {
    const long h = firmwareHeaderOffset(image);
    if (h < 0)
        return false;
    out->firmwareVersion = get32(image, static_cast<size_t>(h) + 20);
    out->nvdataVersion = get32(image, static_cast<size_t>(h) + 24);
    return true;
}

Bytes buildFillerRegion(const char* tag, uint32_t size, uint32_t seed) {
    Bytes b(size, 0);
    fillPattern(b, 16, size, seed);
    setText(b, 0, 16, tag);
    return b;
}

}  // namespace qemu::ctl
