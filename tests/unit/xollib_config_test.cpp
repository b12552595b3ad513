// Configuration pages against a scripted driver: the header-then-page
// exchange, selectors and size queries, the status mapping, family-bound
// readers, address forms and the walk over a list of objects.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "shell/bytes.h"
#include "xollib_fake_driver.h"

namespace {

class XolConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        ioc = &driver.addIoc("/dev/xol3ctl", 0, 0x0630);       // new family
        older = &driver.addIoc("/dev/xol3ctl", 1, 0x0520, 2);  // second generation, not new
        std::vector<uint8_t> page(40);
        for (size_t i = 0; i < page.size(); ++i)
            page[i] = static_cast<uint8_t>(i + 1);
        FakeDriver::setPage(*ioc, kPageTypeManufacturing, 5, 0, 0, page);
        FakeDriver::setPage(*ioc, kPageTypeExtended, 0, kExtPageTypeSasIoUnit, 0,
                            std::vector<uint8_t>(64, 0x5A));
        uint32_t count = 0;
        ASSERT_EQ(discoverWith(kXolShellDiscoveryOptions, &count), 0u);
        ASSERT_EQ(count, 2u);
        driver.clearLog();
    }
    void TearDown() override { EXPECT_EQ(driver.openCount, 0); }

    // Expander page 0 at each {address, next handle} pair of the walk.
    void chainExpanders(const std::vector<std::pair<uint16_t, uint16_t>>& links) {
        for (const auto& [address, next] : links) {
            std::vector<uint8_t> page(36, 0);
            putLe16(page.data(), 16, next);
            FakeDriver::setPage(*ioc, kPageTypeExtended, 0, kExtPageTypeSasExpander, address, page);
        }
    }

    FakeDriver driver;
    FakeIoc* ioc = nullptr;
    FakeIoc* older = nullptr;
    const uint32_t handle = 0x01000001;
    const uint32_t olderHandle = 0x01000002;
};

TEST_F(XolConfig, ReadSendsHeaderThenPage) {
    uint8_t buffer[64] = {};
    uint32_t size = sizeof buffer;
    ASSERT_EQ(XolLib2ReadManufacturingPage5(&handle, buffer, &size, kPageSelectorCurrent), 0u);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[39], 40);
    EXPECT_EQ(buffer[40], 0);
    const auto sent = driver.passthroughs();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].frame.size(), 28u);
    EXPECT_EQ(sent[0].frame[0], 0);  // header action
    EXPECT_EQ(sent[0].frame[3], 0x04);
    EXPECT_EQ(std::vector<uint8_t>(sent[0].frame.begin() + 20, sent[0].frame.begin() + 24),
              (std::vector<uint8_t>{0, 0, 5, 9}));
    EXPECT_EQ(getLe32(sent[0].header.data(), 48), 24u);  // reply length
    EXPECT_EQ(getLe32(sent[0].header.data(), 52), 0u);   // no data phase
    EXPECT_EQ(sent[1].frame[0], 1);
    EXPECT_EQ(sent[1].frame[21], 10);  // the header as the controller returned it
    EXPECT_EQ(getLe32(sent[1].header.data(), 52), 40u);
}

