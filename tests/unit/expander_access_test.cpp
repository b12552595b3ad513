// The shared expander layer: phy address schemes of both generations, the
// phy count, phy arguments, page reads, phy primitives and the reset request.
#include <gtest/gtest.h>

#include "console_capture.h"
#include "expander/expander_access.h"
#include "expander/phy_layout.h"
#include "expander_fake_device.h"
#include "shell/prompt.h"

namespace {

TEST(PhyLayout, FirstGenerationBlocks) {
    uint32_t a = 0;
    ASSERT_TRUE(phyControlBase(1, 0, &a));
    EXPECT_EQ(a, 0x50008000u);
    ASSERT_TRUE(phyControlBase(7, 6, &a));
    EXPECT_EQ(a, 0x50008000u + 0x10000u + 2 * 0x400u);
    ASSERT_TRUE(phyControlWordAddress(3, 5, &a));
    EXPECT_EQ(a, 0x50018400u + 0x18u);
    ASSERT_TRUE(phyErrorCounterAddress(3, 5, &a));
    EXPECT_EQ(a, 0x50018400u + 0x30u);
    ASSERT_TRUE(phyRecordAddress(3, 5, &a));
    EXPECT_EQ(a, 0x50018400u + 0x30u);
    // First-generation phys are not limited by the lane map.
    EXPECT_TRUE(phyControlBase(3, 60, &a));
}

TEST(PhyLayout, SecondGenerationFollowsTheLaneMap) {
    uint32_t a = 0;
    ASSERT_TRUE(phyControlWordAddress(8, 0, &a));
    EXPECT_EQ(a, 0x50080000u + 3 * 0x100000u + 4 * 0x4000u + 0x60u);
    ASSERT_TRUE(phyErrorCounterAddress(13, 0, &a));
    EXPECT_EQ(a, 0x50080000u + 3 * 0x100000u + 4 * 0x4000u + 0xC0u);
    ASSERT_TRUE(phyRecordAddress(10, 4, &a));
    EXPECT_EQ(a, 0x50080000u + 0x60u);

    struct Lane {
        uint32_t phy, cluster, lane;
    };
    const Lane lanes[] = {{0, 3, 4},  {3, 3, 7},  {4, 0, 0},  {11, 0, 7}, {12, 1, 0}, {27, 2, 7},
                          {28, 3, 0}, {31, 3, 3}, {32, 4, 0}, {47, 5, 7}, {48, 0, 0}, {51, 0, 3}};
    for (const Lane& l : lanes) {
        uint32_t cluster = 99, lane = 99;
        ASSERT_TRUE(phyLane(l.phy, &cluster, &lane)) << l.phy;
        EXPECT_EQ(cluster, l.cluster) << l.phy;
        EXPECT_EQ(lane, l.lane) << l.phy;
    }
    EXPECT_FALSE(phyControlBase(11, 52, &a));
    EXPECT_FALSE(phyControlWordAddress(12, 60, &a));
}

TEST(PhyLayout, StatusWindowsAndLinkConfiguration) {
    EXPECT_EQ(phyStatusBase(0, 12), 0xC0000000u);
    EXPECT_EQ(phyStatusBase(8, 12), 0xC0800000u);
    EXPECT_EQ(phyStatusBase(9, 12), 0xB0100000u);   // virtual: 9 % 4 = 1
    EXPECT_EQ(phyStatusBase(11, 12), 0xB0300000u);  // 11 % 4 = 3
    uint32_t a = 0;
    ASSERT_TRUE(virtualPhyStatusBase(24, 27, &a));
    EXPECT_EQ(a, 0xB0000000u);
    ASSERT_TRUE(virtualPhyStatusBase(26, 27, &a));
    EXPECT_EQ(a, 0xB0200000u);
    EXPECT_FALSE(virtualPhyStatusBase(23, 27, &a));
    EXPECT_FALSE(virtualPhyStatusBase(27, 27, &a));
    EXPECT_TRUE(isVirtualPhy(24, 27));
    EXPECT_FALSE(isVirtualPhy(23, 27));
    EXPECT_EQ(phyLinkConfigBase(9), 0x50008000u + 2 * 0x10000u + 0x400u);
}

TEST(PhyLayout, PhyCountRules) {
    EXPECT_EQ(phyCountFromRegister(13, 0x00FF0000), 27u);
    EXPECT_EQ(phyCountFromRegister(12, 0), 31u);
    EXPECT_EQ(phyCountFromRegister(1, 0xFF8C1234), 12u);  // bits 16..22 only
    EXPECT_EQ(phyCountFromRegister(10, 0x00300000), 48u);
}

// The settle waits run on a fake clock: counted, not slept.
uint32_t g_sleptMs = 0;
void fakeSleep(uint32_t ms) {
    g_sleptMs += ms;
}

class AccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_sleptMs = 0;
        setSleepFunction(fakeSleep);
    }
    void TearDown() override { setSleepFunction(nullptr); }
    void phyCount(uint32_t count) { fake_.setRegister(kPhyCountRegister, count << 16); }
    FakeExpander fake_{1};
};

