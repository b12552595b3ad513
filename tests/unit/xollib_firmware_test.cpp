// Firmware transfer against a scripted driver: chunk layouts by frame flag,
// the last-chunk flag, reply clamping, region size and whole-region reads,
// and the flash erase's region flag rule.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "shell/bytes.h"
#include "xollib_fake_driver.h"

namespace {

class XolFirmware : public ::testing::Test {
  protected:
    void SetUp() override {
        classic = &driver.addIoc("/dev/xol2ctl", 0, 0x0411, 2);
        classic->messageVersion = 0x0205;
        driver.addIoc("/dev/xol2ctl", 1, 0x0410).messageVersion = 0x0105;
        xif25 = &driver.addIoc("/dev/xol3ctl", 0, 0x0630);
        uint32_t count = 0;
        ASSERT_EQ(discoverWith(0, &count), 0u);
        ASSERT_EQ(count, 3u);
        driver.clearLog();
    }
    void TearDown() override { EXPECT_EQ(driver.openCount, 0); }

    FakeDriver driver;
    FakeIoc* classic = nullptr;
    FakeIoc* xif25 = nullptr;
    const uint32_t classicHandle = 0x01000001;
    const uint32_t oldHandle = 0x01000002;
    const uint32_t xif25Handle = 0x01000003;
};

TEST_F(XolFirmware, DownloadChunkLayoutsAndLastFlag) {
    std::vector<uint8_t> chunk(64, 0xC3);
    uint8_t reply[32];
    for (int32_t last : {0, 1, 2}) {
        driver.clearLog();
        uint32_t length = sizeof reply;
        ASSERT_EQ(XolLib2FwDownload(&classicHandle, chunk.data(), 64, 128, 1, last, reply, &length,
                                    nullptr),
                  0u);
        EXPECT_EQ(length, 20u);
        const auto sent = driver.passthroughs();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].frame.size(), 36u);
        EXPECT_EQ(sent[0].frame[7], last == 1 ? 1 : 0) << last;
        EXPECT_EQ(getLe32(sent[0].frame.data(), 28), 128u);
        EXPECT_EQ(getLe32(sent[0].frame.data(), 32), 64u);
        EXPECT_EQ(sent[0].dataOut, chunk);
        EXPECT_EQ(getLe32(sent[0].header.data(), 12), 60u);
        EXPECT_EQ(getLe32(sent[0].header.data(), 48), 20u);
        EXPECT_EQ(getLe32(sent[0].header.data(), 52), 0u);
    }
    driver.clearLog();
    uint32_t length = sizeof reply;
    ASSERT_EQ(XolLib2FwDownload(&xif25Handle, chunk.data(), 64, 0, 1, 1, reply, &length, nullptr),
              0u);
    const auto sent = driver.passthroughs();
    EXPECT_EQ(sent[0].frame.size(), 32u);
    EXPECT_EQ(sent[0].frame[7], 1);
    EXPECT_EQ(getLe32(sent[0].frame.data(), 28), 64u);
}

TEST_F(XolFirmware, OldXifVersionSendsNothing) {
    uint8_t reply[24];
    uint32_t length = sizeof reply;
    uint8_t chunk[4] = {};
    EXPECT_EQ(XolLib2FwDownload(&oldHandle, chunk, 4, 0, 1, 1, reply, &length, nullptr), 96u);
    EXPECT_EQ(length, 0u);
    length = sizeof reply;
    EXPECT_EQ(XolLib2FwUpload(&oldHandle, chunk, 4, 0, 1, reply, &length, nullptr), 96u);
    EXPECT_EQ(XolLib2FlashErase(&oldHandle, kXolEraseRegionA, nullptr, nullptr), 96u);
    EXPECT_TRUE(driver.requests.empty());
}

TEST_F(XolFirmware, UploadOfNothingReportsTheRegionSize) {
    classic->regions[1] = std::vector<uint8_t>(1000, 0x42);
    uint8_t reply[24] = {};
    uint32_t length = sizeof reply;
    ASSERT_EQ(XolLib2FwUpload(&classicHandle, nullptr, 0, 0, 1, reply, &length, nullptr), 0u);
    EXPECT_EQ(length, 24u);
    EXPECT_EQ(getLe32(reply, 20), 1000u);
    const auto sent = driver.passthroughs();
    EXPECT_EQ(sent[0].frame.size(), 36u);
    EXPECT_EQ(sent[0].frame[3], 0x12);
    EXPECT_EQ(getLe32(sent[0].header.data(), 24), 0u);  // no data-in
    EXPECT_EQ(getLe32(sent[0].header.data(), 52), 0u);
    uint32_t size = 0;
    EXPECT_EQ(XolLib2GetRegionSize(&classicHandle, 1, &size), 0u);
    EXPECT_EQ(size, 1000u);
}

