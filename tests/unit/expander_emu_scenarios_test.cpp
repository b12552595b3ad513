// Expander scenarios that need a real SCSI generic node but no command of
// their own yet: the reset with rediscovery, a read that comes back short,
// and a reopen after the node changed its device type. The end-to-end tests
// run this case under the emulator with a scenario in the environment
// (tests/e2e/expander_reset_test.cpp); without one it is skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "expander/expander_access.h"
#include "shell/logger.h"
#include "targets/expander_device.h"
#include "targets/expander_models.h"
#include "targets/target_list.h"

namespace {

void resetScenario(ResetPurpose purpose) {
    ASSERT_EQ(discoverAll(), 0u);
    Target* target = targetAt(1);
    ASSERT_NE(expanderOf(target), nullptr);
    setCurrentTarget(target);
    uint64_t match = expanderOf(target)->sasAddress;
    if (purpose == ResetPurpose::AddressChange)
        match ^= 0xFF;  // never taken
    const uint32_t status = resetExpander(match, purpose);
    const ExpanderDevice* current = expanderOf(currentTarget());
    logPrintLine("status %u, current %s", status,
                 current != nullptr ? current->path.c_str() : "none");
}

// Reads buffer 0 through the first expander's read operation.
void shortReadScenario() {
    DeviceFd fd;
    ASSERT_TRUE(openExpanderNode("/dev/sg3", &fd));
    Target* target = createExpanderTarget(3, std::move(fd));
    uint8_t cdb[kBufferCdbLength];
    buildBufferZeroCdb(cdb);
    uint8_t data[256] = {};
    uint32_t transferred = 0;
    const uint32_t status =
        expanderOf(target)->read(target, cdb, sizeof cdb, data, sizeof data, &transferred);
    logPrintLine("status %u, transferred %u", status, transferred);
    expanderDestroy(target);
}

// Closes the node of the first expander, then reads through it.
void reopenScenario() {
    ASSERT_EQ(discoverAll(), 0u);
    Target* target = targetAt(1);
    ExpanderDevice* device = expanderOf(target);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->close(target), 0u);
    uint8_t id[4] = {};
    const uint32_t status = readChipRegister(target, kChipIdRegister, id, sizeof id);
    logPrintLine("status %u, open %s", status, device->fd.isOpen() ? "yes" : "no");
}

TEST(ExpanderUnderEmu, Scenario) {
    const char* env = std::getenv("QUARLEN_EXPANDER_SCENARIO");
    if (env == nullptr)
        GTEST_SKIP() << "run by the end-to-end tests under the emulator";
    const std::string scenario = env;

    // Everything between the markers is compared by the caller.
    std::fputs("<<<\n", stdout);
    if (scenario == "reset") {
        resetScenario(ResetPurpose::Reset);
    } else if (scenario == "address-change") {
        resetScenario(ResetPurpose::AddressChange);
    } else if (scenario == "short-read") {
        shortReadScenario();
    } else if (scenario == "reopen") {
        reopenScenario();
    } else {
        ADD_FAILURE() << "unknown scenario " << scenario;
    }
    std::fputs(">>>\n", stdout);
    std::fflush(stdout);
    releaseAllTargets();
}

}  // namespace
