// The BIOS chain version lookup and the bounded texts of show's pages: pure
// functions fed with hand-built bytes, including chains that lie about their
// lengths and pointers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hba/rom_version.h"
#include "hba/show_pages.h"
#include "shell/bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct RomSpec {
    uint8_t codeType = 0;
    uint16_t blocks = 1;
    uint8_t pcirRevision = 3;
    uint16_t codeRevision = 0x0824;
    uint8_t buildHigh = 0x01;
    uint8_t buildLow = 0x02;
    bool last = false;
    uint16_t pcirAt = 0x1C;
    std::string text = {};  // placed at 0x40 (Open Firmware what-string)
};

Bytes romImage(const RomSpec& s) {
    Bytes img(static_cast<size_t>(s.blocks == 0 ? 1 : s.blocks) * 512, 0);
    img[0] = 0x55;
    img[1] = 0xAA;
    putLe16(img.data(), 0x18, s.pcirAt);
    const size_t p = s.pcirAt;
    if (p + 0x1E <= img.size()) {
        std::memcpy(img.data() + p, "PCIR", 4);
        img[p + 0x0C] = s.pcirRevision;
        putLe16(img.data(), p + 0x10, s.blocks);
        putLe16(img.data(), p + 0x12, s.codeRevision);
        img[p + 0x14] = s.codeType;
        img[p + 0x15] = s.last ? 0x80 : 0;
        const size_t build = s.pcirRevision < 3 ? p + 0x18 : p + 0x1C;
        img[build] = s.buildHigh;
        img[build + 1] = s.buildLow;
    }
    if (s.codeType == 3) {
        img[26] = s.buildLow;
        img[27] = s.buildHigh;
    }
    std::memcpy(img.data() + 0x40, s.text.data(), s.text.size());
    return img;
}

Bytes chain(std::initializer_list<RomSpec> specs) {
    Bytes out;
    for (const RomSpec& s : specs) {
        const Bytes img = romImage(s);
        out.insert(out.end(), img.begin(), img.end());
    }
    return out;
}

uint32_t lookup(const Bytes& rom, uint8_t type) {
    return romImageVersion(rom.data(), rom.size(), type);
}

TEST(RomVersion, FindsEachCodeTypeInAWellFormedChain) {
    RomSpec x86;
    RomSpec efi{.codeType = 3,
                .blocks = 2,
                .codeRevision = 0x1200,
                .buildHigh = 4,
                .buildLow = 0x10,
                .last = true};
    const Bytes rom = chain({x86, efi});
    EXPECT_EQ(lookup(rom, kRomCodeX86), 0x08240102u);
    EXPECT_EQ(lookup(rom, kRomCodeX86Alias), 0x08240102u);
    EXPECT_EQ(lookup(rom, kRomCodeFirstImage), 0x08240102u);
    EXPECT_EQ(lookup(rom, kRomCodeEfi), 0x12000410u);
    EXPECT_EQ(lookup(rom, kRomCodeOpenFirmware), kRomVersionNotFound);

    RomSpec old = x86;
    old.pcirRevision = 2;
    old.buildHigh = 7;
    old.buildLow = 9;
    EXPECT_EQ(lookup(chain({old}), kRomCodeX86), 0x08240709u);
}

TEST(RomVersion, OpenFirmwareTextsAndTheLastOneWins) {
    RomSpec a{.codeType = 1, .text = "@(#) QS Version 4.05.06.07\n"};
    RomSpec b{.codeType = 1, .text = "@(#)1.02.03.(beta)"};
    EXPECT_EQ(lookup(chain({a}), kRomCodeOpenFirmware), 0x04050607u);
    EXPECT_EQ(lookup(chain({a, b}), kRomCodeOpenFirmware), 0x01020300u);
    // "Version" after the text's end (a double quote ends it) is not used.
    RomSpec c{.codeType = 1, .text = "@(#)2.01.01.01\"Version 9.09.09.09"};
    EXPECT_EQ(lookup(chain({c}), kRomCodeOpenFirmware), 0x02010101u);
}