TEST_F(AccessTest, PhyCountNeedsTheRegisterEvenWhenFixed) {
    FakeExpander fixed(13);
    uint32_t count = 0;
    ASSERT_EQ(getPhyCount(&count), 0u);
    EXPECT_EQ(count, 27u);
    fixed.failReads.insert(kPhyCountRegister);
    EXPECT_EQ(getPhyCount(&count), 1u);
}

TEST_F(AccessTest, PhyListArguments) {
    phyCount(12);
    struct Case {
        const char* text;
        uint32_t status;
        int32_t first, last;
        const char* message;
    };
    const Case cases[] = {
        {"07", 0, 7, -1, ""},
        {"0", 0, 0, -1, ""},
        {"3-3", 0, 3, -1, ""},
        {"2-11", 0, 2, 11, ""},
        {"007", 1, -1, -1,
         "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"},
        {"", 1, -1, -1, "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"},
        {"12", 1, -1, -1, "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"},
        {"1-", 1, -1, -1, "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"},
        {"x", 1, -1, -1, "ERROR: Invalid Phy number specified.\n"},
        {"+1", 1, -1, -1, "ERROR: Invalid Phy number specified.\n"},
        {"5-2", 1, -1, -1, "ERROR: Invalid Phy range specified.\n"},
        {"1-2-3", 1, -1, -1, "ERROR: Invalid Phy number specified. Provide a valid Phy number.\n"},
    };
    for (const Case& c : cases) {
        ConsoleCapture console;
        int32_t first = -1, last = -1;
        EXPECT_EQ(parsePhyList(c.text, &first, &last), c.status) << c.text;
        if (c.status == 0) {
            EXPECT_EQ(first, c.first) << c.text;
            EXPECT_EQ(last, c.last) << c.text;
        }
        EXPECT_EQ(console.text(), c.message) << c.text;
    }
}

TEST_F(AccessTest, PhyNumberWithoutAPhyCount) {
    fake_.failReads.insert(kPhyCountRegister);
    ConsoleCapture console;
    int32_t phy = -1;
    EXPECT_EQ(checkPhyNumber("3", &phy), 1u);
    EXPECT_EQ(console.text(), "ERROR: Unable to get total number of phys.\n");
}

