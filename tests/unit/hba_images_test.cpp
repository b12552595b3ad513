// The pure parts of HBA dl that the end-to-end runs cannot pin down: the
// device-family rule, checksum tails, the pieces and order of a BIOS merge,
// and walks that must stop on damaged bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "console_capture.h"
#include "hba/firmware_image.h"
#include "hba/option_rom.h"
#include "shell/bytes.h"
#include "shell/confirm.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(FirmwareImage, DeviceFamilyRule) {
    EXPECT_TRUE(deviceIdsMatch(0x0630, 0x0630));
    EXPECT_TRUE(deviceIdsMatch(0x0630, 0x0632));
    EXPECT_TRUE(deviceIdsMatch(0x0521, 0x0528));
    EXPECT_TRUE(deviceIdsMatch(0x0411, 0x0410));
    EXPECT_FALSE(deviceIdsMatch(0x0630, 0x0528));
    EXPECT_FALSE(deviceIdsMatch(0x0418, 0x0410));  // not in a family: only itself
    EXPECT_TRUE(deviceIdsMatch(0x1234, 0x1234));
}

TEST(FirmwareImage, ChecksumTailIsZeroPadded) {
    const Bytes words = {1, 0, 0, 0, 2, 0, 0, 0};
    EXPECT_EQ(firmwareChecksum(words.data(), words.size()), 3u);
    for (size_t tail = 1; tail <= 3; ++tail) {
        Bytes b = words;
        for (size_t i = 0; i < tail; ++i)
            b.push_back(static_cast<uint8_t>(0x10 << i));
        uint32_t expected = 3;
        for (size_t i = 0; i < tail; ++i)
            expected += static_cast<uint32_t>(0x10 << i) << (8 * i);
        EXPECT_EQ(firmwareChecksum(b.data(), b.size()), expected) << tail;
    }
    EXPECT_EQ(firmwareChecksum(words.data(), 0), 0u);
}

TEST(FirmwareImage, HeadersShorterThanTheirFormHaveNoSignature) {
    Bytes formA = {0x00, 0x00, 0x00, 0xEA, 0x5A, 0xA5, 0xFA, 0x5A,
                   0xA5, 0xFA, 0x5A, 0xA5, 0xFA, 0x5A, 0xA5, 0x5A};
    size_t header = 99;
    EXPECT_EQ(locateFirmwareHeader(formA.data(), formA.size(), &header), 0u);
    EXPECT_EQ(header, 0u);
    EXPECT_EQ(locateFirmwareHeader(formA.data(), 15, &header), 1u);
    {
        // A signature alone: the header fields behind it are not there to read.
        ConsoleCapture console;
        const ControllerIdentity ioc;
        EXPECT_EQ(
            checkFirmwareIdentity(formA.data(), formA.size(), formA.data(), formA.size(), ioc), 1u);
        EXPECT_EQ(
            checkNvdataCompatibility(formA.data(), formA.size(), formA.data(), formA.size(), ioc),
            1u);
    }
    // Form B pointing at a header that would end past the file.
    Bytes formB(0x74, 0);
    putLe32(formB.data(), 0x2C, 0x40);
    putLe32(formB.data(), 0x40, 0xEB000000);
    putLe32(formB.data(), 0x44, 0x5AEAA500);
    putLe32(formB.data(), 0x48, 0xA55AEAA5);
    putLe32(formB.data(), 0x4C, 0x5AA55AEA);
    EXPECT_EQ(locateFirmwareHeader(formB.data(), formB.size(), &header), 0u);
    EXPECT_EQ(header, 0x40u);
    EXPECT_EQ(locateFirmwareHeader(formB.data(), 0x73, &header), 1u);
}

// A ROM image of `blocks` 512-byte units with its PCIR structure at 0x1C.
Bytes romImage(uint8_t codeType, uint16_t deviceId, uint16_t blocks, uint8_t fill,
               bool last = false) {
    Bytes img(size_t{blocks} * 512, fill);
    img[0] = 0x55;
    img[1] = 0xAA;
    putLe16(img.data(), 0x18, 0x1C);
    std::memcpy(img.data() + 0x1C, "PCIR", 4);
    putLe16(img.data(), 0x1C + 6, deviceId);
    putLe16(img.data(), 0x1C + 0x10, blocks);
    img[0x1C + 0x14] = codeType;
    img[0x1C + 0x15] = last ? 0x80 : 0x00;
    return img;
}

Bytes component(uint32_t kind, uint16_t id, uint8_t fill) {
    Bytes c(128, fill);
    c[0] = 0x55;
    c[1] = 0xAA;
    putLe32(c.data(), 56, (kind << 28) | id);
    putLe32(c.data(), 96, 128);
    return c;
}

Bytes chain(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The fill bytes of each 512-byte unit or component, in order, and checks
// that every ROM part sums to 0 with the last bit only on the last one.
struct Piece {
    uint8_t fill;
    size_t size;
};

void expectPieces(const Bytes& merged, const std::vector<Piece>& pieces, size_t romParts) {
    size_t at = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_LE(at + pieces[i].size, merged.size());
        EXPECT_EQ(merged[at + 0x40], pieces[i].fill);
        if (i < romParts) {
            uint8_t sum = 0;
            for (size_t b = 0; b < pieces[i].size; ++b)
                sum = static_cast<uint8_t>(sum + merged[at + b]);
            EXPECT_EQ(sum, 0);
            EXPECT_EQ(merged[at + 0x1C + 0x15], i + 1 == romParts ? 0x80 : 0x00);
        }
        at += pieces[i].size;
    }
    EXPECT_EQ(at, merged.size());
}

