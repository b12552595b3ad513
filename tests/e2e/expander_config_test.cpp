// Expander cfg, sasaddr and route under the emulator: the region fallback of
// cfg and its argument rules, showing and changing the SAS address with the
// manufacturing region's records and every failing step, and the route
// table with retried window reads, and the requests each takes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

struct ConfigRun {
    std::string out;  // after the discovery lines
    std::string log;  // the emulator's request log
    int status = -1;
};

// Runs under the given topology (empty: the built-in one) with a state
// directory (empty: a fresh one).
ConfigRun runConfig(const std::string& topology, std::vector<std::string> args,
                    std::string stateDir = "") {
    if (stateDir.empty())
        stateDir = makeTempDir();
    const std::string logFile = stateDir + "/requests.log";
    std::remove(logFile.c_str());
    CliOptions options;
    options.emulated = true;
    options.topology = topology.empty() ? "" : expanderTopology(topology);
    options.stateDir = stateDir;
    options.emuArgs = {"--log", logFile};
    options.args = std::move(args);
    const CliRun run = runCli(options);
    ConfigRun result;
    result.status = run.status;
    result.out = run.out;
    const std::string preamble = topology.empty() ? std::string(kBanner) : expandersOnlyPreamble();
    EXPECT_EQ(result.out.substr(0, preamble.size()), preamble);
    result.out.erase(0, preamble.size());
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

const std::string kFailed = "ERROR: ERROR CODE 02020000\n";
const char* const kTopology = "expanders-config.json";

std::string dump(const char* low) {
    return std::string("          0        4        8        C       \n") +
           "00000000: fe00000c 53c2a1f0 " + low + "            .... ...S ....\n";
}

class ExpanderConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

TEST_F(ExpanderConfig, CfgRegionsAndFallback) {
    const std::string readError = "ERROR: Error in reading the config page.\n" + kFailed;
    const struct {
        const char* index;
        std::vector<std::string> args;
        std::string out;
        size_t pageRequests;
    } cases[] = {
        // Region 1 has no page 0xFE00: its header read fails, region 2 answers.
        {"1", {"-n", "0xFE00", "-f", "0"}, dump("00000100"), 3},
        {"1", {"-n", "fe00"}, dump("00000100"), 3},
        {"1", {"-n", "0XFE00", "-f", "1"}, readError, 1},
        {"1", {"-f", "0x2", "-n", "FE00"}, dump("00000100"), 2},
        // A persistent copy of length 0 is a failed read: region 2 follows.
        {"2", {"-n", "0xFE00", "-f", "0"}, dump("00000200"), 4},
        // Both regions fail: length 0 in region 2 too.
        {"2", {"-n", "0xFE02"}, readError, 3},
        {"1", {"-n", "0x1234", "-f", "0"}, readError, 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"-i", c.index, "cfg"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        const ConfigRun run = runConfig(kTopology, words);
        EXPECT_EQ(run.out, c.out) << c.index << " " << c.args[1];
        EXPECT_EQ(run.status, c.out == readError ? 1 : 0) << c.args[1];
        EXPECT_EQ(countOf(run.log, "cdb 3c 01 e6"), c.pageRequests) << c.index << " " << c.args[1];
    }
}

TEST_F(ExpanderConfig, CfgArgumentErrors) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "Invalid command syntax or unknown argument(s) specified."},
        {{"-n", "1", "-f", "1", "-n"}, "Invalid command syntax or unknown argument(s) specified."},
        {{"-f", "1"}, "Invalid command syntax or unknown argument(s) specified."},
        {{"-x", "1"}, "Invalid or unknown option '-x' specified."},
        {{"-n", "1", "-n", "2"}, "Argument -n cannot be used multiple times."},
        {{"-n"}, "Argument -n requires mandatory parameter."},
        {{"-n", "-f", "1"}, "Argument -n requires mandatory parameter."},
        {{"-n", "1", "-f"}, "Argument -f requires mandatory parameter."},
        {{"-n", "FEZZ"}, "Invalid page number specified. Please specify valid integer."},
        {{"-n", "0x"},
         "Invalid page number '0000' specified. Page number should be in xxxx format."},
        {{"-n", "0"},
         "Invalid page number '0000' specified. Page number should be in xxxx format."},
        {{"-n", "0xFFFF"},
         "Invalid page number 'ffff' specified. Page number should be in xxxx format."},
        {{"-n", "123456789"},
         "Invalid page number '123456789' specified. Please specify valid integer."},
        {{"-n", "1", "-f", "one"}, "Invalid region specified. Please specify valid integer."},
        {{"-n", "1", "-f", "3"}, "Invalid region specified. Please specify valid region."},
        // The leftmost error wins.
        {{"-f", "9", "-n", "zz"}, "Invalid region specified. Please specify valid region."},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"-i", "1", "cfg"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        const ConfigRun run = runConfig(kTopology, words);
        EXPECT_EQ(run.out, "ERROR: " + std::string(c.message) + "\n" + kFailed) << c.message;
        EXPECT_EQ(countOf(run.log, "cdb 3c 01 e6"), 0u) << c.message;
    }
}

