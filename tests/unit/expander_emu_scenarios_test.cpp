// The expander reset with rediscovery, run for real: the end-to-end tests
// start this case under the emulator with a scenario in the environment
// (tests/e2e/expander_reset_test.cpp). Without one it is skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "expander/expander_access.h"
#include "shell/logger.h"
#include "targets/expander_device.h"
#include "targets/target_list.h"

namespace {

TEST(ExpanderResetUnderEmu, Scenario) {
    const char* scenario = std::getenv("QUARLEN_RESET_SCENARIO");
    if (scenario == nullptr)
        GTEST_SKIP() << "run by the end-to-end tests under the emulator";

    // Everything between the markers is compared by the caller.
    std::fputs("<<<\n", stdout);
    ASSERT_EQ(discoverAll(), 0u);
    Target* target = targetAt(1);
    ASSERT_NE(expanderOf(target), nullptr);
    setCurrentTarget(target);
    uint64_t match = expanderOf(target)->sasAddress;
    ResetPurpose purpose = ResetPurpose::Reset;
    if (std::strcmp(scenario, "address-change") == 0) {
        purpose = ResetPurpose::AddressChange;
        match ^= 0xFF;  // an address the expander never takes
    }
    const uint32_t status = resetExpander(match, purpose);
    const ExpanderDevice* current = expanderOf(currentTarget());
    logPrintLine("status %u, current %s", status,
                 current != nullptr ? current->path.c_str() : "none");
    std::fputs(">>>\n", stdout);
    std::fflush(stdout);
    releaseAllTargets();
}

}  // namespace