TEST_F(XolConfig, SmallerBufferGetsItsSizeButLearnsTheFullSize) {
    uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint32_t size = 4;
    ASSERT_EQ(XolLib2ReadManufacturingPage5(&handle, buffer, &size, kPageSelectorCurrent), 0u);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 8),
              (std::vector<uint8_t>{1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(XolConfig, SelectorZeroAndAbsentBufferOnlyReportTheSize) {
    uint32_t size = 0;
    ASSERT_EQ(XolLib2ReadManufacturingPage5(&handle, nullptr, &size, kPageSelectorSize), 0u);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(driver.passthroughs().size(), 1u);
    size = 100;
    EXPECT_EQ(XolLib2ReadManufacturingPage5(&handle, nullptr, &size, kPageSelectorCurrent), 17u);
    EXPECT_EQ(size, 40u);
    uint8_t buffer[4];
    size = 0;
    EXPECT_EQ(XolLib2ReadManufacturingPage5(&handle, buffer, &size, kPageSelectorNvram), 17u);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(driver.passthroughs().size(), 3u);
    size = sizeof buffer;
    EXPECT_EQ(XolLib2ReadManufacturingPage5(&handle, buffer, &size, 4), 18u);
}

TEST_F(XolConfig, ReadSelectorsChooseTheActions) {
    uint8_t buffer[40];
    for (uint32_t selector : {2u, 3u}) {
        driver.clearLog();
        uint32_t size = sizeof buffer;
        ASSERT_EQ(XolLib2ReadManufacturingPage5(&handle, buffer, &size, selector), 0u);
        EXPECT_EQ(driver.passthroughs()[1].frame[0], selector == 2 ? 5 : 6);
    }
}

TEST_F(XolConfig, ExtendedPagesUseTheExtendedLength) {
    uint8_t buffer[80] = {};
    uint32_t size = sizeof buffer;
    ASSERT_EQ(XolLib2ReadSasIoUnitPage0(&handle, buffer, &size, kPageSelectorCurrent), 0u);
    EXPECT_EQ(size, 64u);
    EXPECT_EQ(buffer[63], 0x5A);
    const auto sent = driver.passthroughs();
    EXPECT_EQ(sent[0].frame[6], kExtPageTypeSasIoUnit);
    EXPECT_EQ(getLe16(sent[0].frame.data(), 4), 0);
    EXPECT_EQ(getLe16(sent[1].frame.data(), 4), 16);
}

TEST_F(XolConfig, ExtendedTypeMissingIsRefusedBeforeSending) {
    uint8_t buffer[8] = {};
    uint32_t size = sizeof buffer;
    EXPECT_EQ(XolLib2ReadConfigPage(&handle, 0, kPageTypeExtended, 0, 0, 1, buffer, &size), 18u);
    EXPECT_EQ(XolLib2WriteConfigPage(&handle, 0, kPageTypeExtended, 0, 0, 1, buffer, &size), 18u);
    EXPECT_TRUE(driver.requests.empty());
}

TEST_F(XolConfig, ControllerStatusesAreMapped) {
    uint8_t buffer[8];
    const std::pair<uint16_t, uint32_t> cases[] = {
        {0x0020, 256}, {0x0021, 257}, {0x0022, 258}, {0x0001, 258}, {0x0023, 1}, {0x8021, 257},
    };
    for (const auto& [iocStatus, expected] : cases) {
        driver.nextIocStatus = iocStatus;
        uint32_t size = sizeof buffer;
        EXPECT_EQ(XolLib2ReadManufacturingPage5(&handle, buffer, &size, 1), expected) << iocStatus;
    }
    uint32_t size = sizeof buffer;
    EXPECT_EQ(XolLib2ReadManufacturingPage2(&handle, buffer, &size, 1), 258u);  // no such page
    driver.ioctlResult = -1;
    EXPECT_EQ(XolLib2ReadManufacturingPage5(&handle, buffer, &size, 1), 52u);
}

TEST_F(XolConfig, WriteSendsTheWholePageWithTheWriteAction) {
    uint8_t page[40] = {};
    page[7] = 0x77;
    const uint8_t actions[] = {2, 3, 4};
    for (uint32_t selector = 1; selector <= 3; ++selector) {
        driver.clearLog();
        uint32_t size = sizeof page;
        ASSERT_EQ(
            XolLib2WriteConfigPage(&handle, 0, kPageTypeManufacturing, 5, 0, selector, page, &size),
            0u);
        const auto sent = driver.passthroughs();
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[1].frame[0], actions[selector - 1]);
        EXPECT_EQ(sent[1].dataOut.size(), 40u);
        EXPECT_EQ(sent[1].dataOut[7], 0x77);
        EXPECT_EQ(getLe32(sent[1].header.data(), 52), 0u);
    }
    uint32_t size = sizeof page;
    EXPECT_EQ(XolLib2WriteConfigPage(&handle, 0, kPageTypeManufacturing, 5, 0, 0, page, &size),
              18u);
    EXPECT_EQ(XolLib2WriteSasIoUnitPage1(&handle, nullptr, &size, 1), 258u);
}

TEST_F(XolConfig, AddressForms) {
    uint32_t size = 0;
    struct Case {
        uint32_t status;
        uint32_t address;
    };
    auto addressOf = [&](uint32_t status) -> Case {
        const auto sent = driver.passthroughs();
        Case c{status, sent.empty() ? 0xDEADu : getLe32(sent.back().frame.data(), 24)};
        driver.clearLog();
        return c;
    };
    auto expectAddress = [&](uint32_t status, uint32_t address) {
        const Case c = addressOf(status);
        EXPECT_EQ(c.status, 258u);
        EXPECT_EQ(c.address, address);
    };
    expectAddress(XolLib2ReadSasExpanderPage0(&handle, kPageFormNext, 0xFFFF, nullptr, &size, 0),
                  0xFFFF);
    expectAddress(XolLib2ReadSasExpanderPage0(&handle, kPageFormByHandle, 9, nullptr, &size, 0),
                  0x20000009);
    expectAddress(XolLib2ReadSasExpanderPage1(&handle, 5, 9, nullptr, &size, 0), 0x10050009);
    expectAddress(XolLib2ReadSasDevicePage0(&handle, kPageFormNext, 0x11, nullptr, &size, 0), 0x11);
    expectAddress(XolLib2ReadSasDevicePage1(&handle, kPageFormByHandle, 0x11, nullptr, &size, 0),
                  0x20000011);
    expectAddress(XolLib2ReadSasPhyPage0(&handle, kPageFormNext, 0x1FF, nullptr, &size, 0), 0xFF);
    expectAddress(XolLib2ReadSasPhyPage1(&handle, kPageFormSecondary, 0x1FF, nullptr, &size, 0),
                  0x100001FF);
    expectAddress(XolLib2ReadEnclosurePage0(&handle, kPageFormSecondary, 3, nullptr, &size, 0),
                  0x10000003);
    // Forms a page does not know never reach the controller.
    EXPECT_EQ(XolLib2ReadSasDevicePage0(&handle, 1, 0x11, nullptr, &size, 0), 259u);
    EXPECT_EQ(XolLib2ReadSasDevicePage1(&handle, 3, 0x11, nullptr, &size, 0), 259u);
    EXPECT_EQ(XolLib2ReadSasPhyPage0(&handle, 2, 0, nullptr, &size, 0), 259u);
    EXPECT_EQ(XolLib2ReadEnclosurePage0(&handle, 2, 0, nullptr, &size, 0), 259u);
    EXPECT_TRUE(driver.requests.empty());
}

TEST_F(XolConfig, FixedReadersAskForTheirPage) {
    using Reader = uint32_t (*)(const uint32_t*, uint8_t*, uint32_t*, uint32_t);
    struct Row {
        Reader read;
        uint8_t type;
        uint8_t number;
        uint8_t extType;
    };
    const Row rows[] = {
        {XolLib2ReadManufacturingPage0, 9, 0, 0}, {XolLib2ReadManufacturingPage7, 9, 7, 0},
        {XolLib2ReadIoUnitPage0, 0, 0, 0},        {XolLib2ReadIoUnitPage3, 0, 3, 0},
        {XolLib2ReadIocPage8, 1, 8, 0},           {XolLib2ReadBiosPage4, 2, 4, 0},
        {XolLib2ReadSasIoUnitPage5, 15, 5, 16},   {XolLib2ReadLogPage0, 15, 0, 20},
    };
    for (const auto& row : rows) {
        driver.clearLog();
        uint32_t size = 0;
        row.read(&handle, nullptr, &size, 0);
        const auto sent = driver.passthroughs();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].frame[23], row.type);
        EXPECT_EQ(sent[0].frame[22], row.number);
        EXPECT_EQ(sent[0].frame[6], row.extType);
    }
}