TEST_F(ExpanderConfig, SasAddressShowAndInputErrors) {
    ConfigRun run = runConfig(kTopology, {"-i", "1", "sasaddr"});
    EXPECT_EQ(run.out, "Current SAS Address      : 53c2a1f-0-0000-0100\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(countOf(run.log, "cdb 3c 01 e6"), 2u);
    run = runConfig(kTopology, {"-i", "3", "sasaddr"});
    EXPECT_EQ(
        run.out,
        "ERROR: Invalid page length or NULL value. Unable to get the SAS address.\n" + kFailed);

    const std::string current = "Current SAS Address      : 53c2a1f-0-0000-0100\n";
    const std::string wwid = "ERROR: Provide a valid WWID in 16 byte hex format\n" + kFailed;
    const std::string usage = "ERROR: Invalid argument(s) specified.\n" + kFailed;
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"-set", "53C2A1F00000107"}, wwid},
        {{"-set", "53C2A1F00000107FF"}, wwid},
        // "0x" plus 14 digits would read 'x' as a zero digit.
        {{"-set", "0x53C2A1F000107F"}, wwid},
        {{"-set", "53C2A1F0000010G7"}, wwid},
        {{"-set", "53C2A1F000001080"},
         current + "ERROR: LSB bytes mask value(s) are not proper\n" + kFailed},
        {{"-set", "53C2A1F10000107F"},
         current + "ERROR: MSB bytes mask value(s) are not proper\n" + kFailed},
        {{"-set"}, usage},
        {{"-get"}, usage},
        {{"-set", "53C2A1F00000107F", "-r"}, usage},
        {{"-set", "53C2A1F00000107F", "-nr", "x"}, usage},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"-i", "1", "sasaddr"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        run = runConfig(kTopology, words);
        EXPECT_EQ(run.out, c.out) << c.args.back();
        EXPECT_EQ(run.status, 1) << c.args.back();
        EXPECT_EQ(countOf(run.log, "e3 00"), 0u) << c.args.back();
        EXPECT_EQ(countOf(run.log, "cdb 3b"), 0u) << c.args.back();
    }
}

