// Pure pieces of the controller library: the firmware transfer frames in both
// layouts and the boot image version word.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "shell/bytes.h"
#include "xollib/xol_internal.h"

namespace {

// 48 zero bytes with the given bytes and little-endian words set.
std::vector<uint8_t> layout(std::initializer_list<std::pair<int, uint8_t>> bytes,
                            std::initializer_list<std::pair<int, uint32_t>> words) {
    std::vector<uint8_t> out(48, 0);
    for (const auto& [at, value] : bytes)
        out[at] = value;
    for (const auto& [at, value] : words)
        putLe32(out.data(), at, value);
    return out;
}

TEST(XolFrames, TransferFramesInBothLayouts) {
    uint8_t frame[48];
    auto fresh = [&frame] { std::memset(frame, 0xEE, sizeof frame); };
    auto bytes = [&frame] { return std::vector<uint8_t>(frame, frame + 48); };
    fresh();
    EXPECT_EQ(buildDownloadFrame(frame, false, 1, 0x4000, 0x8000, true), 36u);
    EXPECT_EQ(bytes(), layout({{0, 1}, {3, 0x09}, {7, 1}, {22, 12}},
                              {{12, 0x4000}, {28, 0x8000}, {32, 0x4000}}));
    fresh();
    EXPECT_EQ(buildDownloadFrame(frame, true, 2, 100, 0x10000, true), 32u);
    EXPECT_EQ(bytes(), layout({{0, 2}, {3, 0x09}, {7, 1}}, {{12, 100}, {24, 0x10000}, {28, 100}}));
    buildDownloadFrame(frame, false, 1, 16, 0, false);
    EXPECT_EQ(frame[7], 0);
    fresh();
    EXPECT_EQ(buildUploadFrame(frame, false, 2, 512, 1024), 36u);
    EXPECT_EQ(bytes(), layout({{0, 2}, {3, 0x12}, {22, 12}}, {{28, 1024}, {32, 512}}));
    fresh();
    EXPECT_EQ(buildUploadFrame(frame, true, 2, 512, 1024), 32u);
    EXPECT_EQ(bytes(), layout({{0, 2}, {3, 0x12}}, {{24, 1024}, {28, 512}}));
}

// A boot image: ROM header with the PCI data structure at 0x40.
std::vector<uint8_t> romImage(uint8_t structureRevision, uint8_t codeType) {
    std::vector<uint8_t> image(0x100, 0);
    putLe16(image.data(), 0, 0xAA55);
    putLe16(image.data(), 24, 0x40);
    image[0x40 + 12] = structureRevision;
    putLe16(image.data(), 0x40 + 18, 0x0708);
    image[0x40 + 20] = codeType;
    image[0x40 + 24] = 0x11;  // behind a short structure
    image[0x40 + 25] = 0x22;
    image[0x40 + 28] = 0x33;  // behind a long structure
    image[0x40 + 29] = 0x44;
    return image;
}

TEST(XolBiosVersion, ReadsRevisionLevelAndTheBytesBehindTheStructure) {
    uint32_t version = 0;
    auto image = romImage(2, 0);
    ASSERT_EQ(XolLib2BiosVersionFromImage(image.data(), image.size(), &version), 0u);
    EXPECT_EQ(version, 0x07081122u);
    image = romImage(3, 0);
    ASSERT_EQ(XolLib2BiosVersionFromImage(image.data(), image.size(), &version), 0u);
    EXPECT_EQ(version, 0x07083344u);
}

TEST(XolBiosVersion, ZeroWithoutSignatureOrForOtherCodeTypes) {
    uint32_t version = 0xFFFF;
    auto image = romImage(3, 0);
    image[0] = 0;
    ASSERT_EQ(XolLib2BiosVersionFromImage(image.data(), image.size(), &version), 0u);
    EXPECT_EQ(version, 0u);
    version = 0xFFFF;
    image = romImage(3, 3);
    ASSERT_EQ(XolLib2BiosVersionFromImage(image.data(), image.size(), &version), 0u);
    EXPECT_EQ(version, 0u);
}

TEST(XolBiosVersion, TruncatedImagesAreRefusedNotOverrun) {
    uint32_t version = 0x1234;
    auto image = romImage(3, 0);
    EXPECT_EQ(XolLib2BiosVersionFromImage(image.data(), 1, &version), 1u);
    EXPECT_EQ(XolLib2BiosVersionFromImage(image.data(), 20, &version), 1u);
    EXPECT_EQ(XolLib2BiosVersionFromImage(image.data(), 0x40 + 20, &version), 1u);
    EXPECT_EQ(XolLib2BiosVersionFromImage(image.data(), 0x40 + 29, &version), 1u);
    EXPECT_EQ(XolLib2BiosVersionFromImage(image.data(), 0x40 + 30, &version), 0u);
    putLe16(image.data(), 24, 0xFFFF);
    EXPECT_EQ(XolLib2BiosVersionFromImage(image.data(), image.size(), &version), 1u);
}

}  // namespace
