// Expander discovery under the emulator: listing order, skipped nodes, names,
// the full list, renumbering by list and select, index checks in every mode,
// and the transport's retries and refusals.
#include <gtest/gtest.h>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

class ExpanderDiscovery : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

TEST_F(ExpanderDiscovery, ListingOrderNamesAndSkippedNodes) {
    // Listing order 12, 30 (a disk), 2, 5 (an unknown chip), 7.
    const CliRun run = runOnTopology("expanders-discovery.json", {"--list"});
    EXPECT_EQ(run.out, expandersOnlyPreamble() + kTableHeader +
                           "  1) QX-S24 B0        53c2a1f-0-0000-1200   10.11.12.13\n"
                           "  2) QX2-S36 REV 0x04 53c2a1f-0-0000-0200   02.01.03.00\n"
                           "  3) QX-E16L C1       53c2a1f-0-0000-0700   01.00.00.09\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST_F(ExpanderDiscovery, FullListKeepsThirtyTwo) {
    const CliRun run = runOnTopology("expanders-34.json", {"--list"});
    EXPECT_EQ(run.status, 0);
    const std::string warnings =
        "WARN!! Target list is full. Device '/dev/sg32' not added.\n"
        "WARN!! Target list is full. Device '/dev/sg33' not added.\n";
    EXPECT_EQ(run.out.substr(0, expandersOnlyPreamble().size() + warnings.size()),
              expandersOnlyPreamble() + warnings);
    EXPECT_NE(run.out.find(" 32) QX-E36 C1        53c2a1f-0-0000-101f   01.00.00.31\n"),
              std::string::npos);
    EXPECT_EQ(run.out.find(" 33)"), std::string::npos);
}

TEST_F(ExpanderDiscovery, IndexOutOfRangeInEveryMode) {
    const std::string expected =
        expandersOnlyPreamble() +
        "ERROR: Invalid index value specified. The valid index value should be between '1' to "
        "'3'\n"
        "ERROR: ERROR CODE 02020000\n";
    const std::string script = writeTempFile("script", "show -rev\n");
    const std::vector<std::vector<std::string>> invocations = {
        {"-i", "4", "show"},             // one-line
        {"-i", "0", "--batch", script},  // batch
        {"-i", "9"},                     // interactive
    };
    for (const auto& args : invocations) {
        const CliRun run = runOnTopology("expanders-discovery.json", args, "quit\n");
        EXPECT_EQ(run.out, expected) << args[1];
        EXPECT_NE(run.status, 0) << args[1];
    }
}

TEST_F(ExpanderDiscovery, IndexMessageFollowsTheTargetCount) {
    // Three of the six expanders survive their transport faults.
    const CliRun run = runOnTopology("expanders-transport-faults.json", {"-i", "4", "show"});
    EXPECT_NE(run.out.find("ERROR: Invalid index value specified. The valid index value should be "
                           "between '1' to '3'\n"),
              std::string::npos);
    EXPECT_NE(run.status, 0);
}

TEST_F(ExpanderDiscovery, TransportRetriesAndRefusals) {
    // sg1: two unit attentions, retried; sg2: three, too many; sg3: a host
    // status (timed out); sg4: BUSY once, retried after a pause; sg5: buffer
    // 0 unreadable; sg6: clean. Every expander left out is named.
    const CliRun run = runOnTopology("expanders-transport-faults.json", {"--list"});
    EXPECT_EQ(run.out, expandersOnlyPreamble() +
                           "ERROR: Read CDB Failed (Too many retries...)\n"
                           "WARN!! Device '/dev/sg2' not added: identification failed.\n"
                           "ERROR: Unable to perform the IO header operation.\n"
                           "WARN!! Device '/dev/sg3' not added: identification failed.\n"
                           "WARN!! Device '/dev/sg5' not added: identification failed.\n" +
                           kTableHeader +
                           "  1) QX-S12 A0        53c2a1f-0-0000-0100   01.00.00.00\n"
                           "  2) QX-E28 A0        53c2a1f-0-0000-0400   01.00.00.00\n"
                           "  3) QX2-S24 A0       53c2a1f-0-0000-0600   01.00.00.00\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(ExpanderDiscovery, ListRenumbersAfterARefusedReopen) {
    // sg1 turns into a disk once its node has been closed: the rescan of
    // `list` leaves it out and the others move up; `select` rebuilds the list.
    const CliRun run = runOnTopology("expanders-rescan.json", {"-i", "3"},
                                     "list\n2\nselect -i 1\nselect -i 3\nshow -rev\nquit\n");
    EXPECT_EQ(run.out,
              expandersOnlyPreamble() + "QX-E28 C0> " + kTableHeader +
                  "  1) QX-S36 B0        53c2a1f-0-0000-0200   01.00.00.00\n"
                  "  2) QX-E28 C0        53c2a1f-0-0000-0300   01.00.00.00\n"
                  "\n"
                  "Enter the target index to connect with : "
                  "QX-E28 C0> ERROR: Unable to find any compatible devices in the list.\n"
                  "QX-S36 B0> ERROR: Unable to find any compatible devices in the list.\n"
                  "ERROR: Invalid index value specified. The valid index value should be '1' or "
                  "'2'\n"
                  "Quarlen> ERROR: Invalid or unknown command 'show'\n"
                  "Quarlen> ");
    EXPECT_EQ(run.status, 0);
}

TEST_F(ExpanderDiscovery, NoExpanderAtAll) {
    const std::string topology = writeTempFile("empty.json", R"({"scsi": {"disks": [{"sg": 0}]}})");
    CliOptions options;
    options.emulated = true;
    options.topology = topology;
    options.args = {"--list"};
    const CliRun run = runCli(options);
    EXPECT_EQ(run.out, expandersOnlyPreamble() +
                           "ERROR: Discovery failed. Unable to discover any supported device(s).\n"
                           "ERROR: ERROR CODE 02020000\n");
    EXPECT_NE(run.status, 0);
}

// A user who is not root finds nothing: the first refused node is named once
// before the failure; a refused node beside a found one says nothing.
TEST_F(ExpanderDiscovery, PermissionDeniedIsNamedWhenNothingIsFound) {
    const auto node = [](int sg, bool denied) {
        return "{\"sg\": " + std::to_string(sg) +
               ", \"family\": 2, \"revision\": 1, \"sasAddress\": \"0x53C2A1F0000002" +
               std::to_string(sg) + "0\"" + (denied ? ", \"faults\": {\"openDenied\": true}" : "") +
               "}";
    };
    CliOptions options;
    options.emulated = true;
    options.args = {"--list"};
    options.topology = writeTempFile("denied.json", "{\"scsi\": {\"expanders\": [" + node(4, true) +
                                                        ", " + node(2, true) + "]}}");
    CliRun run = runCli(options);
    EXPECT_EQ(run.out, expandersOnlyPreamble() +
                           "WARN!! Permission denied opening '/dev/sg4'; run as root.\n"
                           "ERROR: Discovery failed. Unable to discover any supported device(s).\n"
                           "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(run.status, 1);

    options.topology = writeTempFile("half.json", "{\"scsi\": {\"expanders\": [" + node(4, true) +
                                                      ", " + node(2, false) + "]}}");
    run = runCli(options);
    EXPECT_EQ(run.out, expandersOnlyPreamble() + kTableHeader +
                           "  1) QX-S24 B0        53c2a1f-0-0000-0220   01.00.00.00\n");
    EXPECT_EQ(run.status, 0);
}

}  // namespace
