// Expander identification (model table, variant rows, revision text, buffer
// 0, SAS address), node name parsing, and the target list's bookkeeping.
#include <gtest/gtest.h>

#include "console_capture.h"
#include "expander_fake_device.h"
#include "targets/expander_models.h"
#include "targets/expander_scan.h"
#include "targets/target_list.h"

namespace {

TEST(SgEntryName, OnlyPlainNumbersUpTo4095) {
    uint32_t n = 99;
    EXPECT_TRUE(parseSgEntryName("sg0", &n));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(parseSgEntryName("sg4095", &n));
    EXPECT_EQ(n, 4095u);
    for (const char* bad :
         {"sg4096", "sg5000", "sg", "sg-1", "sg1a", "sda", "Sg1", ".", "..", "sg99999999999"}) {
        EXPECT_FALSE(parseSgEntryName(bad, &n)) << bad;
    }
}

TEST(ExpanderModels, UnknownChipsAndRevisionText) {
    EXPECT_EQ(findExpanderModel(0x0C00), nullptr);
    EXPECT_EQ(findExpanderModel(0), nullptr);
    char text[32];
    const std::pair<uint32_t, const char*> revisions[] = {
        {0, "A0"}, {1, "B0"}, {2, "C0"}, {3, "C1"}, {4, "REV 0x04"}, {0xAB, "REV 0xAB"}};
    for (const auto& [rev, expected] : revisions) {
        expanderRevisionText(rev, text, sizeof text);
        EXPECT_STREQ(text, expected);
    }
}

class IdentifyTest : public ::testing::Test {
  protected:
    void chip(uint16_t deviceId, uint8_t revision, uint8_t low = 0) {
        fake_.setRegister(kChipIdRegister,
                          (static_cast<uint32_t>(deviceId) << 16) | (revision << 8) | low);
    }
    FakeExpander fake_{0};
};

TEST_F(IdentifyTest, VariantBitPicksBetweenTwoRows) {
    chip(0x0A60, 1, 0x40);
    ASSERT_EQ(identifyExpander(fake_.target()), 0u);
    EXPECT_STREQ(fake_.target()->name, "QX-E36 B0");
    EXPECT_EQ(fake_.target()->family, 6u);

    chip(0x0A60, 1, 0x00);
    ASSERT_EQ(identifyExpander(fake_.target()), 0u);
    EXPECT_STREQ(fake_.target()->name, "QX-E36X B0");
    EXPECT_EQ(fake_.target()->family, 7u);

    // The second read fails: the bit counts as clear.
    chip(0x0A60, 0, 0x40);
    fake_.readsBeforeFailure[kChipIdRegister] = 1;
    ASSERT_EQ(identifyExpander(fake_.target()), 0u);
    EXPECT_EQ(fake_.target()->family, 7u);
}

TEST_F(IdentifyTest, AnyFailedStepFailsIdentification) {
    chip(0x0C00, 0);  // not our chip: skipped without a word
    EXPECT_EQ(identifyExpander(fake_.target()), kIdentifyUnknownChip);

    chip(0x0A10, 0);
    fake_.failBufferZero = true;
    EXPECT_EQ(identifyExpander(fake_.target()), 1u);

    fake_.failBufferZero = false;
    fake_.failReads.insert(kSasAddressRegister);
    EXPECT_EQ(identifyExpander(fake_.target()), 1u);

    fake_.failReads = {kChipIdRegister};
    EXPECT_EQ(identifyExpander(fake_.target()), 1u);
}

// The list's slots, the current target and the table rows, with fake
// expander targets appended by hand.
class TargetListTest : public ::testing::Test {
  protected:
    void TearDown() override { releaseAllTargets(); }
    static Target* addExpander(const char* name, uint64_t address, uint32_t version) {
        Target* t = createExpanderTarget(3, DeviceFd());
        std::snprintf(t->name, sizeof t->name, "%s", name);
        expanderOf(t)->sasAddress = address;
        expanderOf(t)->firmwareVersion = version;
        EXPECT_EQ(appendTarget(t), 0u);
        return t;
    }
};

TEST_F(TargetListTest, HoldsThirtyTwoAndPrintsRows) {
    Target* first = addExpander("QX-S12 A0", 0x53C2A1F000000011ull, 0x01020304);
    for (int i = 1; i < 32; ++i)
        addExpander("QX-S24 B0", 0x53C2A1F0000000AAull, 0x0A000000);
    EXPECT_EQ(targetCount(), 32u);
    Target* extra = createExpanderTarget(4, DeviceFd());
    EXPECT_EQ(appendTarget(extra), 1u);
    expanderDestroy(extra);
    EXPECT_EQ(targetAt(1), first);
    EXPECT_EQ(targetAt(0), nullptr);
    EXPECT_EQ(targetAt(33), nullptr);

    setCurrentTarget(first);
    ConsoleCapture console;
    EXPECT_EQ(printTargetTable(), 0u);
    const std::string text = console.text();
    const std::string head =
        "\n     DeviceId/RevId   WWID                  FwVersion       \n"
        "  1) QX-S12 A0        53c2a1f-0-0000-0011   01.02.03.04\n"
        "  2) QX-S24 B0        53c2a1f-0-0000-00aa   10.00.00.00\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_NE(text.find(" 32) QX-S24 B0"), std::string::npos);
    releaseAllTargets();
    EXPECT_EQ(targetCount(), 0u);
    EXPECT_EQ(currentTarget(), nullptr);
}

TEST_F(TargetListTest, RescanDropsExpandersAndTheCurrentPointerToThem) {
    Target* t = addExpander("QX-S12 A0", 1, 0);
    setCurrentTarget(t);
    rescanExpanders();  // no SCSI generic nodes answer here
    EXPECT_EQ(currentTarget(), nullptr);
    EXPECT_EQ(targetAt(1) == t, false);
}

}  // namespace