TEST_F(ExpanderConfig, SasAddressSet) {
    // With the reset: the region is read and written once, and a later
    // listing finds the expander under its new address.
    const std::string state = makeTempDir();
    ConfigRun run = runConfig(kTopology, {"-i", "1", "sasaddr", "-set", "53C2A1F00000013F"}, state);
    EXPECT_EQ(run.out,
              "Current SAS Address      : 53c2a1f-0-0000-0100\n"
              "Resetting the expander...\n"
              "SAS address changed successfully.\n"
              "Changed SAS Address      : 53c2a1f-0-0000-013f\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(countOf(run.log, "cdb 3c 03 e3"), 1u);
    EXPECT_EQ(countOf(run.log, "cdb 3c 02 e3"), 1u);
    EXPECT_EQ(countOf(run.log, "cdb 3b 02 e3 00 00 00 01 00 00"), 1u);
    EXPECT_EQ(countOf(run.log, "cdb 3b 01 e9"), 1u);
    run = runConfig(kTopology, {"--list"}, state);
    EXPECT_NE(run.out.find("QX-S24 A0        53c2a1f-0-0000-013f"), std::string::npos) << run.out;

    // -nr: no reset, the flash holds the new address; a marker 0x01 record
    // counts as active (page reads of the region need its checksum right).
    const std::string other = makeTempDir();
    run = runConfig(kTopology, {"-i", "7", "sasaddr", "-set", "53C2A1F0000001FF", "-nr"}, other);
    EXPECT_EQ(run.out,
              "Current SAS Address      : 53c2a1f-0-0000-0500\n"
              "Changed SAS Address      : 53c2a1f-0-0000-01ff\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(countOf(run.log, "cdb 3b 01 e9"), 0u);
    run = runConfig(kTopology, {"-i", "7", "cfg", "-n", "0xFE00", "-f", "2"}, other);
    EXPECT_EQ(run.out, dump("000001ff"));
}

TEST_F(ExpanderConfig, SasAddressSetFailures) {
    const std::string cannot =
        "ERROR: Can't change SAS Address for this device.\n"
        "ERROR: SAS Address/Report General page not available.\n"
        "ERROR: Unable to set the Enclosure SAS address.\n" +
        kFailed;
    const std::string readFailure =
        "ERROR: Unable to read the manufacturing region values.\n"
        "ERROR: Unable to set the Enclosure SAS address.\n" +
        kFailed;
    auto current = [](const char* low) {
        return std::string("Current SAS Address      : 53c2a1f-0-0000-") + low + "\n";
    };
    const struct {
        const char* index;
        std::string out;
        bool written;
    } cases[] = {
        // Only an inactive 0xFE00 record: nothing runs or is patched.
        {"4", "ERROR: Unable to get the SAS address.\n" + cannot, false},
        // An 8-byte 0xFE00 page: patching it would overwrite the next record.
        {"5", "ERROR: Invalid page length or NULL value. Unable to get the SAS address.\n" + cannot,
         false},
        {"6", "ERROR: Unable to get the SAS address.\n" + cannot, false},
        {"13", current("0d00") + cannot, false},
        {"8", current("0800") + readFailure, false},
        {"9", current("0900") + readFailure, false},
        {"10", current("0a00") + "ERROR: Unable to set the Enclosure SAS address.\n" + kFailed,
         true},
        {"11", current("0b00") + "Resetting the expander...\nERROR: Reset Failed.\n" + kFailed,
         true},
        {"12",
         current("0c00") +
             "Resetting the expander...\n"
             "SAS address changed but unable to discover the expander with changed SAS address.\n" +
             kFailed,
         true},
    };
    for (const auto& c : cases) {
        const ConfigRun run =
            runConfig(kTopology, {"-i", c.index, "sasaddr", "-set", "53C2A1F00000123F"});
        EXPECT_EQ(run.out, c.out) << "expander " << c.index;
        EXPECT_EQ(run.status, 1) << "expander " << c.index;
        EXPECT_EQ(countOf(run.log, "cdb 3b 02 e3") != 0, c.written) << "expander " << c.index;
    }
}

const char* const kRouteHeading =
    "\nIndex  WWID               PhyMap             EntryState     \n";

TEST_F(ExpanderConfig, RouteTables) {
    const struct {
        const char* topology;
        const char* index;
        std::string out;
        int status;
        size_t windowRequests;
    } cases[] = {
        {"", "3",
         std::string(kRouteHeading) + " 0     5000c500 12340001  4              1\n"
                                      " 1     5000c500 12340005  5              1\n"
                                      " 2     53c2a1f0 00001010  16              1\n"
                                      " 3     53c2a1f0 00002000  28 29 30 31              3\n"
                                      " 7     53c2a1f0 0000103e  32 33              1\n",
         0, 6144},
        {"", "4",
         std::string(kRouteHeading) + " 0     5000cca0 abcd0001  4              1\n"
                                      " 1     5000cca0 abcd0005  5              1\n"
                                      " 2     53c2a1f0 0000200c  12              1\n"
                                      " 5     53c2a1f0 0000203e  24 25 26              1\n"
                                      " 2047  53c2a1f0 00001000  16 17 18 19              3\n",
         0, 6144},
        // 51 phys: 47 from bit 15 of the high map, virtual 48 from bit 18.
        {kTopology, "14",
         std::string(kRouteHeading) + " 3     5000c500 00000003  0 31 32 47 48 50              2\n",
         0, 6144},
        // An empty table prints only the heading.
        {kTopology, "6", kRouteHeading, 0, 6144},
        // Nine failed reads of entry 0, then it answers.
        {kTopology, "15",
         std::string(kRouteHeading) + " 0     5000c500 00000001  1              1\n", 0, 6144 + 27},
        // Ten failed reads: the entry is given up.
        {kTopology, "16", "Unable to get the route table entry.\n" + kFailed, 1, 30},
        {kTopology, "17",
         std::string(kRouteHeading) + "Failed to get Phy Number information.\n" + kFailed, 1, 6144},
    };
    for (const auto& c : cases) {
        const ConfigRun run = runConfig(c.topology, {"-i", c.index, "route"});
        EXPECT_EQ(run.out, c.out) << c.topology << " " << c.index;
        EXPECT_EQ(run.status, c.status) << c.index;
        EXPECT_EQ(countOf(run.log, "cdb 3b 01 c2 a0") + countOf(run.log, "cdb 3c 01 c2 a0"),
                  c.windowRequests)
            << c.index;
    }
    const ConfigRun extra = runConfig(kTopology, {"-i", "1", "route", "all"});
    EXPECT_EQ(extra.out,
              "ERROR: Invalid command. Command does not require any arguments.\n" + kFailed);
}

}  // namespace
