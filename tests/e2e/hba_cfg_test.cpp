// HBA cfg under the emulator (topologies/hba-cfg.json): adapter 1 is a
// QS-9400-8i (newest family, an NVMe device on link 0), adapter 2 a
// QS-9305-24i reporting integrated RAID, adapter 3 a QS-9400-8i whose SAS IO
// Unit page 1 NVRAM reads and page 5 current writes fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

const char* const kModeFailed = "ERROR: ERROR CODE 02020000\n";
const char* const kHeader = "          0        4        8        C       \n";

class HbaCfg : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
        state_ = makeTempDir();
        log_ = state_ + "/emu.log";
    }
    CliRun run(std::vector<std::string> args) {
        std::remove(log_.c_str());
        CliOptions options;
        options.emulated = true;
        options.topology = expanderTopology("hba-cfg.json");
        options.stateDir = state_;
        options.args = std::move(args);
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
    // Configuration requests of the last run beyond those of discovery.
    int configRequests() {
        const int mine = count(log_, "config action");
        const std::string kept = log_;
        log_ = state_ + "/baseline.log";
        run({"-i", "1", "help"});
        const int base = count(log_, "config action");
        log_ = kept;
        return mine - base;
    }
    std::string state_;
    std::string log_;
};

// The heading lines of a dump, in order.
std::vector<std::string> headings(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.find("Page") != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

std::string iocPage1() {
    return std::string(kHeader) +
           "00000000: 01010801 00000001 0000000a 0000ff08   .... .... .... ....\n"
           "00000010: 00000000 00000000 00000000 00000000   .... .... .... ....\n";
}

TEST_F(HbaCfg, ReadIocPage1InEveryRegion) {
    const std::string page1 = iocPage1();
    for (const char* region : {"1", "2", "3"}) {
        const CliRun r = run({"-i", "1", "cfg", "-t", "1", "-n", "1", "-f", region});
        EXPECT_EQ(r.out, page1) << region;
        EXPECT_EQ(r.status, 0);
    }
    run({"-i", "1", "cfg", "-t", "1", "-n", "1"});
    EXPECT_EQ(configRequests(), 3);
}

TEST_F(HbaCfg, ArgumentAndWriteRefusals) {
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{}, "Invalid command syntax or unknown argument(s) specified."},
        {{"-x"}, "Invalid Argument '-x'."},
        {{"-t", "1", "-t", "2"}, "Argument -t cannot be used multiple times."},
        {{"-t"}, "Option -t requires mandatory argument."},
        {{"-t", "zz", "-n", "1"}, "Invalid 'zz' value specified for -t."},
        {{"-t", "100", "-n", "1"}, "Invalid '100' value specified for -t."},
        {{"-t", "1", "-n", "256"}, "Invalid value specified for -n."},
        {{"-t", "1", "-n", "x"}, "Invalid value specified for -n."},
        {{"-t", "1", "-n", "1", "-f", "0"}, "Invalid value specified for -f."},
        {{"-t", "1", "-n", "1", "-f", "4294967297"}, "Invalid value specified for -f."},
        {{"-t", "1", "-n", "1", "-a", "123"},
         "'123' specified value should be in xxxxxxxx hex format."},
        {{"-t", "1", "-n", "1", "-f", "4"}, "Invalid region selected."},
        {{"-t", "1", "-n", "1", "-o", "4"},
         "PageOffset and Page Write Data are mandatory for write operation."},
        {{"-t", "1"}, "PageType and PageNumber are mandatory for read/write operation(s)."},
        {{"-t", "1", "-n", "1", "-o", "0", "-w", "00000001"},
         "Write operation cannot be performed at offset 00000000 for this pagetype."},
        {{"-t", "1", "-n", "1", "-o", "2", "-w", "00000001"},
         "Invalid offset specified. Offset is not DWORD aligned."},
        {{"-t", "1", "-n", "1", "-o", "4", "-w", "1"},
         "Data specified to write should be in xxxxxxxx hex format."},
        // The values before a malformed one are not written.
        {{"-t", "1", "-n", "1", "-o", "4", "-w", "00000001", "0000002"},
         "Data specified to write should be in xxxxxxxx hex format."},
        {{"-t", "1", "-n", "1", "-o", "4", "-w"},
         "Provide valid data to write in xxxxxxxx hex format."},
        {{"-t", "10", "-n", "1", "-o", "8", "-w", "00000000"},
         "Write operation cannot be performed at offset 00000008 for this pagetype."},
        {{"-t", "1", "-n", "1", "-o", "1c", "-w", "00000001", "00000002"},
         "PageOffset or the number of values specified to write are out of range."},
        // Selector 2 would reset the page to its defaults and drop the data.
        {{"-t", "10", "-n", "1", "-o", "c", "-w", "5a5aa5a5", "-f", "2"},
         "Invalid region selected to write."},
        {{"-t", "1", "-n", "9"}, "Unable to retrieve the page or invalid page."},
        {{"-t", "10", "-n", "1", "-nondefault"},
         "Correct format: cfg -nondefault -t <PageType> -n <PageNumber>."},
        {{"-dumpall", "-f", "1"},
         "Option -f cannot be used with -nondefault/-resetdefault/-dumpall."},
        {{"-nondefault", "-o", "4"},
         "Option -o cannot be used with -nondefault/-resetdefault/-dumpall."},
        {{"-nondefault", "-t", "1"},
         "-t and -n options are mandatory for default/reset settings for individual pages."},
        {{"-nondefault", "-t", "1", "-n", "1"},
         "The specified page is read only and write operation is not supported."},
        {{"-nondefault", "-t", "1c", "-n", "0"}, "PageType specified is obsolete or invalid."},
        {{"-nondefault", "-t", "10", "-n", "0"},
         "Page entered is either obsolete or default page not present."},
        {{"-nondefault", "-t", "10", "-n", "7"}, "PageType specified is obsolete or invalid."},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-i", "1", "cfg"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun r = run(args);
        EXPECT_EQ(r.out, "ERROR: " + c.error + "\n" + kModeFailed) << args.back();
        EXPECT_EQ(r.status, 1);
    }
    // Nothing above reached the controller's pages.
    EXPECT_EQ(run({"-i", "1", "cfg", "-nondefault", "-t", "10", "-n", "1"}).out,
              "\nPersistent page valid for PageType : 0x0f, ExtPageType : 0x10, PageNumber : 1\n");
    EXPECT_EQ(run({"-i", "1", "cfg", "-t", "1", "-n", "1"}).out, iocPage1());
    // A refused write says so.
    const CliRun r = run({"-i", "3", "cfg", "-t", "10", "-n", "5", "-o", "c", "-w", "00000001"});
    EXPECT_EQ(r.out, std::string("ERROR: Unable to write the page. ERROR CODE : 00000001\n") +
                         kModeFailed);
}

