// Expander scan and encl end to end under the emulator: the parent HBA on the
// default machine, the argument rules, an expander no HBA reports, two HBAs
// reporting one expander, rediscovery and enclosure failures, no devices, no
// enclosures, and controllers whose walks repeat a handle.
#include <gtest/gtest.h>

#include "expander_command_util.h"

namespace {

const std::string kFailed = kCommandFailed;

class ExpanderTopology : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

std::string enclosure(int handle, const char* logicalId, int slots, int sep) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "EnclosureHandle      : %d\nLogical ID           : %s\n"
                  "StartSlot            : 0\nNumSlots             : %d\n"
                  "SEP Handle           : %d\nEnclosure Level      : 0\n\n",
                  handle, logicalId, slots, sep);
    return text;
}

std::string attached(const char* address, const char* hba) {
    return std::string("Expander 0x") + address + " is attached to HBA " + hba +
           " \nTopology view is from HBA " + hba + "\n";
}

// Step fields: machine, target, words, texts shown in order, status, exact.
// clang-format off
TEST_F(ExpanderTopology, Scenario) {
    const Machine m{"", ""};
    // HBAs 1..5 (ioc 0..4), then expanders sg2..sg7 as targets 6..11.
    const Machine t{"expanders-topology.json", ""};
    const std::string notFound =
        "ERROR: Not able to identify the expander parent handle.\n" + kFailed;
    const std::string extra = "ERROR: Invalid argument(s) specified.\n" + kFailed;
    runSteps({
        {m, "3", {"scan"}, {attached("53c2a1f000001000", "QS-9400-8i") + "\n"
            "B   T   L   DH  Type       Vendor   Product          Rev  WWID             Phy \n"
            "0   0   0   c   Disk       QUARLEN  QD12 SAS HDD     Q101 5000c50012340001  04 \n",
            "\n0   17  0   1d  EnclServ   QUARLEN  QX-E36           0001 53c2a1f000001000  36 \n"}},
        {m, "4", {"scan"}, {attached("53c2a1f000002000", "QS-9400-8i")}},
        {m, "3", {"encl"}, {enclosure(1, "0x53c2a1f000010000", 8, 0) +
            enclosure(2, "0x53c2a1f00000103f", 36, 29) +
            enclosure(3, "0x53c2a1f00000203f", 27, 43)}, 0, true},
        {m, "3", {"scan", "-x"}, {extra}, 1, true},
        {m, "3", {"encl", "-x"}, {extra}, 1, true},
        // sg2 is reported by ioc 0 and ioc 4: the first listed is the parent.
        {t, "6", {"scan"}, {attached("53c2a1f000005000", "QS-9400-8i"),
            "\n0   3   0   7   EnclServ   QUARLEN  QX-S24           0001 53c2a1f000005000  24 \n"}},
        // sg3 hangs off no HBA; sg7's HBA hands out sg6's page again instead
        // of going past it, so its walk ends without finding sg7.
        {t, "7", {"scan"}, {notFound}, 1, true},
        {t, "7", {"encl"}, {notFound}, 1, true},
        {t, "11", {"scan"}, {notFound}, 1, true},
        {t, "11", {"encl"}, {notFound}, 1, true},
        // ioc 1 fails every SAS Device and Enclosure page.
        {t, "8", {"scan"}, {attached("53c2a1f000007000", "QS-9305-24i") +
            "ERROR: Rediscover API failed while getting device count.\n" + kFailed}, 1, true},
        {t, "8", {"encl"}, {"ERROR: Failure reading SAS Enclosure Page 0 \n\n" + kFailed}, 1, true},
        // ioc 2 has no device and no enclosure page.
        {t, "9", {"scan"}, {attached("53c2a1f000008000", "QS-9305-24i") +
            "There are no devices attached.\n" + kFailed}, 1, true},
        {t, "9", {"encl"}, {""}, 0, true},
        // ioc 3 answers the enclosure it was asked to go past: each prints once.
        {t, "10", {"encl"}, {enclosure(1, "0x53c2a1f000080000", 4, 0)}, 0, true},
    });
    // The search asks no HBA after the parent.
    const std::string log = makeTempDir() + "/scan.log";
    EXPECT_EQ(runLogged(t, {"-i", "6", "scan"}, log).status, 0);
    const char* const kExpanderPage = " config action 1 type 0x0f ext 0x11";
    EXPECT_EQ(countLines(log, std::string("ioc0") + kExpanderPage, nullptr), 1u);
    EXPECT_EQ(countLines(log, std::string("ioc4") + kExpanderPage, nullptr), 0u);

    EXPECT_EQ(runOnTopology("", {"-i", "3", "help", "encl"}).out, std::string(kBanner) +
        "Enclosure Information Command:\nTo display the enclosure information\n"
        "Example : encl\n");
    EXPECT_EQ(runOnTopology("", {"-i", "3", "help", "scan"}).out,
              runOnTopology("", {"-i", "1", "help", "scan"}).out);
}
// clang-format on

}  // namespace
