// The library frame against a scripted driver: handle words, discovery over
// the control nodes, the passthrough transport and its status record, IOC
// and Port Facts, hard reset and the adapter information block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "shell/bytes.h"
#include "xollib_fake_driver.h"

namespace {

class XolTransport : public ::testing::Test {
  protected:
    void SetUp() override {
        driver.addIoc("/dev/xol2ctl_wd", 0, 0x0630);
        driver.addIoc("/dev/xol2ctl", 0, 0x0410);
        driver.addIoc("/dev/ovsactl", 0, 0x0070);
        driver.addIoc("/dev/xol3ctl", 2, 0x0521, 2);
        driver.addIoc("/dev/xol3ctl", 7, 0x0632, 2);
    }
    void TearDown() override { EXPECT_EQ(driver.openCount, 0) << "a control node stayed open"; }

    uint32_t discover(uint32_t options = kXolShellDiscoveryOptions) {
        uint32_t count = 0;
        EXPECT_EQ(XolLib2Create(), 0u);
        status = XolLib2DiscoverAdapters(&count, options);
        return count;
    }
    XolPassthroughBlock factsBlock(uint32_t handle) {
        buildIocFactsFrame(frame);
        return makePassthroughBlock(handle, frame, sizeof frame, reply, sizeof reply);
    }