TEST(OptionRom, X86PiecesFollowTheDeviceIds) {
    const Bytes flash = chain({romImage(0, 0x0630, 2, 0xA1), romImage(0, 0x0631, 1, 0xA2),
                               romImage(3, 0x0630, 1, 0xA3, true)});
    Bytes merged;
    // Equal IDs: the file's image, then the flash's second x86 image.
    // The file's own last bit is the merge's to decide.
    Bytes file = romImage(0, 0x0630, 1, 0xF1, true);
    ASSERT_TRUE(assembleBios(file.data(), file.size(), flash.data(), flash.size(), &merged));
    expectPieces(merged, {{0xF1, 512}, {0xA2, 512}, {0xA3, 512}}, 3);
    // The file one above the flash: the flash's first image, then the whole file.
    file = romImage(0, 0x0631, 1, 0xF2, true);
    ASSERT_TRUE(assembleBios(file.data(), file.size(), flash.data(), flash.size(), &merged));
    expectPieces(merged, {{0xA1, 1024}, {0xF2, 512}, {0xA3, 512}}, 3);
    // Any other pair: the file's image, then the flash's first.
    file = romImage(0, 0x0632, 1, 0xF3, true);
    ASSERT_TRUE(assembleBios(file.data(), file.size(), flash.data(), flash.size(), &merged));
    expectPieces(merged, {{0xF3, 512}, {0xA1, 1024}, {0xA3, 512}}, 3);
    // A file without EFI or FCODE keeps the flash's, with the last bit moved.
    const Bytes withFcode = chain({romImage(0, 0x0630, 1, 0xA1), romImage(3, 0x0630, 1, 0xA3),
                                   romImage(1, 0x0630, 1, 0xA4, true)});
    file = romImage(0, 0x0630, 1, 0xF6, true);
    ASSERT_TRUE(
        assembleBios(file.data(), file.size(), withFcode.data(), withFcode.size(), &merged));
    expectPieces(merged, {{0xF6, 512}, {0xA3, 512}, {0xA4, 512}}, 3);
    // No flash: the file's FCODE first means its own x86 image, then the FCODE.
    file = chain({romImage(1, 0x0630, 1, 0xF4), romImage(0, 0x0630, 1, 0xF5, true)});
    ASSERT_TRUE(assembleBios(file.data(), file.size(), nullptr, 0, &merged));
    expectPieces(merged, {{0xF5, 512}, {0xF4, 512}}, 2);
}

TEST(OptionRom, ComponentsFollowTheRomPartsInIdentifierOrder) {
    const Bytes flash = chain({romImage(0, 0x0630, 1, 0xA1, true), component(1, 0x120, 0xB1),
                               component(3, 0x102, 0xB2), component(1, 0x102, 0xB3)});
    const Bytes file =
        chain({romImage(0, 0x0630, 1, 0xF1), romImage(3, 0x0630, 1, 0xF2, true),
               component(3, 0x113, 0xC1), component(1, 0x110, 0xC2), component(3, 0x102, 0xC3)});
    Bytes merged;
    ASSERT_TRUE(assembleBios(file.data(), file.size(), flash.data(), flash.size(), &merged));
    expectPieces(merged,
                 {{0xF1, 512}, {0xF2, 512}, {0xB3, 128}, {0xB1, 128}, {0xC3, 128}, {0xC1, 128}}, 2);
}

TEST(OptionRom, WalksStopAtDamagedBytes) {
    Bytes rom = chain({romImage(0, 0x0630, 1, 1), romImage(3, 0x0630, 1, 2, true)});
    EXPECT_EQ(walkRomImages(rom.data(), rom.size()).size(), 2u);
    putLe16(rom.data(), 512 + 0x1C + 0x10, 0);  // second of length 0
    EXPECT_EQ(walkRomImages(rom.data(), rom.size()).size(), 1u);
    putLe16(rom.data(), 512 + 0x1C + 0x10, 2);  // second past the buffer
    EXPECT_EQ(walkRomImages(rom.data(), rom.size()).size(), 1u);
    putLe16(rom.data(), 512 + 0x1C + 0x10, 1);
    putLe16(rom.data(), 512 + 0x18, 500);  // PCIR structure leaves its image
    EXPECT_EQ(walkRomImages(rom.data(), rom.size()).size(), 1u);

    Bytes withParts =
        chain({romImage(0, 0x0630, 1, 1, true), component(1, 0x102, 2), component(1, 0x110, 3)});
    auto images = walkRomImages(withParts.data(), withParts.size());
    EXPECT_EQ(walkRomComponents(withParts.data(), withParts.size(), images).size(), 2u);
    putLe32(withParts.data(), 512 + 128 + 96, 0);  // size 0
    EXPECT_EQ(walkRomComponents(withParts.data(), withParts.size(), images).size(), 1u);
    putLe32(withParts.data(), 512 + 128 + 96, 129);  // past the buffer
    EXPECT_EQ(walkRomComponents(withParts.data(), withParts.size(), images).size(), 1u);
}

TEST(Confirm, EndOfInputIsNoAnswer) {
    {
        ConsoleCapture console("ok\n");
        EXPECT_EQ(confirmYesNo("Go? "), kConfirmNoAnswer);
        EXPECT_EQ(console.text(),
                  "Go? Invalid input specified.\nGo? Invalid input string specified.\n");
    }
    {
        ConsoleCapture console("x\nno\n");
        EXPECT_EQ(confirmYesNo("Go? "), kConfirmNo);
    }
}

}  // namespace
