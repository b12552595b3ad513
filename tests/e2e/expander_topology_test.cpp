// Expander scan and encl end to end under the emulator: the parent HBA on the
// default machine, the argument rules, an expander no HBA reports, two HBAs
// reporting one expander, rediscovery and enclosure failures, no devices, no
// enclosures, and controllers whose walks repeat a handle.
#include <gtest/gtest.h>

#include "expander_command_util.h"

namespace {

const char* const kFailed = "ERROR: ERROR CODE 02020000\n";
const Machine kDefault{"", ""};
// HBAs 1..5 (ioc 0..4), then expanders sg2..sg7 as targets 6..11.
const Machine kTopology{"expanders-topology.json", ""};

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
                  "EnclosureHandle      : %d\n"
                  "Logical ID           : %s\n"
                  "StartSlot            : 0\n"
                  "NumSlots             : %d\n"
                  "SEP Handle           : %d\n"
                  "Enclosure Level      : 0\n"
                  "\n",
                  handle, logicalId, slots, sep);
    return text;
}

// Request-log lines of one IOC asking for SAS Expander pages.
size_t expanderPageRequests(const std::string& log, const std::string& ioc) {
    return countLines(log, ioc + " config action 1 type 0x0f ext 0x11", nullptr);
}

TEST_F(ExpanderTopology, DefaultMachine) {
    CommandRun scan = runExpanderCommand(kDefault, "3", {"scan"});
    const std::string head =
        "Expander 0x53c2a1f000001000 is attached to HBA QS-9400-8i \n"
        "Topology view is from HBA QS-9400-8i\n"
        "\n"
        "B   T   L   DH  Type       Vendor   Product          Rev  WWID             Phy \n"
        "0   0   0   c   Disk       QUARLEN  QD12 SAS HDD     Q101 5000c50012340001  04 \n"
        "0   1   0   d   Disk       QUARLEN  QD12 SAS HDD     Q101 5000c50012340005  05 \n";
    EXPECT_EQ(scan.out.substr(0, head.size()), head);
    EXPECT_NE(scan.out.find("\n0   17  0   1d  EnclServ   QUARLEN  QX-E36           0001 "
                            "53c2a1f000001000  36 \n"),
              std::string::npos);
    EXPECT_EQ(scan.status, 0);
    // The second expander hangs off the same HBA.
    scan = runExpanderCommand(kDefault, "4", {"scan"});
    EXPECT_EQ(scan.out.substr(0, 59),
              "Expander 0x53c2a1f000002000 is attached to HBA QS-9400-8i \n");

    const CommandRun encl = runExpanderCommand(kDefault, "3", {"encl"});
    EXPECT_EQ(encl.out, enclosure(1, "0x53c2a1f000010000", 8, 0) +
                            enclosure(2, "0x53c2a1f00000103f", 36, 29) +
                            enclosure(3, "0x53c2a1f00000203f", 27, 43));
    EXPECT_EQ(encl.status, 0);

    for (const char* command : {"scan", "encl"}) {
        const CommandRun extra = runExpanderCommand(kDefault, "3", {command, "-x"});
        EXPECT_EQ(extra.out, std::string("ERROR: Invalid argument(s) specified.\n") + kFailed);
        EXPECT_EQ(extra.status, 1);
    }
    const CliRun help = runOnTopology("", {"-i", "3", "help", "encl"});
    EXPECT_EQ(help.out, std::string(kBanner) +
                            "Enclosure Information Command:\n"
                            "To display the enclosure information\n"
                            "Example : encl\n");
    EXPECT_EQ(runOnTopology("", {"-i", "3", "help", "scan"}).out,
              runOnTopology("", {"-i", "1", "help", "scan"}).out);
}

TEST_F(ExpanderTopology, ParentSearch) {
    // sg2 is reported by ioc 0 and ioc 4: the first listed is the parent, and
    // the search asks no HBA after it.
    const std::string log = makeTempDir() + "/scan.log";
    const CliRun scan = runLogged(kTopology, {"-i", "6", "scan"}, log);
    EXPECT_EQ(scan.out.substr(std::string(kBanner).size(), 59),
              "Expander 0x53c2a1f000005000 is attached to HBA QS-9400-8i \n");
    EXPECT_NE(scan.out.find("\n0   3   0   7   EnclServ   QUARLEN  QX-S24           0001 "
                            "53c2a1f000005000  24 \n"),
              std::string::npos);
    EXPECT_EQ(scan.status, 0);
    EXPECT_EQ(expanderPageRequests(log, "ioc0"), 1u);
    EXPECT_EQ(expanderPageRequests(log, "ioc1") + expanderPageRequests(log, "ioc4"), 0u);

    const std::string notFound = "ERROR: Not able to identify the expander parent handle.\n";
    for (const char* command : {"scan", "encl"}) {
        // sg3 hangs off no HBA; sg7's HBA hands out sg6's page again instead
        // of going past it, so its walk ends without finding sg7.
        for (const char* index : {"7", "11"}) {
            const CommandRun run = runExpanderCommand(kTopology, index, {command});
            EXPECT_EQ(run.out, notFound + kFailed) << command << " " << index;
            EXPECT_EQ(run.status, 1);
        }
    }
}

TEST_F(ExpanderTopology, ControllerFailures) {
    const struct {
        const char* index;
        const char* command;
        std::string out;
        int status;
    } cases[] = {
        // ioc 1 fails every SAS Device and Enclosure page.
        {"8", "scan",
         "Expander 0x53c2a1f000007000 is attached to HBA QS-9305-24i \n"
         "Topology view is from HBA QS-9305-24i\n"
         "ERROR: Rediscover API failed while getting device count.\n" +
             std::string(kFailed),
         1},
        {"8", "encl", "ERROR: Failure reading SAS Enclosure Page 0 \n\n" + std::string(kFailed), 1},
        // ioc 2 has no device and no enclosure page.
        {"9", "scan",
         "Expander 0x53c2a1f000008000 is attached to HBA QS-9305-24i \n"
         "Topology view is from HBA QS-9305-24i\n"
         "There are no devices attached.\n" +
             std::string(kFailed),
         1},
        {"9", "encl", "", 0},
        // ioc 3 answers the enclosure it was asked to go past: each prints once.
        {"10", "encl", enclosure(1, "0x53c2a1f000080000", 4, 0), 0},
    };
    for (const auto& c : cases) {
        const CommandRun run = runExpanderCommand(kTopology, c.index, {c.command});
        EXPECT_EQ(run.out, c.out) << c.command << " " << c.index;
        EXPECT_EQ(run.status, c.status) << c.command << " " << c.index;
    }
}

}  // namespace
