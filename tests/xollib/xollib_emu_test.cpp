// The controller library against the emulated controllers of the default
// topology: discovery over the control nodes, handle rules, the transport as
// the driver sees it, configuration pages and firmware transfer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recording_driver.h"
#include "shell/bytes.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kNewest = 0x01000001;  // QSC3408 on /dev/xol3ctl, IOC 0
constexpr uint32_t kSecond = 0x01000002;  // QSC3108 on /dev/xol3ctl, IOC 1

class XolEmu : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!underEmulator())
            GTEST_SKIP() << "needs quarlen-emu";
        count = discover(kXolShellDiscoveryOptions);
        driver.clear();
    }
    void TearDown() override {
        EXPECT_EQ(driver.openDescriptors, 0) << "a control node stayed open";
    }
    uint32_t discover(uint32_t options) {
        EXPECT_EQ(XolLib2Create(), 0u);
        uint32_t n = 0;
        status = XolLib2DiscoverAdapters(&n, options);
        return n;
    }
    uint32_t deviceIdAt(uint32_t index) {
        uint8_t info[kXolAdapterInfoSize] = {};
        EXPECT_EQ(XolLib2GetAdapterInfo(index, nullptr, info, nullptr), 0u);
        return getLe32(info, kAdapterInfoDeviceId);
    }

    RecordingDriver driver;
    uint32_t count = 0;
    uint32_t status = 0;
};

