// The library against controllers with injected faults (faults.json): the
// status record's IOCStatus and IOCLogInfo flags, the configuration status
// mapping and driver refusals.
#include <gtest/gtest.h>

#include "recording_driver.h"
#include "shell/bytes.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kLogInfoOnly = 0x01000001;   // Port Facts answer IOCStatus 0x8000
constexpr uint32_t kBothFlags = 0x01000002;     // Port Facts answer 0x8004
constexpr uint32_t kConfigFaults = 0x01000003;  // configuration faults; Port Facts refused

class XolEmuFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!underEmulator() || std::getenv("XOLLIB_FAULT_TOPOLOGY") == nullptr) {
            GTEST_SKIP() << "needs quarlen-emu with tests/xollib/faults.json";
        }
        ASSERT_EQ(XolLib2Create(), 0u);
        uint32_t count = 0;
        ASSERT_EQ(XolLib2DiscoverAdapters(&count, kXolShellDiscoveryOptions), 0u);
        ASSERT_EQ(count, 3u);
    }
    RecordingDriver driver;
};

TEST_F(XolEmuFaults, LogInfoWithoutStatus) {
    uint8_t reply[28];
    uint32_t length = sizeof reply;
    XolStatusInfo st = {};
    ASSERT_EQ(XolLib2GetPortFacts(&kLogInfoOnly, 0, reply, &length, &st), 0u);
    EXPECT_EQ(st.flags, kXolStatusFlagLogInfo);
    EXPECT_EQ(st.iocStatus, 0u);
    EXPECT_EQ(st.iocLogInfo, 0x31170000u);
    XolStatusInfo last = {};
    XolLib2GetLastStatus(&last);
    EXPECT_EQ(last.iocLogInfo, 0x31170000u);
}

TEST_F(XolEmuFaults, StatusAndLogInfo) {
    uint8_t reply[28];
    uint32_t length = sizeof reply;
    XolStatusInfo st = {};
    ASSERT_EQ(XolLib2GetPortFacts(&kBothFlags, 0, reply, &length, &st), 0u);
    EXPECT_EQ(st.flags, kXolStatusFlagIocStatus | kXolStatusFlagLogInfo);
    EXPECT_EQ(st.iocStatus, 0x0004u);
    EXPECT_EQ(st.iocLogInfo, 0x12345678u);
}

TEST_F(XolEmuFaults, ConfigurationStatusMapping) {
    const std::pair<uint8_t, uint32_t> cases[] = {{1, 256}, {2, 257}, {3, 258}, {4, 258}, {6, 1}};
    for (const auto& [number, expected] : cases) {
        uint8_t page[64];
        uint32_t size = sizeof page;
        EXPECT_EQ(XolLib2ReadManufacturingPage(&kConfigFaults, number, page, &size, 1), expected)
            << "page " << static_cast<int>(number);
    }
}

TEST_F(XolEmuFaults, DriverRefusalIsStatus52) {
    uint8_t reply[28];
    uint32_t length = sizeof reply;
    XolStatusInfo st = {};
    st.flags = 7;
    EXPECT_EQ(XolLib2GetPortFacts(&kConfigFaults, 0, reply, &length, &st), 52u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(st.flags, 0u);
}

}  // namespace
