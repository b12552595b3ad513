// HBA ioc under the emulator (topologies/hba-ioc.json): adapter 1 is a
// QS-9400-8i with 8 phys, two ports, scripted discovery outcomes and an NVMe
// device on PCIe link 1; adapter 2 a QS-9305-24i (no PCIe) with 4 phys;
// adapter 3 a QS-9400-8i whose Manufacturing page 5 NVRAM writes and second
// Port Facts fail.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

const char* const kModeFailed = "ERROR: ERROR CODE 02020000\n";

class HbaIoc : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
        state_ = makeTempDir();
        log_ = state_ + "/emu.log";
    }
    // One process on the shared state; output after the banner.
    CliRun run(std::vector<std::string> args, const std::string& input = "") {
        std::remove(log_.c_str());
        CliOptions options;
        options.emulated = true;
        options.topology = expanderTopology("hba-ioc.json");
        options.stateDir = state_;
        options.args = std::move(args);
        options.input = input;
        options.emuArgs = {"--log", log_};
        CliRun r = runCli(options);
        EXPECT_EQ(r.out.substr(0, std::string(kBanner).size()), kBanner);
        r.out.erase(0, std::string(kBanner).size());
        return r;
    }
    static int count(const std::string& log, const std::string& what) {
        std::ifstream in(log);
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.find(what) != std::string::npos;
        return n;
    }
    // Requests of the last run whose log line contains `what`, beyond those
    // of discovery (a run of help on the same topology).
    int requests(const std::string& what) {
        const int mine = count(log_, what);
        const std::string kept = log_;
        log_ = state_ + "/baseline.log";
        run({"-i", "1", "help"});
        const int base = count(log_, what);
        log_ = kept;
        return mine - base;
    }
    std::string state_;
    std::string log_;
};