TEST_F(XolEmu, ShellOptionsOpenOnlyTheWatchdogAndNewestNodes) {
    driver.clear();
    EXPECT_EQ(discover(kXolShellDiscoveryOptions), 2u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(driver.pathsTried(), (std::vector<std::string>{"/dev/xol2ctl_wd", "/dev/xol3ctl"}));
    EXPECT_EQ(deviceIdAt(0), 0x0630u);
    EXPECT_EQ(deviceIdAt(1), 0x0521u);
    uint8_t info[kXolAdapterInfoSize];
    ASSERT_EQ(XolLib2GetAdapterInfo(1, nullptr, info, nullptr), 0u);
    EXPECT_STREQ(reinterpret_cast<char*>(info + kAdapterInfoChipName), "QSC3108");
    EXPECT_STREQ(reinterpret_cast<char*>(info + kAdapterInfoAdapterName), "SAS Host 1");
    EXPECT_EQ(getLe32(info, kAdapterInfoRevision), 2u);
    EXPECT_EQ(getLe32(info, kAdapterInfoAdapterType), 7u);
}

TEST_F(XolEmu, OtherOptionWordsChooseOtherNodes) {
    driver.clear();
    // Without the device walks, whose requests open each adapter's node again.
    EXPECT_EQ(discover(kXolOptionNoDeviceScan), 3u);
    EXPECT_EQ(driver.pathsTried(), (std::vector<std::string>{"/dev/xol2ctl_wd", "/dev/xol2ctl",
                                                             "/dev/ovsactl", "/dev/xol3ctl"}));
    EXPECT_EQ(deviceIdAt(0), 0x0410u);  // node order decides the adapter order
    EXPECT_EQ(deviceIdAt(1), 0x0630u);
    driver.clear();
    EXPECT_EQ(discover(kXolOptionRestrict | kXolOptionFirstGeneration), 1u);
    EXPECT_EQ(driver.pathsTried(), (std::vector<std::string>{"/dev/xol2ctl_wd", "/dev/xol2ctl"}));
    EXPECT_EQ(deviceIdAt(0), 0x0410u);
    // Only one of the two bits needed for the newest node.
    EXPECT_EQ(discover(kXolOptionRestrict | kXolOptionNewestGeneration), 0u);
    EXPECT_EQ(status, 1u);
}

TEST_F(XolEmu, HandleRules) {
    uint8_t info[kXolAdapterInfoSize];
    uint8_t facts[68];
    uint32_t length = sizeof facts;
    const uint32_t device = 0x02000001;
    const uint32_t unknown = 0x01000099;
    EXPECT_EQ(XolLib2GetAdapterInfo(0, &device, info, nullptr), 48u);
    EXPECT_EQ(XolLib2GetIocFacts(&device, facts, &length, nullptr), 48u);
    EXPECT_EQ(XolLib2HardReset(&device), 48u);
    EXPECT_EQ(XolLib2GetAdapterInfo(0, &unknown, info, nullptr), 54u);
    length = sizeof facts;
    EXPECT_EQ(XolLib2GetIocFacts(&unknown, facts, &length, nullptr), 54u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(XolLib2HardReset(&unknown), 54u);
    EXPECT_EQ(XolLib2GetAdapterInfo(count, nullptr, info, nullptr), 50u);
    EXPECT_EQ(XolLib2GetAdapterInfo(0, &kSecond, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoHandle), kSecond);
    EXPECT_TRUE(driver.passthroughs().size() >= 1u);  // only the good handle reached the node
    for (const auto& r : driver.ioctls)
        EXPECT_EQ(getLe32(r.header.data(), 0), 1u);
}

TEST_F(XolEmu, DiscoveryRunsOncePerContext) {
    uint32_t again = 0;
    EXPECT_EQ(XolLib2DiscoverAdapters(&again, 0), 0u);
    EXPECT_EQ(again, count);
    EXPECT_TRUE(driver.ioctls.empty());
    EXPECT_TRUE(driver.opens.empty());
}

TEST_F(XolEmu, ShortBlockSendsNothingAndTimeoutZeroMeansTen) {
    uint8_t frame[12] = {0, 0, 0, 0x03};
    uint8_t reply[68] = {};
    XolPassthroughBlock block = {};
    block.size = 111;
    block.adapterHandle = kNewest;
    block.signature = kXolPassthroughSignature;
    block.request = frame;
    block.requestLength = sizeof frame;
    block.reply = reply;
    block.replyLength = sizeof reply;
    EXPECT_EQ(XolLib2Passthrough(&block), 17u);
    EXPECT_TRUE(driver.opens.empty());
    EXPECT_TRUE(driver.ioctls.empty());

    block.size = 112;
    ASSERT_EQ(XolLib2Passthrough(&block), 0u);
    ASSERT_EQ(driver.ioctls.size(), 1u);
    EXPECT_EQ(getLe32(driver.ioctls[0].header.data(), 12), 10u);
    EXPECT_EQ(getLe16(reply, 0), 0x0206);
    block.timeoutSeconds = 30;
    ASSERT_EQ(XolLib2Passthrough(&block), 0u);
    EXPECT_EQ(getLe32(driver.ioctls[1].header.data(), 12), 30u);
}

TEST_F(XolEmu, IocAndPortFacts) {
    uint8_t facts[68] = {};
    uint32_t length = sizeof facts;
    XolStatusInfo st = {};
    ASSERT_EQ(XolLib2GetIocFacts(&kSecond, facts, &length, &st), 0u);
    EXPECT_EQ(length, 68u);
    EXPECT_EQ(getLe16(facts, kIocFactsMessageVersion), 0x0205);
    EXPECT_EQ(getLe32(facts, kIocFactsFirmwareVersion), 0x0F000200u);
    EXPECT_EQ(st.size, 16u);
    EXPECT_EQ(st.flags, 0u);
    length = sizeof facts;
    ASSERT_EQ(XolLib2GetPortFacts(&kSecond, 0, facts, &length, &st), 0u);
    EXPECT_EQ(length, 28u);
    EXPECT_EQ(st.flags, 0u);
    EXPECT_EQ(driver.passthroughs().back().frame[3], 0x05);
}

TEST_F(XolEmu, ConfigurationPagesAndSizeQuery) {
    uint32_t size = 0;
    ASSERT_EQ(XolLib2ReadManufacturingPage5(&kNewest, nullptr, &size, kPageSelectorSize), 0u);
    EXPECT_GE(size, 24u);
    EXPECT_EQ(driver.passthroughs().size(), 1u);  // selector 0: the header only
    const uint32_t full = size;
    uint8_t page[32] = {};
    size = sizeof page;
    ASSERT_EQ(XolLib2ReadManufacturingPage5(&kNewest, page, &size, kPageSelectorCurrent), 0u);
    EXPECT_EQ(size, full);
    EXPECT_EQ(page[4], 8);  // phys
    EXPECT_EQ(getLe64(page, 16), 0x53C2A1F000010000ull);
    size = 0;
    EXPECT_EQ(XolLib2ReadManufacturingPage5(&kNewest, page, &size, kPageSelectorCurrent), 17u);
    EXPECT_EQ(size, full);
    size = sizeof page;
    EXPECT_EQ(XolLib2ReadManufacturingPage5(&kNewest, page, &size, 9), 18u);
}

TEST_F(XolEmu, RequestsRefusedBeforeSending) {
    uint32_t size = 0;
    EXPECT_EQ(XolLib2ReadSasDevicePage0(&kNewest, 1, 0, nullptr, &size, 0), 259u);
    EXPECT_EQ(XolLib2ReadConfigPage(&kNewest, 0, kPageTypeExtended, 0, 0, 1, nullptr, &size), 18u);
    EXPECT_EQ(XolLib2ReadIoUnitPage11(&kSecond, nullptr, &size, 0), 23u);  // not new family
    EXPECT_EQ(XolLib2ReadSasIoUnitPage4(&kNewest, nullptr, &size, 0), 23u);
    EXPECT_EQ(XolLib2FlashErase(&kNewest, 0x10000000, nullptr, nullptr), 23u);
    EXPECT_TRUE(driver.ioctls.empty());
}

TEST_F(XolEmu, ControllerAnswersMapToLibraryStatuses) {
    uint8_t page[64];
    uint32_t size = sizeof page;
    // A page the controller does not have.
    EXPECT_EQ(XolLib2ReadManufacturingPage(&kNewest, 200, page, &size, 1), 258u);
    size = sizeof page;
    EXPECT_EQ(XolLib2ReadIoUnitPage7(&kNewest, page, &size, 1), 0u);
    EXPECT_EQ(page[6], 8);  // PCIe width
}

TEST_F(XolEmu, BiosVersionFromTheBootImage) {
    uint8_t info[kXolAdapterInfoSize];
    ASSERT_EQ(XolLib2GetAdapterInfo(0, &kNewest, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoBiosVersion), 0x08240100u);
    ASSERT_EQ(XolLib2GetAdapterInfo(0, &kSecond, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoBiosVersion), 0x08180300u);
    // Size query, then 16384-byte chunks.
    const auto uploads = driver.passthroughs();
    ASSERT_GE(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].frame.size(), 32u);
    EXPECT_EQ(getLe32(uploads[0].frame.data(), 28), 0u);
    EXPECT_EQ(getLe32(uploads[0].header.data(), 52), 0u);
    EXPECT_EQ(getLe32(uploads[1].frame.data(), 24), 0u);
    uint32_t regionSize = 0;
    ASSERT_EQ(XolLib2GetRegionSize(&kNewest, kImageTypeBoot, &regionSize), 0u);
    EXPECT_GT(regionSize, 0u);
    ByteBuffer image;
    ASSERT_EQ(XolLib2ReadRegion(&kNewest, kImageTypeBoot, &image), 0u);
    EXPECT_EQ(image.size(), regionSize);
    EXPECT_EQ(getLe16(image.data(), 0), 0xAA55);
}

TEST_F(XolEmu, LastChunkFlagCommitsTheDownload) {
    uint32_t before = 0;
    ASSERT_EQ(XolLib2GetRegionSize(&kSecond, kImageTypeBoot, &before), 0u);
    std::vector<uint8_t> image(1024, 0x5C);  // a boot image without the ROM signature
    uint8_t reply[20];
    uint32_t length = sizeof reply;
    XolStatusInfo st = {};
    ASSERT_EQ(
        XolLib2FwDownload(&kSecond, image.data(), 512, 0, kImageTypeBoot, 2, reply, &length, &st),
        0u);
    EXPECT_EQ(st.flags, 0u);
    EXPECT_EQ(driver.passthroughs().back().frame[7], 0);
    uint32_t size = 0;
    ASSERT_EQ(XolLib2GetRegionSize(&kSecond, kImageTypeBoot, &size), 0u);
    EXPECT_EQ(size, before);  // not the last chunk: nothing replaced yet
    length = sizeof reply;
    ASSERT_EQ(XolLib2FwDownload(&kSecond, image.data() + 512, 512, 512, kImageTypeBoot, 1, reply,
                                &length, &st),
              0u);
    EXPECT_EQ(st.flags, 0u);
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(driver.passthroughs().back().frame[7], 1);
    EXPECT_EQ(getLe32(driver.passthroughs().back().header.data(), 12), 60u);
    ASSERT_EQ(XolLib2GetRegionSize(&kSecond, kImageTypeBoot, &size), 0u);
    EXPECT_EQ(size, 1024u);
    uint8_t info[kXolAdapterInfoSize];
    ASSERT_EQ(XolLib2GetAdapterInfo(0, &kSecond, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoBiosVersion), 0u);
}

TEST_F(XolEmu, OldXifControllersRefuseTransfers) {
    ASSERT_EQ(discover(0), 3u);  // the first-generation controller is listed first
    const uint32_t old = 0x01000001;
    driver.clear();
    uint8_t reply[24];
    uint32_t length = sizeof reply;
    EXPECT_EQ(XolLib2FwUpload(&old, nullptr, 0, 0, kImageTypeBoot, reply, &length, nullptr), 96u);
    EXPECT_EQ(XolLib2FlashErase(&old, kXolEraseRegionA, nullptr, nullptr), 96u);
    EXPECT_TRUE(driver.ioctls.empty());
    // Its adapter information has no BIOS version then.
    uint8_t info[kXolAdapterInfoSize];
    ASSERT_EQ(XolLib2GetAdapterInfo(0, nullptr, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoBiosVersion), 0u);
}

TEST_F(XolEmu, EraseWithAnAcceptedFlag) {
    uint8_t reply[20];
    std::memset(reply, 0xEE, sizeof reply);
    XolStatusInfo st = {};
    ASSERT_EQ(XolLib2FlashErase(&kNewest, kXolEraseRegionA, reply, &st), 0u);
    EXPECT_EQ(st.flags, 0u);
    EXPECT_EQ(reply[3], 0x17);
    const auto sent = driver.passthroughs();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(getLe32(sent[0].header.data(), 12), 512u);
}

TEST_F(XolEmu, HardResetAndTheControllerComesBack) {
    EXPECT_EQ(XolLib2HardReset(&kSecond), 0u);
    uint32_t result = 1;
    for (int attempt = 0; attempt < 20 && result != 0; ++attempt) {
        uint8_t facts[68];
        uint32_t length = sizeof facts;
        result = XolLib2GetIocFacts(&kSecond, facts, &length, nullptr);
        if (result != 0) {
            EXPECT_EQ(result, 52u);
        }
    }
    EXPECT_EQ(result, 0u);
}

// SMP passthrough to the expander of the newest adapter's first link: its
// answers come from that expander's own phys; a request the expander does not
// know is refused by it, an address behind no link by the controller.
TEST_F(XolEmu, SmpPassthroughReachesTheLinkedExpander) {
    const auto smp = [](uint64_t sas, std::vector<uint8_t> request, std::vector<uint8_t>* answer) {
        std::vector<uint8_t> record(kXolSmpRecordSize, 0);
        putLe32(record.data(), 0, kXolSmpRecordSize);
        putLe16(record.data(), kSmpRecordRequestLength, static_cast<uint16_t>(request.size() + 4));
        putLe64(record.data(), kSmpRecordSasAddress, sas);
        putLe16(record.data(), kSmpRecordResponseLength, 1032);
        std::memcpy(&record[kSmpRecordRequest], request.data(), request.size());
        const uint32_t result = XolLib2SmpPassthrough(&kNewest, record.data());
        const size_t length = getLe16(record.data(), kSmpRecordResponseLength);
        answer->assign(record.begin() + kSmpRecordResponse,
                       record.begin() + kSmpRecordResponse + static_cast<long>(length));
        return result == 0 ? getLe32(record.data(), kSmpRecordStatus + 8) : 0x10000 | result;
    };
    constexpr uint64_t kExpander = 0x53C2A1F000001000ULL;
    std::vector<uint8_t> answer;
    ASSERT_EQ(smp(kExpander, {0x40, 0x00, 0, 0}, &answer), 0u);
    ASSERT_EQ(answer.size(), 32u);
    EXPECT_EQ(answer[0], 0x41);
    EXPECT_EQ(answer[2], 0x00);
    EXPECT_EQ(answer[3], 6);
    EXPECT_EQ(answer[9], 36);  // phys

    // Phy 4: an SSP disk at 12 Gb/s.
    ASSERT_EQ(smp(kExpander, {0x40, 0x10, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0}, &answer), 0u);
    ASSERT_EQ(answer.size(), 64u);
    EXPECT_EQ(answer[2], 0x00);
    EXPECT_EQ(answer[9], 4);
    EXPECT_EQ(answer[12], 0x10);  // end device
    EXPECT_EQ(answer[13], 11);
    EXPECT_EQ(answer[15], 0x08);  // SSP target
    EXPECT_EQ(getBe64(answer.data(), 16), kExpander);
    EXPECT_EQ(getBe64(answer.data(), 24), 0x5000C50012340001ULL);

    // A phy the expander does not have, a function it does not know, a
    // DISCOVER of the wrong length.
    ASSERT_EQ(smp(kExpander, {0x40, 0x10, 0, 0, 0, 0, 0, 0, 0, 200, 0, 0}, &answer), 0u);
    EXPECT_EQ(answer[2], 0x10);
    ASSERT_EQ(smp(kExpander, {0x40, 0x91, 0, 0}, &answer), 0u);
    EXPECT_EQ(answer[2], 0x01);
    ASSERT_EQ(smp(kExpander, {0x40, 0x10, 0, 0}, &answer), 0u);
    EXPECT_EQ(answer[2], 0x13);

    // No expander of that address behind the adapter; not an SMP frame.
    EXPECT_EQ(smp(0x53C2A1F000009000ULL, {0x40, 0x00, 0, 0}, &answer), 0x0043u);
    EXPECT_EQ(smp(kExpander, {0x41, 0x00, 0, 0}, &answer), 0x0007u);
}

}  // namespace