TEST_F(AccessTest, PageReadAsksForTheLengthFirst) {
    std::vector<uint8_t> page(40, 0);
    page[39] = 0x5A;
    fake_.setPage(0xFF0F, page);
    ByteBuffer buffer;
    uint32_t length = 0;
    ASSERT_EQ(readExpanderPage(fake_.target(), 0xFF0F, kPageRegionManufacturing, &buffer, &length),
              0u);
    EXPECT_EQ(length, 40u);
    EXPECT_EQ(buffer[39], 0x5A);
    ASSERT_EQ(fake_.commands.size(), 2u);
    EXPECT_EQ(fake_.commands[0],
              (std::vector<uint8_t>{0x3C, 1, 0xE6, 0xFF, 0x0F, 0x00, 0x04, 2, 0, 0}));
    EXPECT_EQ(fake_.commands[1],
              (std::vector<uint8_t>{0x3C, 1, 0xE6, 0xFF, 0x0F, 0x00, 0x28, 2, 0, 0}));

    // A zero length gives an empty page, not a failure.
    fake_.pages[0xFE02] = std::vector<uint8_t>(8, 0);
    ASSERT_EQ(readExpanderPage(fake_.target(), 0xFE02, kPageRegionNone, &buffer, &length), 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(readExpanderPage(fake_.target(), 0x1234, kPageRegionNone, &buffer, &length), 1u);
}

TEST_F(AccessTest, RegisterValuesAreWrittenLeastSignificantFirst) {
    ASSERT_EQ(writeRegisterValue(fake_.target(), 0x43400000, 0x11223344), 0u);
    ASSERT_EQ(fake_.memoryWrites.size(), 1u);
    EXPECT_EQ(fake_.memoryWrites[0].second, (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(fake_.commands[0],
              (std::vector<uint8_t>{0x3B, 1, 0xC2, 0x43, 0x40, 0x00, 0x00, 0x00, 0x04, 0}));
}

TEST_F(AccessTest, PhyEnabledReadsTheControlWord) {
    fake_.setRegister(0x50008000 + 0x400 + 0x18, 3);
    EXPECT_FALSE(isPhyEnabled(1));
    EXPECT_TRUE(isPhyEnabled(2));
    fake_.failReads.insert(0x50008000 + 0x800 + 0x18);
    EXPECT_FALSE(isPhyEnabled(2));  // unreadable counts as disabled
}

TEST_F(AccessTest, PhyPrimitivesWriteTheirCommandAndCheckTheReadBack) {
    const uint32_t control = 0x50008000 + 0x18;
    // The fake keeps what was written: the command bit reads back set.
    EXPECT_EQ(linkResetPhy(0), 1u);
    EXPECT_EQ(fake_.registerValue(control), 1u);
    EXPECT_EQ(hardResetPhy(0), 1u);
    EXPECT_EQ(fake_.registerValue(control), 2u);
    // Each command settles for half a second before its read-back.
    EXPECT_EQ(g_sleptMs, 1000u);
    fake_.failWrites.insert(control);
    EXPECT_EQ(linkResetPhy(0), 1u);
    EXPECT_EQ(g_sleptMs, 1000u) << "no wait after a failed write";

    fake_.memory[0x50008000 + 0x30 + 3] = 0x77;
    ASSERT_EQ(clearPhyErrorCounters(0), 0u);
    EXPECT_EQ(fake_.memoryWrites.back().first, 0x50008030u);
    EXPECT_EQ(fake_.memoryWrites.back().second, std::vector<uint8_t>(16, 0));

    uint32_t readBack = 0;
    ASSERT_EQ(disablePhy(4, &readBack), 0u);
    EXPECT_EQ(readBack, 3u);
}

TEST_F(AccessTest, ShortRegisterReadIsAFailedRead) {
    uint8_t block[16] = {};
    EXPECT_EQ(readChipRegister(fake_.target(), 0x50008030, block, sizeof block), 0u);
    fake_.shortReads[0x50008030] = 12;
    EXPECT_EQ(readChipRegister(fake_.target(), 0x50008030, block, sizeof block), 1u);
    uint32_t count = 0;
    fake_.shortReads[0xC3800104] = 0;
    EXPECT_EQ(getPhyCount(&count), 1u);
}

TEST_F(AccessTest, ResetRequestFailure) {
    fake_.failAllWrites = true;
    ConsoleCapture console;
    EXPECT_EQ(resetExpander(0x53C2A1F000000001ull, ResetPurpose::Reset), 1u);
    EXPECT_EQ(console.text(), "Resetting the expander...\nERROR: Reset Failed.\n");
    EXPECT_EQ(fake_.commands.back(),
              (std::vector<uint8_t>{0x3B, 0x01, 0xE9, 0, 0, 0, 0, 0, 0x03, 0}));
}

}  // namespace