TEST(RomVersion, LyingChainsEndTheWalkInsideTheBuffer) {
    RomSpec x86;
    RomSpec efi{.codeType = 3, .last = true};
    Bytes notRom = chain({x86});
    notRom[0] = 0;
    EXPECT_EQ(lookup(notRom, kRomCodeX86), kRomVersionNotFound);
    EXPECT_EQ(romImageVersion(nullptr, 0, kRomCodeX86), kRomVersionNotFound);
    EXPECT_EQ(lookup(Bytes{0x55}, kRomCodeX86), kRomVersionNotFound);

    // A zero length would restart at the same image forever.
    Bytes zero = chain({x86, efi});
    putLe16(zero.data(), 0x1C + 0x10, 0);
    EXPECT_EQ(lookup(zero, kRomCodeEfi), kRomVersionNotFound);
    // An image longer than what was uploaded.
    Bytes longer = chain({x86});
    putLe16(longer.data(), 0x1C + 0x10, 3);
    EXPECT_EQ(lookup(longer, kRomCodeX86), kRomVersionNotFound);
    // A data structure pointer past the image.
    RomSpec far = x86;
    far.pcirAt = 0x1F0;
    EXPECT_EQ(lookup(chain({far}), kRomCodeX86), kRomVersionNotFound);
    // The last-image bit ends the walk before a later image.
    RomSpec lastX86 = x86;
    lastX86.last = true;
    EXPECT_EQ(lookup(chain({lastX86, efi}), kRomCodeEfi), kRomVersionNotFound);
    // A marker at the very end: digits beyond the image read as 255, no overrun.
    Bytes tail = chain({RomSpec{.codeType = 1, .last = true}});
    std::memcpy(tail.data() + tail.size() - 5, "@(#)1", 5);
    EXPECT_NE(lookup(tail, kRomCodeOpenFirmware), kRomVersionNotFound);
}

TEST(ShowPages, DeviceTextsAreCutAndShownSafely) {
    const uint8_t raw[] = {'A', 'B', 0x1B, '[', 0x07, 'C', 0, 'D', 0x80, 'E'};
    char out[32];
    copyDeviceText(raw, sizeof raw, 0, 16, out);
    EXPECT_STREQ(out, "AB.[.C");
    copyDeviceText(raw, sizeof raw, 7, 16, out);  // the data end without a NUL
    EXPECT_STREQ(out, "D.E");
    copyDeviceText(raw, sizeof raw, 0, 2, out);
    EXPECT_STREQ(out, "AB");
    copyDeviceText(raw, sizeof raw, 40, 16, out);
    EXPECT_STREQ(out, "");

    Bytes header(kFirmwareHeaderReadSize, 'x');
    FirmwareHeaderFields fields;
    EXPECT_FALSE(decodeFirmwareHeader(header.data(), header.size() - 1, &fields));
    ASSERT_TRUE(decodeFirmwareHeader(header.data(), header.size(), &fields));
    EXPECT_EQ(std::strlen(fields.firmwareName), kFirmwareNameLength);
    EXPECT_EQ(std::strlen(fields.packageName), kPackageNameLength);
}

TEST(ShowPages, PrefixedImagesPointAtTheirHeader) {
    Bytes image(kFirmwareHeaderReadSize, 0);
    const uint32_t formA[4] = {0xEA000000, 0x5AFAA55A, 0xA55AFAA5, 0x5AA55AFA};
    for (size_t i = 0; i < 4; ++i)
        putLe32(image.data(), 4 * i, formA[i]);
    uint32_t offset = 0;
    EXPECT_FALSE(firmwareHeaderIsPrefixed(image.data(), image.size(), &offset));

    Bytes prefixed(kFirmwareHeaderReadSize, 0);
    putLe32(prefixed.data(), 0, 0xEB0000FF);
    putLe32(prefixed.data(), 0x2C, 0x100);
    ASSERT_TRUE(firmwareHeaderIsPrefixed(prefixed.data(), prefixed.size(), &offset));
    EXPECT_EQ(offset, 0x100u);
    EXPECT_FALSE(isPrefixedFormHeader(prefixed.data(), prefixed.size()));
    const uint32_t formB[4] = {0xEB000000, 0x5AEAA500, 0xA55AEAA5, 0x5AA55AEA};
    for (size_t i = 0; i < 4; ++i)
        putLe32(prefixed.data(), 4 * i, formB[i]);
    EXPECT_TRUE(isPrefixedFormHeader(prefixed.data(), prefixed.size()));
}

}  // namespace
