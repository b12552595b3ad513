// Pure pieces of the controller library: request frames, selector and status
// tables, the passthrough block's layout and the boot image version word.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "shell/bytes.h"
#include "xollib/xol_internal.h"

namespace {

TEST(XolFrames, PassthroughBlockFieldsSitAtTheirOffsets) {
    EXPECT_EQ(sizeof(XolPassthroughBlock), 112u);
    EXPECT_EQ(sizeof(XolStatusInfo), 16u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, status), 12u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, requestLength), 28u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, request), 32u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, dataOutLength), 40u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, dataOut), 48u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, replyLength), 56u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, reply), 64u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, dataInLength), 72u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, dataIn), 80u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, senseLength), 88u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, sense), 96u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, timeoutSeconds), 104u);
    EXPECT_EQ(offsetof(XolPassthroughBlock, spare), 108u);
}

TEST(XolFrames, FactsFramesCarryOnlyFunctionAndPort) {
    uint8_t frame[12];
    std::memset(frame, 0xEE, sizeof frame);
    buildIocFactsFrame(frame);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 12),
              (std::vector<uint8_t>{0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::memset(frame, 0xEE, sizeof frame);
    buildPortFactsFrame(frame, 7);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 12),
              (std::vector<uint8_t>{0, 0, 0, 5, 0, 0, 7, 0, 0, 0, 0, 0}));
}

TEST(XolFrames, ConfigFrameLayout) {
    uint8_t frame[28];
    std::memset(frame, 0xEE, sizeof frame);
    const uint8_t header[4] = {2, 0, 1, 15};
    buildConfigFrame(frame, kConfigActionReadNvram, header, 0x1234, kExtPageTypeSasPhy, 0x10000005);
    EXPECT_EQ(frame[0], 6);
    EXPECT_EQ(frame[1], 0);
    EXPECT_EQ(frame[2], 0);
    EXPECT_EQ(frame[3], 0x04);
    EXPECT_EQ(getLe16(frame, 4), 0x1234);
    EXPECT_EQ(frame[6], 19);
    EXPECT_EQ(frame[7], 0);
    for (int i = 8; i < 20; ++i)
        EXPECT_EQ(frame[i], 0) << i;
    EXPECT_EQ(std::vector<uint8_t>(frame + 20, frame + 24), (std::vector<uint8_t>{2, 0, 1, 15}));
    EXPECT_EQ(getLe32(frame, 24), 0x10000005u);
}

TEST(XolFrames, ConfigStatusMapping) {
    EXPECT_EQ(mapConfigIocStatus(0), 0u);
    EXPECT_EQ(mapConfigIocStatus(0x0020), 256u);
    EXPECT_EQ(mapConfigIocStatus(0x0021), 257u);
    EXPECT_EQ(mapConfigIocStatus(0x0022), 258u);
    EXPECT_EQ(mapConfigIocStatus(0x0001), 258u);
    EXPECT_EQ(mapConfigIocStatus(0x0023), 1u);
    EXPECT_EQ(mapConfigIocStatus(0x8022), 258u);  // the log-info bit is not part of it
}

TEST(XolFrames, SelectorsMapToActions) {
    uint8_t action = 0xFF;
    const uint8_t reads[] = {1, 5, 6};
    const uint8_t writes[] = {2, 3, 4};
    for (uint32_t selector = 1; selector <= 3; ++selector) {
        ASSERT_EQ(readSelectorAction(selector, &action), 0u);
        EXPECT_EQ(action, reads[selector - 1]);
        ASSERT_EQ(writeSelectorAction(selector, &action), 0u);
        EXPECT_EQ(action, writes[selector - 1]);
    }
    EXPECT_EQ(readSelectorAction(0, &action), 18u);
    EXPECT_EQ(readSelectorAction(4, &action), 18u);
    EXPECT_EQ(writeSelectorAction(0, &action), 18u);
    EXPECT_EQ(writeSelectorAction(7, &action), 18u);
}

TEST(XolFrames, ClassicDownloadLayout) {
    uint8_t frame[48];
    std::memset(frame, 0xEE, sizeof frame);
    EXPECT_EQ(buildDownloadFrame(frame, false, 1, 0x4000, 0x8000, true), 36u);
    EXPECT_EQ(frame[0], 1);
    EXPECT_EQ(frame[3], 0x09);
    EXPECT_EQ(frame[7], 1);
    EXPECT_EQ(getLe32(frame, 12), 0x4000u);
    EXPECT_EQ(frame[21], 0);
    EXPECT_EQ(frame[22], 12);
    EXPECT_EQ(frame[23], 0);
    EXPECT_EQ(getLe32(frame, 28), 0x8000u);
    EXPECT_EQ(getLe32(frame, 32), 0x4000u);
    for (int i : {1, 2, 4, 5, 6, 8, 9, 10, 11, 16, 17, 18, 19, 20, 24, 25, 26, 27}) {
        EXPECT_EQ(frame[i], 0) << i;
    }
    for (int i = 36; i < 48; ++i)
        EXPECT_EQ(frame[i], 0) << i;
    buildDownloadFrame(frame, false, 1, 16, 0, false);
    EXPECT_EQ(frame[7], 0);
}

TEST(XolFrames, Xif25DownloadLayout) {
    uint8_t frame[48];
    std::memset(frame, 0xEE, sizeof frame);
    EXPECT_EQ(buildDownloadFrame(frame, true, 2, 100, 0x10000, true), 32u);
    std::vector<uint8_t> expected(48, 0);
    expected[0] = 2;
    expected[3] = 0x09;
    expected[7] = 1;
    putLe32(expected.data(), 12, 100);
    putLe32(expected.data(), 24, 0x10000);
    putLe32(expected.data(), 28, 100);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 48), expected);
}

TEST(XolFrames, UploadLayouts) {
    uint8_t frame[48];
    std::memset(frame, 0xEE, sizeof frame);
    EXPECT_EQ(buildUploadFrame(frame, false, 2, 512, 1024), 36u);
    std::vector<uint8_t> classic(48, 0);
    classic[0] = 2;
    classic[3] = 0x12;
    classic[22] = 12;
    putLe32(classic.data(), 28, 1024);
    putLe32(classic.data(), 32, 512);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 48), classic);

    std::memset(frame, 0xEE, sizeof frame);
    EXPECT_EQ(buildUploadFrame(frame, true, 2, 512, 1024), 32u);
    std::vector<uint8_t> xif25(48, 0);
    xif25[0] = 2;
    xif25[3] = 0x12;
    putLe32(xif25.data(), 24, 1024);
    putLe32(xif25.data(), 28, 512);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 48), xif25);
}

TEST(XolFrames, EraseFrame) {
    uint8_t frame[16];
    std::memset(frame, 0xEE, sizeof frame);
    buildEraseFrame(frame, 0x04000000);
    std::vector<uint8_t> expected(16, 0);
    expected[3] = 0x17;
    putLe32(expected.data(), 12, 0x04000000);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 16), expected);
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