TEST_F(HbaIoc, WwidReadSetAndRestore) {
    CliRun r = run({"-i", "1", "ioc", "-wwid"});
    EXPECT_EQ(r.out, "Current WWID : 53c2a1f000010000\n");
    EXPECT_EQ(requests("config action"), 5);

    r = run({"-i", "1", "ioc", "-wwid", "-set", "5000ABCD0000FFFF"});
    EXPECT_EQ(r.out, "Current WWID : 53c2a1f000010000\nChanged WWID : 5000abcd0000ffff\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(requests("config action"), 9);
    // Phy 7 continues the sequence; the current copy is what --list shows.
    r = run({"-i", "1", "cfg", "-t", "9", "-n", "5"});
    EXPECT_NE(r.out.find("00000080: 00010006 5000abcd"), std::string::npos) << r.out;
    r = run({"--list"});
    EXPECT_NE(r.out.find("  1) QS-9400-8i       5000abc-d-0000-ffff   16.00.03.00\n"),
              std::string::npos)
        << r.out;

    // Four phys from FFFFFFFE: the low word wraps, digit F of the high word clears.
    r = run({"-i", "2", "ioc", "-wwid", "-set", "5000ABCFFFFFFFFE"});
    EXPECT_EQ(r.out, "Current WWID : 53c2a1f000020000\nChanged WWID : 5000abcffffffffe\n");
    r = run({"-i", "2", "cfg", "-t", "9", "-n", "5", "-f", "3"});
    EXPECT_NE(r.out.find("00000010: fffffffe 5000abcf"), std::string::npos);
    EXPECT_NE(r.out.find("00000020: ffffffff 5000abcf"), std::string::npos);
    EXPECT_NE(r.out.find("00000030: 00000000 5000abc0"), std::string::npos);
    EXPECT_NE(r.out.find("00000040: 00000001 5000abc0"), std::string::npos) << r.out;

    // A refused NVRAM write puts the current copy back: no WWID that a reset reverts.
    r = run({"-i", "3", "ioc", "-wwid", "-set", "5000ABCD0000FFFF"});
    EXPECT_EQ(r.out, std::string("Current WWID : 53c2a1f000030000\n"
                                 "ERROR: Error in set new WWID ERROR CODE : 00000001\n") +
                         kModeFailed);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(run({"-i", "3", "ioc", "-wwid"}).out, "Current WWID : 53c2a1f000030000\n");
}

TEST_F(HbaIoc, ArgumentErrors) {
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"ioc"}, "Invalid command syntax or unknown argument(s) specified."},
        {{"ioc", "-x"}, "Unknown argument '-x'"},
        {{"ioc", "-diserr", "-facts"}, "Option '-facts' cannot be used with any other option."},
        {{"ioc", "-wwid", "set"}, "Unknown option 'set"},
        {{"ioc", "-wwid", "-set"}, "Provide a valid WWID in 16 byte hex format"},
        {{"ioc", "-wwid", "-set", "0x5000ABCD0000FF"},
         "Provide a valid WWID in 16 byte hex format"},
        {{"ioc", "-wwid", "-set", "5000ABCD0000FFFG"},
         "Provide a valid WWID in 16 byte hex format"},
        {{"ioc", "-facts", "-raw"}, "Invalid argument(s) specified."},
        {{"ioc", "-displaypcie"}, "PCIe operation is not supported for the selected target"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-i", "2"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun r = run(args);
        EXPECT_EQ(r.out, "ERROR: " + c.error + "\n" + kModeFailed) << c.args.back();
        EXPECT_EQ(r.status, 1);
    }
    // The questions need a person: refused in a batch script.
    const std::string script = writeTempFile("ioc.txt", "ioc -configsas\n");
    CliRun r = run({"-i", "1", "--batch", script});
    EXPECT_NE(r.out.find("ERROR: Change IO Unit settings cannot be executed in Batch Mode.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.status, 0);
    const std::string pcie = writeTempFile("pcie.txt", "ioc -configpcie\n");
    r = run({"-i", "1", "--batch", pcie});
    EXPECT_NE(r.out.find("ERROR: Change PCIe IO Unit settings cannot be executed in Batch Mode.\n"),
              std::string::npos)
        << r.out;
}

TEST_F(HbaIoc, DiscoveryErrors) {
    std::string expected = "Discovery is in progress for PHY : 0.\nDiscovery Errors for PHY 0 :\n";
    for (const char* line : {"Loop Detected",
                             "Maximum Enclosures Exceeded",
                             "Maximum Expanders Exceeded",
                             "Maximum Devices Exceeded",
                             "Maximum Topology PHYs Exceeded",
                             "Downstream Initiator detected in Simplified Routing mode",
                             "Multiple subtractive to subtractive ports detected",
                             "Multiple subtractive ports in an Expander detected",
                             "Multiple controller ports attached to the same doamin",
                             "Table to subtractive link detected",
                             "Unsupported device detected",
                             "Subtractive to Subtractive link detected",
                             "Table to Table link detected",
                             "SMP CRC Error",
                             "SMP function failed",
                             "Expander Route table out of entries",
                             "SMP Timeout",
                             "Multiple ports with same SAS Address detected",
                             "Route Table Index does not exist",
                             "Unaddressed Device found"}) {
        expected += std::string(line) + "\n";
    }
    expected +=
        " \n"
        "No Discovery Errors for PHY : 1\n"
        "Discovery is in progress for PHY : 2.\n"
        "No Discovery Errors for PHY : 2\n"
        "Discovery Errors for PHY 3 :\n"
        "Loop Detected\n"
        "Route Table Index does not exist\n"
        " \n";
    for (int phy = 4; phy < 8; ++phy)
        expected += "No Discovery Errors for PHY : " + std::to_string(phy) + "\n";
    const CliRun r = run({"-i", "1", "ioc", "-diserr"});
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(requests("config action"), 3);
}

TEST_F(HbaIoc, SasSettingsFromScriptedAnswers) {
    // The settings and the port display of the persistent copies.
    auto display = [](const char* ncq, const char* cache, const char* depths, const char* delays,
                      const std::vector<std::string>& phys) {
        std::string out = std::string("\nSATA Native Command Queuing         : ") + ncq +
                          "\nSATA Write Caching                  : " + cache + "\n" + depths +
                          delays +
                          "Interrupt Coalescing                : Enabled, Timeout is : 10us, "
                          "Depth : 8\n"
                          "PHY     Link      Link Rate    SSP       SSP       Port       Port\n"
                          "        Enabled    Max  Min     Initiator Target    Config     Number\n";
        for (size_t i = 0; i < phys.size(); ++i) {
            out += "0" + std::to_string(i) + "      Yes       " + phys[i] + "\n";
        }
        return out + "\n";
    };
    std::vector<std::string> phys;
    for (int i = 0; i < 8; ++i)
        phys.push_back("12.0 1.5     Yes       No        Auto       " + std::to_string(i));
    EXPECT_EQ(run({"-i", "1", "ioc", "-displaysas"}).out,
              display("Enabled (0)", "Enable write cache (0)",
                      "SATA maximum queue depth            : 32\n"
                      "SAS maximum queue depth, Narrow     : 128\n"
                      "SAS maximum queue depth, Wide       : 256\n",
                      "Device missing report delay         : 0 seconds\n"
                      "Device missing I/O delay            : 15 seconds\n",
                      phys));

    // End of input at the second question writes nothing.
    CliRun r = run({"-i", "1", "ioc", "-configsas"}, "1\n");
    EXPECT_NE(r.out.find("ERROR: Invalid value specified. Unable to complete the input.\n"),
              std::string::npos);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(requests("action 4"), 0);

    // NCQ off, write cache from the target, depths, delay 170 refused then
    // 160, phy 9 refused, phy 1 (max 3.0 Gbps, manual port 5), then all phys
    // (min 1.5 Gbps), ENTER.
    const std::string answers =
        "1\n2\n100\n1000\n2000\n170\n160\n7\n9\n1\n\n1\n\n\n1\n0\n5\n8\n\n\n0\n\n\n\n\n";
    r = run({"-i", "1", "ioc", "-configsas"}, answers);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ERROR: Invalid value specified. Delay should be multiples of 16.\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("ERROR: Invalid value specified. Please enter 0 to 7 or 8\n"),
              std::string::npos);
    EXPECT_EQ(requests("action 4"), 2);

    phys[1] = "3.0  1.5     Yes       No        Manual     5";
    EXPECT_EQ(run({"-i", "1", "ioc", "-displaysas"}).out,
              display("Disabled (1)", "Do not modify write cache (2)",
                      "SATA maximum queue depth            : 100\n"
                      "SAS maximum queue depth, Narrow     : 1000\n"
                      "SAS maximum queue depth, Wide       : 2000\n",
                      "Device missing report delay         : 160 seconds\n"
                      "Device missing I/O delay            : 7 seconds\n",
                      phys));
    r = run({"-i", "1", "cfg", "-t", "10", "-n", "1", "-f", "3"});
    EXPECT_NE(r.out.find("00000000: 0f010001 0010001d 03e80000 07d00000"), std::string::npos);
    EXPECT_NE(r.out.find("00000010: 078a6408 b8000100 00000071 00000000"), std::string::npos);
    EXPECT_NE(r.out.find("00000020: 98000005 00000071 00000000 b8000102"), std::string::npos)
        << r.out;
    EXPECT_EQ(run({"-i", "1", "cfg", "-t", "0", "-n", "1", "-f", "3"}).out,
              "          0        4        8        C       \n"
              "00000000: 00010201 00000500                     .... ....\n");
}

