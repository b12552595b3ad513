// Expander show under the emulator: every group, the family without a
// management port, addresses assigned by the network, unreadable pages,
// write retries of the temperature sensor, and the argument rules.
#include <gtest/gtest.h>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

class ExpanderShow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
    // Runs `-i index show args...` and returns what follows the discovery lines.
    static CliRun show(const std::string& topology, const std::string& index,
                       std::vector<std::string> args) {
        std::vector<std::string> words{"-i", index, "show"};
        words.insert(words.end(), args.begin(), args.end());
        CliRun run = runOnTopology(topology, words);
        const std::string preamble = expandersOnlyPreamble();
        EXPECT_EQ(run.out.substr(0, preamble.size()), preamble);
        run.out.erase(0, preamble.size());
        return run;
    }
};

const char* const kRevision =
    "Firmware Version          :    10.11.12.13\n"
    "SAS Address               :    53c2a1f-0-00ab-cdef\n"
    "Product Id                :    QX-S24 B0\n";
const char* const kManufacturing =
    "MAC Address               :    00-1B-A1-C2-0D-FE\n"
    "IP Address                :    192.168.1.10\n"
    "Mfg. Associated FW Rev    :    01:02:03:04\n"
    "Mfg. Revision             :    00:00:00:07\n"
    "Product Name              :    QX-S24-PRODUCT\n"
    "Platform Name             :PLATFORM-ALPHA\n"
    "TimeStamp                 :    03/09/26  14:05\n"
    "Platform Serial           :    QX11259375\n";
// A sample of 37 degrees (raw 400 and its neighbours; the exact value is unit-tested).
const char* const kTemperature = "Temperature *C/*F         :    37.0 *C / 98.0 *F\n";

TEST_F(ExpanderShow, EveryGroupAndAll) {
    const std::string all = std::string(kRevision) + kManufacturing + kTemperature;
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{}, all},
        {{"-all"}, all},
        {{"-rev"}, kRevision},
        {{"-mfg"}, kManufacturing},
        {{"-temp"}, kTemperature},
    };
    for (const auto& c : cases) {
        const CliRun run = show("expanders-show.json", "1", c.args);
        EXPECT_EQ(run.out, c.out) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(run.status, 0);
    }
}

TEST_F(ExpanderShow, FamilyFiveHasNoManagementPort) {
    const CliRun run = show("expanders-show.json", "2", {"-mfg"});
    EXPECT_EQ(run.out.find("MAC Address"), std::string::npos);
    EXPECT_EQ(run.out.find("IP Address"), std::string::npos);
    EXPECT_EQ(run.out.substr(0, 26), "Mfg. Associated FW Rev    ");
    EXPECT_EQ(show("expanders-show.json", "2", {"-temp"}).out,
              "Temperature *C/*F         :    45.0 *C / 113.0 *F\n");
}

TEST_F(ExpanderShow, AddressAssignedByTheNetwork) {
    // The device reports 010.001.002.003: leading zeros go.
    EXPECT_NE(show("expanders-show.json", "3", {"-mfg"})
                  .out.find("IP Address                :    10.1.2.3 \n"),
              std::string::npos);
    // No address reported.
    EXPECT_NE(show("expanders-show.json", "4", {"-mfg"})
                  .out.find("IP Address                :    Not Available \n"),
              std::string::npos);
}

TEST_F(ExpanderShow, UnreadablePages) {
    const CliRun run = show("expanders-command-faults.json", "4", {"-mfg"});
    EXPECT_EQ(run.out,
              "MAC Address               :    Not Available\n"
              "IP Address                :    Not Available\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(ExpanderShow, SensorWriteRetries) {
    // sg1: two ILLEGAL REQUEST 0x2C/0x00 answers, retried.
    CliRun run = show("expanders-command-faults.json", "1", {"-temp"});
    EXPECT_EQ(run.out, kTemperature);
    EXPECT_EQ(run.status, 0);
    // sg2: three of them.
    run = show("expanders-command-faults.json", "2", {"-temp"});
    EXPECT_EQ(run.out,
              "Temperature *C/*F         :    \n"
              "ERROR: Write CDB Failed (Too many retries...)\n"
              "ERROR: ERROR CODE 02020000\n");
    EXPECT_NE(run.status, 0);
    // sg3: qualifier 1 is not retried; the failure is the device's, not reported again.
    run = show("expanders-command-faults.json", "3", {"-temp"});
    EXPECT_EQ(run.out,
              "Temperature *C/*F         :    \n"
              "ERROR: ERROR CODE 02020000\n");
    EXPECT_NE(run.status, 0);
    // A failing temperature does not fail the whole show.
    run = show("expanders-command-faults.json", "3", {});
    EXPECT_EQ(run.status, 0);
}

TEST_F(ExpanderShow, ArgumentRulesAndUsage) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-rev", "-mfg"}, std::vector<std::string>{"-Rev"}}) {
        const CliRun run = show("expanders-show.json", "1", args);
        EXPECT_EQ(run.out,
                  "ERROR: Invalid argument(s) specified.\n"
                  "ERROR: ERROR CODE 02020000\n");
        EXPECT_NE(run.status, 0);
    }
    const CliRun help = runOnTopology("expanders-show.json", {"-i", "1", "help", "show"});
    EXPECT_EQ(help.out, expandersOnlyPreamble() +
                            "Show Operations :\n"
                            "This command will display all the basic details of Expander\n"
                            "      show -all / show \n"
                            "           -all   :  Will display all the details\n"
                            "      show -rev\n"
                            "           -rev   :  Will display all the firmware related "
                            "information\n"
                            "      show -temp\n"
                            "           -temp  :  Will display Expander temperature\n"
                            "      show -mfg\n"
                            "           -mfg   :  Will display Expander manfacturing details\n"
                            " Example : show -rev\n");
    EXPECT_EQ(help.status, 0);
}

}  // namespace