TEST_F(XolConfig, WalkFollowsHandlesUntilTheListEnds) {
    // Three expanders: 0xFFFF -> 9 -> 12 -> 20 -> end.
    chainExpanders({{0xFFFF, 9}, {9, 12}, {12, 20}});
    std::vector<uint16_t> seen;
    auto visit = [](void* context, const uint8_t* page, uint32_t) -> uint32_t {
        static_cast<std::vector<uint16_t>*>(context)->push_back(getLe16(page, 16));
        return 0;
    };
    EXPECT_EQ(
        XolLib2WalkPages(&handle, kPageTypeExtended, kExtPageTypeSasExpander, 36, 16, visit, &seen),
        0u);
    EXPECT_EQ(seen, (std::vector<uint16_t>{9, 12, 20}));
    // The visitor can stop the walk with its own status.
    auto stop = [](void*, const uint8_t*, uint32_t) -> uint32_t { return 7; };
    EXPECT_EQ(XolLib2WalkPages(&handle, kPageTypeExtended, kExtPageTypeSasExpander, 36, 16, stop,
                               nullptr),
              7u);
    // Other failures end it with their status.
    driver.ioctlResult = -1;
    EXPECT_EQ(
        XolLib2WalkPages(&handle, kPageTypeExtended, kExtPageTypeSasExpander, 36, 16, visit, &seen),
        52u);
}

TEST_F(XolConfig, WalkOverAListThatNeverEndsStops) {
    // 0xFFFF -> 4 -> 6 -> 4 -> ...
    chainExpanders({{0xFFFF, 4}, {4, 6}, {6, 4}});
    struct Count {
        FakeDriver* driver;
        uint32_t visits;
    } count{&driver, 0};
    auto visit = [](void* context, const uint8_t*, uint32_t) -> uint32_t {
        auto* c = static_cast<Count*>(context);
        c->driver->clearLog();
        ++c->visits;
        return 0;
    };
    XolLib2WalkPages(&handle, kPageTypeExtended, kExtPageTypeSasExpander, 36, 16, visit, &count);
    // Each object once: the page that comes back to 4 ends the walk unvisited.
    EXPECT_EQ(count.visits, 2u);
}

}  // namespace