TEST_F(HbaIoc, PcieSettings) {
    const std::string header =
        "NVMe maximum queue depth            : %d\n"
        "Num Phys                            : 4 \n"
        "PCIe EndPoint Only values can be PCIe Endpoint Only (EP) or PCIe RootComplex (RC)\n"
        "Link      Link      PCIe Endpoint Link      Direct      Device\n"
        "Num       Enabled   Only          Rate      Att.        Type\n";
    const std::string none =
        "-          -        -             -          -          -         \n\n";
    auto table = [&](int depth, const std::string& link1) {
        std::string h = header;
        h.replace(h.find("%d"), 2, std::to_string(depth));
        return h + none + link1 + "\n" + none + none;
    };
    EXPECT_EQ(run({"-i", "1", "ioc", "-displaypcie"}).out,
              table(128, "01        Yes        RC           8.0        Yes          10\n"));

    // Link 1: disabled, endpoint only, 8.0 GT/s, number 9; queue depth 64.
    CliRun r = run({"-i", "1", "ioc", "-configpcie"}, "64\n1\n1\n1\n2\n9\n\n");
    EXPECT_EQ(r.status, 0) << r.out;
    r = run({"-i", "1", "cfg", "-t", "1b", "-n", "1", "-f", "3"});
    EXPECT_NE(r.out.find("00000000: 0f010001 001b0011 00000000 00400000"), std::string::npos);
    EXPECT_NE(r.out.find("00000020: 40090009 00000010"), std::string::npos) << r.out;
    // -displaypcie shows current values, which the NVRAM change leaves alone.
    EXPECT_EQ(run({"-i", "1", "ioc", "-displaypcie"}).out,
              table(128, "01        Yes        RC           8.0        Yes          10\n"));
}