    FakeDriver driver;
    uint32_t status = 0;
    uint8_t frame[12] = {};
    uint8_t reply[68] = {};
};

TEST_F(XolTransport, EveryIocNumberIsAskedWithItsHeader) {
    discover();
    uint32_t asked = 0;
    for (const auto& r : driver.requests) {
        if (r.request != kXolIoctlAdapterInfo || r.path != "/dev/xol3ctl")
            continue;
        EXPECT_EQ(getLe32(r.header.data(), 0), asked);
        EXPECT_EQ(getLe32(r.header.data(), 4), 0u);
        EXPECT_EQ(getLe32(r.header.data(), 8), 92u);
        ++asked;
    }
    EXPECT_EQ(asked, 255u);
}

TEST_F(XolTransport, RestrictedDiscoveryFiltersByChipFamily) {
    // The first-generation chip on the watchdog node is dropped without its bit.
    driver.addIoc("/dev/xol2ctl_wd", 1, 0x0410);
    // A chip in no family is accepted and named "Unknown".
    driver.addIoc("/dev/xol2ctl_wd", 3, 0x0999);
    EXPECT_EQ(discover(), 4u);
    uint8_t info[624];
    ASSERT_EQ(XolLib2GetAdapterInfo(1, nullptr, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoDeviceId), 0x0999u);
    EXPECT_STREQ(reinterpret_cast<char*>(info + kAdapterInfoChipName), "Unknown");
    EXPECT_STREQ(reinterpret_cast<char*>(info + kAdapterInfoAdapterName), "SAS Host 3");

    EXPECT_EQ(discover(kXolOptionRestrict | kXolOptionFirstGeneration), 3u);
    EXPECT_EQ(discover(kXolOptionRestrict | kXolOptionOtherVendor), 2u);
    EXPECT_EQ(discover(kXolOptionRestrict | kXolOptionSecondGeneration), 1u);
}

TEST_F(XolTransport, VersionRecord) {
    XolLib2VersionRecord version = {};
    EXPECT_EQ(XolLib2GetVersion(nullptr), 1u);
    version.size = 7;
    EXPECT_EQ(XolLib2GetVersion(&version), 0u);
    EXPECT_EQ(version.major, 0);
    version.size = 8;
    EXPECT_EQ(XolLib2GetVersion(&version), 0u);
    EXPECT_EQ(version.major, 3);
    EXPECT_EQ(version.minor, 255);
    EXPECT_EQ(version.build, 1);
}

TEST_F(XolTransport, DriverCommandLayout) {
    discover();
    driver.clearLog();
    uint8_t in[8] = {};
    uint8_t out[4] = {1, 2, 3, 4};
    uint8_t sense[32] = {};
    XolPassthroughBlock block = factsBlock(0x01000003);
    block.dataIn = in;
    block.dataInLength = sizeof in;
    block.dataOut = out;
    block.dataOutLength = sizeof out;
    block.sense = sense;
    block.senseLength = sizeof sense;
    ASSERT_EQ(XolLib2Passthrough(&block), 0u);
    ASSERT_EQ(driver.requests.size(), 1u);
    const FakeRequest& r = driver.requests[0];
    EXPECT_EQ(r.path, "/dev/xol3ctl");
    const uint8_t* h = r.header.data();
    EXPECT_EQ(getLe32(h, 0), 7u);  // IOC number of the third adapter
    EXPECT_EQ(getLe32(h, 4), 0u);
    EXPECT_EQ(getLe32(h, 8), 72u);
    EXPECT_EQ(getLe32(h, 12), 10u);  // timeout 0 is sent as 10 seconds
    EXPECT_EQ(getLe64(h, 16), reinterpret_cast<uintptr_t>(reply));
    EXPECT_EQ(getLe64(h, 24), reinterpret_cast<uintptr_t>(in));
    EXPECT_EQ(getLe64(h, 32), reinterpret_cast<uintptr_t>(out));
    EXPECT_EQ(getLe64(h, 40), reinterpret_cast<uintptr_t>(sense));
    EXPECT_EQ(getLe32(h, 48), 68u);
    EXPECT_EQ(getLe32(h, 52), 8u);
    EXPECT_EQ(getLe32(h, 56), 4u);
    EXPECT_EQ(getLe32(h, 60), 32u);
    EXPECT_EQ(getLe32(h, 64), 3u);
    EXPECT_EQ(r.frame, std::vector<uint8_t>(frame, frame + 12));
    EXPECT_EQ(r.dataOut, (std::vector<uint8_t>{1, 2, 3, 4}));

    driver.clearLog();
    block = factsBlock(0x01000003);
    block.timeoutSeconds = 60;
    ASSERT_EQ(XolLib2Passthrough(&block), 0u);
    EXPECT_EQ(getLe32(driver.requests[0].header.data(), 12), 60u);
    // Absent phases leave their pointers and lengths zero.
    for (size_t off : {24, 32, 40})
        EXPECT_EQ(getLe64(driver.requests[0].header.data(), off), 0u);
}

TEST_F(XolTransport, StatusRecordFlags) {
    discover();
    XolPassthroughBlock block = factsBlock(0x01000001);
    driver.nextIocStatus = 0x8000;
    driver.nextLogInfo = 0x31170000;
    ASSERT_EQ(XolLib2Passthrough(&block), 0u);
    EXPECT_EQ(block.status.size, 16u);
    EXPECT_EQ(block.status.flags, 2u);
    EXPECT_EQ(block.status.iocStatus, 0u);
    EXPECT_EQ(block.status.iocLogInfo, 0x31170000u);

    driver.nextIocStatus = 0x8004;
    ASSERT_EQ(XolLib2Passthrough(&block), 0u);
    EXPECT_EQ(block.status.flags, 3u);
    EXPECT_EQ(block.status.iocStatus, 4u);
    XolStatusInfo last = {};
    EXPECT_EQ(XolLib2GetLastStatus(&last), 0u);
    EXPECT_EQ(last.flags, 3u);
    EXPECT_EQ(last.iocStatus, 4u);

    driver.nextIocStatus = 0x0022;
    ASSERT_EQ(XolLib2Passthrough(&block), 0u);
    EXPECT_EQ(block.status.flags, 1u);
    EXPECT_EQ(block.status.iocStatus, 0x22u);
    EXPECT_EQ(block.status.iocLogInfo, 0u);
}

TEST_F(XolTransport, FailedPassthroughLeavesZeroedRecords) {
    discover();
    XolPassthroughBlock block = factsBlock(0x01000001);
    driver.nextIocStatus = 0x0004;
    ASSERT_EQ(XolLib2Passthrough(&block), 0u);
    driver.ioctlResult = -5;
    EXPECT_EQ(XolLib2Passthrough(&block), 52u);
    EXPECT_EQ(block.status.flags, 0u);
    EXPECT_EQ(block.status.size, 16u);
    XolStatusInfo last = {};
    XolLib2GetLastStatus(&last);
    EXPECT_EQ(last.flags, 0u);
    // A reply shorter than 20 bytes or a wrong signature is not inspected.
    driver.ioctlResult = 0;
    driver.nextIocStatus = 0x0004;
    block.signature = 0;
    EXPECT_EQ(XolLib2Passthrough(&block), 0u);
    EXPECT_EQ(block.status.flags, 0u);
}

TEST_F(XolTransport, VanishedNodeIsStatus32) {
    discover();
    driver.nodes.erase("/dev/xol3ctl");
    XolPassthroughBlock block = factsBlock(0x01000002);
    EXPECT_EQ(XolLib2Passthrough(&block), 32u);
    const uint32_t handle = 0x01000002;
    EXPECT_EQ(XolLib2HardReset(&handle), 32u);
}

TEST_F(XolTransport, LengthWithoutBufferIsRefused) {
    discover();
    driver.clearLog();
    XolPassthroughBlock block = factsBlock(0x01000001);
    block.dataInLength = 64;
    EXPECT_EQ(XolLib2Passthrough(&block), 18u);
    EXPECT_TRUE(driver.requests.empty());
}

TEST_F(XolTransport, IocAndPortFacts) {
    discover();
    const uint32_t handle = 0x01000001;
    uint8_t facts[80];
    std::memset(facts, 0xEE, sizeof facts);
    uint32_t length = sizeof facts;
    XolStatusInfo st = {};
    ASSERT_EQ(XolLib2GetIocFacts(&handle, facts, &length, &st), 0u);
    EXPECT_EQ(length, 68u);
    EXPECT_EQ(getLe16(facts, 0), 0x0206);
    EXPECT_EQ(getLe32(facts, 32), 0x10020304u);
    EXPECT_EQ(facts[68], 0xEE);
    EXPECT_EQ(st.size, 16u);
    length = 8;
    ASSERT_EQ(XolLib2GetIocFacts(&handle, facts, &length, nullptr), 0u);
    EXPECT_EQ(length, 8u);

    driver.clearLog();
    length = sizeof facts;
    ASSERT_EQ(XolLib2GetPortFacts(&handle, 3, facts, &length, nullptr), 0u);
    EXPECT_EQ(length, 28u);
    EXPECT_EQ(facts[6], 3);
    EXPECT_EQ(getLe32(driver.requests[0].header.data(), 48), 28u);

    driver.ioctlResult = -1;
    length = sizeof facts;
    EXPECT_EQ(XolLib2GetIocFacts(&handle, facts, &length, nullptr), 52u);
    EXPECT_EQ(length, 0u);
}

TEST_F(XolTransport, HardResetPassesTheDriversAnswer) {
    discover();
    driver.clearLog();
    const uint32_t handle = 0x01000003;
    EXPECT_EQ(XolLib2HardReset(&handle), 0u);
    ASSERT_EQ(driver.requests.size(), 1u);
    EXPECT_EQ(driver.requests[0].request, kXolIoctlHardReset);
    EXPECT_EQ(getLe32(driver.requests[0].header.data(), 0), 7u);
    driver.nodes["/dev/xol3ctl"][7].resetAnswer = -1;
    EXPECT_EQ(XolLib2HardReset(&handle), 0xFFFFFFFFu);
}

std::vector<uint8_t> bootImage(size_t size) {
    std::vector<uint8_t> image(size, 0);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    putLe16(image.data(), 0, 0xAA55);
    putLe16(image.data(), 24, 0x1C);
    image[0x1C + 12] = 3;
    putLe16(image.data(), 0x1C + 18, 0x0105);
    image[0x1C + 20] = 0;
    image[0x1C + 28] = 0x0A;
    image[0x1C + 29] = 0x0B;
    return image;
}

TEST_F(XolTransport, BiosVersionComesFromTheWholeBootImageInChunks) {
    driver.nodes["/dev/xol3ctl"][7].regions[2] = bootImage(40000);
    discover();
    driver.clearLog();
    uint8_t info[624];
    ASSERT_EQ(XolLib2GetAdapterInfo(2, nullptr, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoBiosVersion), 0x01050A0Bu);
    const auto uploads = driver.passthroughs();
    ASSERT_EQ(uploads.size(), 4u);
    const uint32_t offsets[] = {0, 0, 16384, 32768};
    const uint32_t sizes[] = {0, 16384, 16384, 7232};
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(uploads[i].frame.size(), 32u);  // XIF 2.5 layout
        EXPECT_EQ(uploads[i].frame[0], 2);
        EXPECT_EQ(uploads[i].frame[3], 0x12);
        EXPECT_EQ(getLe32(uploads[i].frame.data(), 24), offsets[i]);
        EXPECT_EQ(getLe32(uploads[i].frame.data(), 28), sizes[i]);
        EXPECT_EQ(getLe32(uploads[i].header.data(), 52), sizes[i]);
        EXPECT_EQ(getLe32(uploads[i].header.data(), 12), 60u);
    }
    // Without the signature the version is 0.
    driver.nodes["/dev/xol3ctl"][7].regions[2][0] = 0;
    ASSERT_EQ(XolLib2GetAdapterInfo(2, nullptr, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoBiosVersion), 0u);
}