TEST_F(HbaCfg, WriteCompareAndRestoreOnePage) {
    CliRun r =
        run({"-i", "1", "cfg", "-t", "10", "-n", "1", "-o", "c", "-w", "5a5aa5a5", "-f", "3"});
    EXPECT_EQ(r.out, "Page has been successfully written.\n");
    EXPECT_EQ(configRequests(), 5);
    const std::string compared =
        "\nPersistent page valid for PageType : 0x0f, ExtPageType : 0x10, PageNumber : 1\n"
        "Mismatch at offset 0000000c : default = 01000000 and nvram = 5a5aa5a5 \n";
    r = run({"-i", "1", "cfg", "-nondefault", "-t", "10", "-n", "1"});
    EXPECT_EQ(r.out, compared);
    EXPECT_EQ(configRequests(), 5);
    r = run({"-i", "1", "cfg", "-resetdefault", "-t", "10", "-n", "1"});
    EXPECT_EQ(r.out, compared +
                         "PageType : 0x0f, ExtPageType : 10, PageNumber : 1 restored to default "
                         "values.\n");
    EXPECT_EQ(configRequests(), 7);
    r = run({"-i", "1", "cfg", "-resetdefault", "-t", "10", "-n", "1"});
    EXPECT_EQ(r.out,
              "\nPersistent page valid for PageType : 0x0f, ExtPageType : 0x10, PageNumber : 1\n");
    EXPECT_EQ(configRequests(), 5);
    // The current copy is written in place (region 1, the default).
    EXPECT_EQ(
        run({"-i", "1", "cfg", "-t", "1", "-n", "1", "-o", "4", "-w", "00000000", "00000014"}).out,
        "Page has been successfully written.\n");
    EXPECT_NE(run({"-i", "1", "cfg", "-t", "1", "-n", "1"})
                  .out.find("00000000: 01010801 00000000 00000014 0000ff08"),
              std::string::npos);
}