TEST_F(XolFirmware, UploadReplyIsClampedToTheCallersBuffer) {
    uint8_t reply[24];
    std::memset(reply, 0xEE, sizeof reply);
    uint32_t length = 20;
    uint8_t chunk[16];
    ASSERT_EQ(XolLib2FwUpload(&xif25Handle, chunk, 16, 0, 1, reply, &length, nullptr), 0u);
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(reply[20], 0xEE);
    driver.ioctlResult = -1;
    length = 20;
    EXPECT_EQ(XolLib2FwUpload(&xif25Handle, chunk, 16, 0, 1, reply, &length, nullptr), 52u);
    EXPECT_EQ(length, 0u);
}

TEST_F(XolFirmware, RejectedChunkShowsInTheStatusRecordOnly) {
    uint8_t reply[20];
    uint32_t length = sizeof reply;
    uint8_t chunk[4] = {};
    XolStatusInfo status = {};
    driver.nextIocStatus = 0x0002;
    EXPECT_EQ(XolLib2FwDownload(&xif25Handle, chunk, 4, 0, 1, 0, reply, &length, &status), 0u);
    EXPECT_EQ(status.flags, 1u);
    EXPECT_EQ(status.iocStatus, 2u);
    // The whole-region read gives up on it.
    xif25->regions[3] = std::vector<uint8_t>(100, 1);
    driver.nextIocStatus = 0x0002;
    ByteBuffer image;
    EXPECT_EQ(XolLib2ReadRegion(&xif25Handle, 3, &image), 1u);
    EXPECT_TRUE(image.empty());
}

TEST_F(XolFirmware, WholeRegionRead) {
    std::vector<uint8_t> region(20000);
    for (size_t i = 0; i < region.size(); ++i)
        region[i] = static_cast<uint8_t>(i % 251);
    classic->regions[5] = region;
    ByteBuffer image;
    ASSERT_EQ(XolLib2ReadRegion(&classicHandle, 5, &image), 0u);
    ASSERT_EQ(image.size(), region.size());
    EXPECT_EQ(std::memcmp(image.data(), region.data(), region.size()), 0);
    EXPECT_EQ(driver.passthroughs().size(), 3u);
    EXPECT_EQ(XolLib2ReadRegion(&classicHandle, 6, &image), 1u);  // empty region
}

TEST_F(XolFirmware, RegionSizesAboveTheLimitAreRefusedBeforeAnyTransfer) {
    // Erased flash reports 0xFFFFFFFF; just above 0xFFFFC000 an offset
    // counter would wrap. Only the size query may reach the controller.
    for (const uint32_t claimed : {0xFFFFFFFFu, 0xFFFFC001u, kXolMaxRegionSize + 1}) {
        classic->regions[2] = std::vector<uint8_t>(100, 0xAA);
        classic->reportedSizes[2] = claimed;
        driver.clearLog();
        ByteBuffer image;
        EXPECT_EQ(XolLib2ReadRegion(&classicHandle, 2, &image), kXolStatusSizeTooLarge) << claimed;
        EXPECT_TRUE(image.empty());
        EXPECT_EQ(driver.passthroughs().size(), 1u) << claimed;
    }
    // The limit itself is a region like any other: the last chunk is the rest.
    classic->reportedSizes[2] = 16384 + 10;
    classic->regions[2] = std::vector<uint8_t>(16384 + 10, 0x5A);
    driver.clearLog();
    ByteBuffer image;
    ASSERT_EQ(XolLib2ReadRegion(&classicHandle, 2, &image), 0u);
    EXPECT_EQ(image.size(), 16394u);
    EXPECT_EQ(getLe32(driver.passthroughs().back().frame.data(), 32), 10u);
}

TEST_F(XolFirmware, EraseTakesOnlyTwoRegionFlags) {
    uint8_t reply[20];
    std::memset(reply, 0xEE, sizeof reply);
    XolStatusInfo status = {};
    for (uint32_t flags : {0u, 0x24000000u, 0x10000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(XolLib2FlashErase(&xif25Handle, flags, reply, &status), 23u) << flags;
    }
    EXPECT_TRUE(driver.requests.empty());
    for (uint32_t flags : {kXolEraseRegionA, kXolEraseRegionB}) {
        driver.clearLog();
        ASSERT_EQ(XolLib2FlashErase(&xif25Handle, flags, reply, &status), 0u);
        const auto sent = driver.passthroughs();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].frame.size(), 16u);
        EXPECT_EQ(sent[0].frame[3], 0x17);
        EXPECT_EQ(getLe32(sent[0].frame.data(), 12), flags);
        EXPECT_EQ(getLe32(sent[0].header.data(), 12), 512u);
        EXPECT_EQ(getLe32(sent[0].header.data(), 48), 20u);
        EXPECT_EQ(reply[0], 0);
    }
    // After a failed transport the outputs hold zeros.
    driver.ioctlResult = -1;
    std::memset(reply, 0xEE, sizeof reply);
    status.flags = 9;
    EXPECT_EQ(XolLib2FlashErase(&xif25Handle, kXolEraseRegionA, reply, &status), 52u);
    EXPECT_EQ(reply[5], 0);
    EXPECT_EQ(status.flags, 0u);
}

}  // namespace