TEST_F(XolTransport, FailedFactsLeaveTheAdapterListedAndRefreshedLater) {
    FakeIoc& ioc = driver.nodes["/dev/xol3ctl"][7];
    ioc.factsFail = true;
    std::vector<uint8_t> page7(20, 0);
    page7[6] = 8;
    page7[7] = 3;
    putLe32(page7.data(), 8, 0xAABBCCDD);
    putLe16(page7.data(), 16, 45);
    page7[18] = 2;
    page7[19] = 9;
    FakeDriver::setPage(ioc, kPageTypeIoUnit, 7, 0, 0, page7);
    EXPECT_EQ(discover(), 3u);
    uint8_t info[624];
    ASSERT_EQ(XolLib2GetAdapterInfo(2, nullptr, info, nullptr), 0u);
    EXPECT_EQ(info[kAdapterInfoPcieWidth], 8);
    EXPECT_EQ(info[kAdapterInfoPcieSpeed], 3);
    EXPECT_EQ(getLe32(info, kAdapterInfoProcessorState), 0xAABBCCDDu);
    EXPECT_EQ(getLe16(info, kAdapterInfoIocTemperature), 45);
    EXPECT_EQ(info[kAdapterInfoTemperatureUnits], 2);
    EXPECT_EQ(info[kAdapterInfoIocSpeed], 9);
    // Its facts stayed zero, so firmware transfer refuses it as an old XIF.
    const uint32_t handle = 0x01000003;
    uint32_t size = 0;
    EXPECT_EQ(XolLib2GetRegionSize(&handle, 2, &size), 96u);
}