TEST_F(HbaCfg, FamilyWalk) {
    std::string clean;
    for (const char* page :
         {"'IO Unit Pages' Number : 01", "'IO Unit Pages' Number : 0b", "'IOC Pages' Number : 01",
          "'BIOS Pages' Number : 01", "'BIOS Pages' Number : 02", "'BIOS Pages' Number : 03",
          "'BIOS Pages' Number : 04", "'SAS IO Unit Pages' Number : 01",
          "'SAS IO Unit Pages' Number : 05", "'Log Pages' Number : 00",
          "'PCIe IO Unit Pages' Number : 01"}) {
        clean += std::string("\nPersistent page valid for Page : ") + page + "\n";
    }
    EXPECT_EQ(run({"-i", "1", "cfg", "-nondefault"}).out, clean);

    ASSERT_EQ(run({"-i", "1", "cfg", "-t", "2", "-n", "3", "-o", "8", "-w", "00000007", "-f", "3"})
                  .status,
              0);
    std::string changed = clean;
    const std::string bios3 = "'BIOS Pages' Number : 03\n";
    changed.insert(changed.find(bios3) + bios3.size(),
                   "Mismatch at offset 00000008 : default = 00000000 and nvram = 00000007 \n");
    EXPECT_EQ(run({"-i", "1", "cfg", "-nondefault"}).out, changed);
    std::string restored = changed;
    restored.insert(restored.find("nvram = 00000007 \n") + 18,
                    "Page : 'BIOS Pages' Number : 03 restored to default values.\n");
    EXPECT_EQ(run({"-i", "1", "cfg", "-resetdefault"}).out, restored);
    EXPECT_EQ(run({"-i", "1", "cfg", "-resetdefault"}).out, clean);

    // An NVRAM read failure stops the walk.
    const CliRun r = run({"-i", "3", "cfg", "-nondefault"});
    EXPECT_EQ(r.out,
              clean.substr(0, clean.find("\nPersistent page valid for Page : 'SAS IO Unit")) +
                  "ERROR: Error in NVRAM read page.\n" + kModeFailed);
    EXPECT_EQ(r.status, 1);
}

TEST_F(HbaCfg, DumpAll) {
    const std::vector<std::string> common = {
        "Manufacturing Page 0", "Manufacturing Page 5", "IOC Page 0",
        "IOC Page 1",           "IO Unit Page 0",       "IO Unit Page 1",
        "IO Unit Page 7",       "SAS IO Unit Page 0",   "SAS IO Unit Page 1"};
    const std::vector<std::string> sas = {"BIOS Page 1",
                                          "BIOS Page 2",
                                          "BIOS Page 3",
                                          "BIOS Page 4",
                                          "SAS Enclosure Page 0 / 0001",
                                          "SAS Phy Page 0 / Phy 00",
                                          "SAS Phy Page 1 / Phy 00",
                                          "SAS Phy Page 2 / Phy 00",
                                          "SAS Phy Page 0 / Phy 01",
                                          "SAS Phy Page 1 / Phy 01",
                                          "SAS Phy Page 2 / Phy 01",
                                          "LOG Page 0"};
    std::vector<std::string> newest = common;
    newest.push_back("SAS IO Unit Page 5");
    newest.insert(newest.end(), sas.begin(), sas.end());
    for (const char* line :
         {"PCIe IO Unit Page 0", "PCIe IO Unit Page 1", "PCIe Device Page 0 / Handle 0003",
          "PCIe Link Page 1 / Link 00", "PCIe Link Page 1 / Link 01", "PCIe Link Page 1 / Link 02",
          "PCIe Link Page 1 / Link 03"})
        newest.push_back(line);
    CliRun r = run({"-i", "1", "cfg", "-dumpall"});
    EXPECT_EQ(headings(r.out), newest);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 22 + std::string(kHeader).size()),
              std::string("\nManufacturing Page 0\n") + kHeader);
    EXPECT_EQ(count(log_, "type 0x08"), 0);  // no RAID capability: no RAID page asked

    std::vector<std::string> older = common;
    older.push_back("SAS IO Unit Page 4");
    older.push_back("SAS IO Unit Page 5");
    older.insert(older.end(), sas.begin(), sas.end());
    r = run({"-i", "2", "cfg", "-dumpall"});
    EXPECT_EQ(headings(r.out), older);
    // Integrated RAID: the volume walk and both physical disk pages are asked.
    EXPECT_EQ(count(log_, "type 0x08"), 1);
    EXPECT_EQ(count(log_, "type 0x0a"), 2);
    EXPECT_EQ(count(log_, "ext 0x1b"), 0);  // no PCIe pages before the newest family

    // A firmware answering the enclosure it was asked to go past: the walk
    // shows it once and ends.
    r = run({"-i", "3", "cfg", "-dumpall"});
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> lines = headings(r.out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "SAS Enclosure Page 0 / 0001"), 1);
}

}  // namespace
