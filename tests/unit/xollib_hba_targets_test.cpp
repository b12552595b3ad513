// HBA targets built from the library's adapters: board names and families,
// the fallback name, kinds 1 and 3, phy counts, table rows and skipped
// adapters, against a scripted driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_capture.h"
#include "shell/bytes.h"
#include "shell/command.h"
#include "shell/node_access.h"
#include "targets/adapter_record.h"
#include "targets/hba_discovery.h"
#include "targets/target_list.h"
#include "xollib_fake_driver.h"

namespace {

std::vector<uint8_t> manPage5(uint8_t phys, uint64_t wwid) {
    std::vector<uint8_t> page(40, 0);
    page[4] = phys;
    putLe64(page.data(), 16, wwid);
    return page;
}

class HbaTargets : public ::testing::Test {
  protected:
    FakeIoc& add(uint32_t ioc, uint32_t deviceId, uint32_t revision, uint8_t phys) {
        FakeIoc& c = driver.addIoc("/dev/xol3ctl", ioc, deviceId, revision);
        FakeDriver::setPage(c, kPageTypeManufacturing, 5, 0, 0,
                            manPage5(phys, 0x53C2A1F000010000ull + ioc));
        return c;
    }
    void TearDown() override {
        releaseAllTargets();
        EXPECT_EQ(driver.openCount, 0);
    }

    FakeDriver driver;
    ConsoleCapture console;
};

TEST_F(HbaTargets, NamesFamiliesAndKinds) {
    add(0, 0x0630, 1, 8);   // QS-9400-8i, family 8: kind 3
    add(1, 0x0528, 3, 16);  // QS-9316-16e, family 7: kind 1
    add(2, 0x0632, 2, 16);  // no board row: fallback name, family 0, kind 1
    initControllerLibrary();
    ASSERT_EQ(discoverHbaTargets(), 0u);
    ASSERT_EQ(targetCount(), 3u);

    struct Expected {
        const char* name;
        uint32_t family;
        TargetKind kind;
        uint8_t phys;
    };
    const Expected expected[] = {
        {"QS-9400-8i", 8, TargetKind::HbaAlt, 8},
        {"QS-9316-16e", 7, TargetKind::Hba, 16},
        {"Dev 632 Rev 02", 0, TargetKind::Hba, 16},
    };
    for (uint32_t i = 0; i < 3; ++i) {
        const Target* t = targetAt(i + 1);
        EXPECT_STREQ(t->name, expected[i].name);
        EXPECT_EQ(t->family, expected[i].family);
        EXPECT_EQ(t->kind, expected[i].kind);
        EXPECT_EQ(t->transport, TransportKind::Library);
        EXPECT_EQ(t->commands, kHbaCommands);
        const AdapterRecord* record = adapterOf(t);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->adapterIndex, i);
        EXPECT_EQ(record->adapterHandle, 0x01000001u + i);
        EXPECT_EQ(record->phyCount, expected[i].phys);
        EXPECT_EQ(getLe16(record->iocFacts.data(), 0), 0x0206);
    }
    EXPECT_EQ(console.text(), "");
}

TEST_F(HbaTargets, NonHbaTargetsHaveNoAdapterRecord) {
    Target expander{};
    expander.transport = TransportKind::ScsiGeneric;
    EXPECT_EQ(adapterOf(&expander), nullptr);
    EXPECT_EQ(adapterOf(nullptr), nullptr);
}

// A user who is not root sees why nothing was found: the first refused node,
// once, before the specified message; a missing node says nothing.
TEST_F(HbaTargets, PermissionDeniedIsNamedOnceWhenNothingIsFound) {
    resetNodeAccess();
    driver.openErrors["/dev/xol2ctl_wd"] = ENOENT;
    driver.openErrors["/dev/xol3ctl"] = EACCES;
    initControllerLibrary();
    ASSERT_EQ(discoverHbaTargets(), 0u);
    ASSERT_EQ(discoverHbaTargets(), 0u);
    EXPECT_EQ(console.text(),
              "WARN!! Permission denied opening '/dev/xol3ctl'; run as root.\n"
              "ERROR: Unable to find any compatible devices in the list.\n"
              "ERROR: Unable to find any compatible devices in the list.\n");
    resetNodeAccess();
}

}  // namespace
