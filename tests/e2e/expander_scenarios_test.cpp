// Expander scenarios under the emulator that no command reaches yet: the
// reset with rediscovery, a short read and a refused reopen. The unit test
// binary's scenario case runs the real code against the emulated expanders
// (see tests/unit/expander_emu_scenarios_test.cpp); the emulator's request
// log shows how often the expanders were probed again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

struct ScenarioRun {
    std::string out;  // between the child's markers
    std::string log;  // the emulator's request log
    int status = -1;
};

ScenarioRun runScenario(const char* scenario, const std::string& topology) {
    const std::string dir = makeTempDir();
    const std::string logFile = dir + "/requests.log";
    setenv("QUARLEN_EXPANDER_SCENARIO", scenario, 1);
    const CliRun run =
        runCommand({emuPath(), "--topology", expanderTopology(topology), "--state", dir, "--log",
                    logFile, "--", std::string(QUARLEN_BIN_DIR) + "/unit_tests",
                    "--gtest_filter=ExpanderUnderEmu.Scenario"},
                   "", "");
    unsetenv("QUARLEN_EXPANDER_SCENARIO");
    ScenarioRun result;
    result.status = run.status;
    const size_t begin = run.out.find("<<<\n");
    const size_t end = run.out.find(">>>\n");
    if (begin != std::string::npos && end != std::string::npos && end > begin) {
        result.out = run.out.substr(begin + 4, end - begin - 4);
    } else {
        result.out = run.out;
    }
    std::ifstream in(logFile);
    std::stringstream text;
    text << in.rdbuf();
    result.log = text.str();
    return result;
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class ExpanderScenario : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
        if (access((std::string(QUARLEN_BIN_DIR) + "/unit_tests").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "unit_tests not built";
        }
    }
};

TEST_F(ExpanderScenario, ComesBackUnderAnotherNode) {
    // sg3 returns as sg9 after its reset; the match is by SAS address.
    const ScenarioRun run = runScenario("reset", "expanders-reset.json");
    EXPECT_EQ(run.out,
              "ERROR: Unable to find any compatible devices in the list.\n"
              "Resetting the expander...\n"
              "Reset completed successfully.\n"
              "status 0, current /dev/sg9\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(countOf(run.log, "sg3 cdb 3b 01 e9 00 00 00 00 00 03 00 dir -2 len 3"), 1u);
}

TEST_F(ExpanderScenario, GivesUpAfterTwentyRounds) {
    const ScenarioRun run = runScenario("reset", "expanders-reset-never.json");
    EXPECT_EQ(run.out,
              "ERROR: Unable to find any compatible devices in the list.\n"
              "Resetting the expander...\n"
              "ERROR: Unable to discover any expander.\n"
              "\n"
              "     DeviceId/RevId   WWID                  FwVersion       \n"
              "  1) QX-S36 A0        53c2a1f-0-0000-0400   01.00.00.00\n"
              "status 1, current none\n");
    EXPECT_EQ(run.status, 0);
    // sg4 is probed at start-up and in each of the 20 rescans.
    EXPECT_EQ(countOf(run.log, "/dev/sg4 open"), 21u);
}

TEST_F(ExpanderScenario, AddressChangeThatDoesNotAppear) {
    const ScenarioRun run = runScenario("address-change", "expanders-reset.json");
    EXPECT_EQ(run.out,
              "ERROR: Unable to find any compatible devices in the list.\n"
              "Resetting the expander...\n"
              "SAS address changed but unable to discover the expander with changed SAS "
              "address.\n"
              "status 1, current none\n");
    EXPECT_EQ(countOf(run.log, "/dev/sg4 open"), 21u);
}

TEST_F(ExpanderScenario, ShortReadReportsWhatArrived) {
    const ScenarioRun run = runScenario("short-read", "expanders-short-read.json");
    EXPECT_EQ(run.out, "status 0, transferred 200\n");
}

TEST_F(ExpanderScenario, ReopenRefusesANodeOfAnotherType) {
    // The node turns into a disk once closed.
    const ScenarioRun run = runScenario("reopen", "expanders-reopen.json");
    EXPECT_EQ(run.out,
              "ERROR: Unable to find any compatible devices in the list.\n"
              "ERROR: Invalid device state. Wrong device table found. Opening device is not "
              "expander.\n"
              "ERROR: Device is not initialized but trying to read.\n"
              "status 1, open no\n");
}

}  // namespace