TEST_F(HbaIoc, Facts) {
    CliRun r = run({"-i", "1", "ioc", "-facts"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 12), "IOC Facts: \n");
    EXPECT_NE(r.out.find("\n\nPort Facts:  Port 1\n          0        4        8        C       \n"
                         "00000000: 05070000 00010000 00000000 00000000"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(requests("function 0x03"), 1);
    EXPECT_EQ(requests("function 0x05"), 2);

    r = run({"-i", "1", "ioc", "-facts", "-decode"});
    EXPECT_EQ(r.out,
              "IOC Facts: \n"
              "-----------------------------------\n"
              "IOC Number                     : 0000\n"
              "IOC Exceptions                 : 00000000\n"
              "Max Chain Depth                : 80\n"
              "Who Init                       : Host Driver (04)\n"
              "Number of Ports                : 02\n"
              "Max MSIx Vectors               : 60\n"
              "Max Request Credit             : 2680\n"
              "Product ID                     : 2213\n"
              "IOC Capabilities               : 0002A85C\n"
              "IOC Request Frame Size         : 0020\n"
              "IOC Max Chain Segment Size     : 0080\n"
              "Max Initiators                 : 0020\n"
              "Max Targets                    : 0400\n"
              "Max SAS Expanders              : 0040\n"
              "Max Enclosures                 : 0040\n"
              "Protocol Flags                 : 0002 [SCSI Initiator - 1, SCSI Target - 0]\n"
              "High Priority Credit           : 0080\n"
              "Max Reply Descriptor Queue     : 1000\n"
              "Reply Frame Size               : 20\n"
              "Max Volumes                    : 00\n"
              "Max Dev Handles                : 0500\n"
              "Max Persistent Entries         : 0400\n"
              "Min Dev Handle                 : 0001\n"
              "\n\nPort Facts:  Port 0\n"
              "-----------------------------------\n"
              "Port Number                    : 00\n"
              "IOC Status                     : 0000\n"
              "IOC Log Info                   : 00000000\n"
              "Port Type                      : SAS Physical (30)\n"
              "Max Posted Buffers             : 0080\n"
              "\n\nPort Facts:  Port 1\n"
              "-----------------------------------\n"
              "Port Number                    : 01\n"
              "IOC Status                     : 0000\n"
              "IOC Log Info                   : 00000000\n"
              "Port Type                      : SAS Physical (30)\n"
              "Max Posted Buffers             : 0080\n");

    // A flagged Port Facts status ends the process with 0x5020000 plus it.
    r = run({"-i", "3", "ioc", "-facts", "-decode"});
    EXPECT_NE(r.out.find("\n\nPort Facts:  Port 0\n"), std::string::npos);
    const std::string tail = "ERROR: IOC Status failed.\nERROR: ERROR CODE 05020004\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_EQ(r.status, 4);
}

}  // namespace