TEST_F(XolTransport, BoardNameFilterDropsForeignBoardsOfTheSharedChip) {
    driver.nodes.clear();
    FakeIoc& ours = driver.addIoc("/dev/xol2ctl", 0, 0x0411);
    FakeIoc& foreign = driver.addIoc("/dev/xol2ctl", 1, 0x0411);
    driver.addIoc("/dev/xol2ctl", 2, 0x0410);
    std::vector<uint8_t> page0(16, 0);
    std::memcpy(page0.data() + 4, "QSBD", 4);
    FakeDriver::setPage(ours, kPageTypeManufacturing, 0, 0, 0, page0);
    std::memcpy(page0.data() + 4, "XXBD", 4);
    FakeDriver::setPage(foreign, kPageTypeManufacturing, 0, 0, 0, page0);
    EXPECT_EQ(discover(kXolOptionRestrict | kXolOptionFirstGeneration | kXolOptionFlashAccelerator),
              2u);
    uint8_t info[624];
    ASSERT_EQ(XolLib2GetAdapterInfo(1, nullptr, info, nullptr), 0u);
    EXPECT_EQ(getLe32(info, kAdapterInfoDeviceId), 0x0410u);
    EXPECT_EQ(XolLib2GetAdapterInfo(2, nullptr, info, nullptr), 50u);
    // Without the flash accelerator bit the filter does not run.
    EXPECT_EQ(discover(kXolOptionRestrict | kXolOptionFirstGeneration), 3u);
}

}  // namespace
