// HBA scan under the emulator: link summaries (ten phys, unknown rate codes,
// PCIe links on the newest family), SAS, SATA, enclosure and NVMe devices,
// devices the controller or driver cannot serve, an adapter without devices,
// a failing device page, the argument rule and the requests a scan costs.
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

class HbaScan : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

const char* const kNewest =
    "QS-9400-8i's SAS links are\n"
    " \n"
    "Links <00-07>:  SAS-12.0 G,  SAS-12.0 G,     Unknown,     Unknown,    SAS-Down,     SAS-Off, "
    " SAS-Failed,    SATA OOB \n"
    "Links <08-09>:   SAS-3.0 G,   SAS-6.0 G \n"
    "\n"
    "QS-9400-8i's PCI links are\n"
    " \n"
    "Links <00-03>:   PCIE-Down,   PCIE-Down,  PCIE-8.0 G,   PCIE-Down \n"
    "\n"
    "\n"
    "B   T   L   DH  Type       Vendor   Product          Rev  WWID             Phy \n"
    "0   0   0   d   Disk       ATA      QD4 SATA SSD     QA01 53c2a1f000040109  09 \n"
    "0   1   0   e   Disk       QUARLEN  QD12 SAS HDD     Q101 5000c500aa000001  04 \n"
    "0   2   0   f   Disk       QU.RL    QD16 SSD         S1   5000c500aa000005  05 \n"
    "0   5   0   12  Disk       ATA      QD8 SATA HDD     QA01 53c2a1f000003008  08 \n"
    "0   6   0   13  EnclServ   QUARLEN  QX-S24           0001 53c2a1f000003000  24 \n"
    "Displaying PCIe devices...\n"
    "\n"
    "DH   Type       Vendor   Product          Rev  WWID             Port\n"
    "\n"
    "c   NVME        QUARLEN  QN3200 NVMe      1.0  53c2a1f000040200  02 \n";

TEST_F(HbaScan, EveryAdapterOfTheTopology) {
    const struct {
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        // A removed device (access status 7) and one the driver cannot map
        // are not listed; a bell in the vendor text is shown as a dot.
        {{"-i", "1", "scan"}, kNewest, 0},
        {{"-i", "2", "scan"},
         "QS-9305-24i's SAS links are\n \n\nThere are no devices attached.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "3", "scan"},
         "QS-9305-24i's SAS links are\n \n"
         "Links <00-03>:    SAS-Down,    SAS-Down,    SAS-Down,    SAS-Down \n\n"
         "ERROR: Rediscover API failed while getting device count\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "scan", "-x"},
         "ERROR: Invalid argument(s) specified.\nERROR: ERROR CODE 02020000\n",
         1},
    };
    for (const auto& c : cases) {
        const CliRun run = runOnTopology("hba-scan.json", c.args);
        EXPECT_EQ(run.out, std::string(kBanner) + c.out) << c.args[1];
        EXPECT_EQ(run.status, c.status) << c.args[1];
    }
}

TEST_F(HbaScan, AFailingDevicePageHidesNoAdapter) {
    // The last adapter's device pages always fail: discovery still answers.
    const CliRun run = runOnTopology("hba-scan.json", {"--list"});
    EXPECT_EQ(run.out, std::string(kBanner) + kTableHeader +
                           "  1) QS-9400-8i       53c2a1f-0-0004-0000   16.00.03.00\n"
                           "  2) QS-9305-24i      0000000-0-0000-0000   16.00.03.00\n"
                           "  3) QS-9305-24i      53c2a1f-0-0006-0000   16.00.03.00\n"
                           "  4) QX-S24 B0        53c2a1f-0-0000-3000   01.00.00.00\n");
    EXPECT_EQ(run.status, 0);
}

size_t countLines(const std::string& text, const std::string& needle) {
    std::istringstream in(text);
    size_t n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.find(needle) != std::string::npos ? 1 : 0;
    return n;
}

TEST_F(HbaScan, RequestsOfOneDisk) {
    const std::string topology =
        writeTempFile("one-disk.json",
                      R"({"scsi": {"expanders": []}, "controllers": {"adapters": [
             {"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0521", "revision": 2, "phys": 4,
              "devices": [{"phy": 0, "type": "end"}]}]}})");
    const std::string log = makeTempDir() + "/emu.log";
    CliOptions options;
    options.emulated = true;
    options.topology = topology;
    options.emuArgs = {"--log", log};
    options.args = {"-i", "1", "scan"};
    const CliRun run = runCli(options);
    EXPECT_EQ(run.status, 0);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    // Enumeration at discovery and again at rediscovery, then the first
    // access: INQUIRY, serial, READ CAPACITY, page list and rotation page each.
    EXPECT_EQ(countLines(text.str(), "function 0x00 "), 15u);
    // Device pages: two walks of one device (2 + 1 + 2 for its details
    // each), the first access (2 + 2) and the listing (2).
    EXPECT_EQ(countLines(text.str(), "ext 0x12"), 16u);
    EXPECT_EQ(countLines(text.str(), "ioctl 0xc0184c1f ioc"), 2u);
}

// The kernel's device list: a system without it still lists its disks; a
// symbolic link in its place is refused.
TEST_F(HbaScan, DeviceTextSource) {
    const char* const kHead =
        "QS-9305-24i's SAS links are\n \nLinks <00-00>:    SAS-Down \n\n\n"
        "B   T   L   DH  Type       Vendor   Product          Rev  WWID             Phy \n";
    const struct {
        const char* mode;
        std::string out;
        int status;
    } cases[] = {
        {"missing",
         "0   0   0   2   Disk       QUARLEN  QD12 SAS HDD     Q101 53c2a1f000011000  00 \n", 0},
        {"link", "ERROR: Unable to get the device info.\nERROR: ERROR CODE 02020000\n", 1},
    };
    for (const auto& c : cases) {
        CliOptions options;
        options.emulated = true;
        options.topology = writeTempFile(
            std::string("proc-") + c.mode + ".json",
            std::string(R"({"scsi": {"expanders": []}, "controllers": {"procScsi": ")") + c.mode +
                R"(", "adapters": [{"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0521",
                "revision": 2, "phys": 1, "devices": [{"phy": 0, "type": "end"}]}]}})");
        options.args = {"-i", "1", "scan"};
        const CliRun run = runCli(options);
        EXPECT_EQ(run.out, std::string(kBanner) + kHead + c.out) << c.mode;
        EXPECT_EQ(run.status, c.status) << c.mode;
    }
}

// sg3_utils as an independent client of the disks' host nodes.
TEST_F(HbaScan, HostNodesAnswerSg3Utils) {
    if (access("/usr/bin/sg_inq", X_OK) != 0 || access("/usr/bin/sg_readcap", X_OK) != 0)
        GTEST_SKIP() << "sg3_utils not installed";
    const CliRun inq = runUnderEmu({"/usr/bin/sg_inq", "/dev/sda"});
    EXPECT_EQ(inq.status, 0);
    EXPECT_NE(inq.out.find("Product identification: QD12 SAS HDD"), std::string::npos) << inq.out;
    const CliRun cap = runUnderEmu({"/usr/bin/sg_readcap", "/dev/sdm"});
    EXPECT_EQ(cap.status, 0);
    EXPECT_NE(cap.out.find("Number of logical blocks=976773168"), std::string::npos) << cap.out;
    const CliRun missing = runUnderEmu({"/usr/bin/sg_inq", "/dev/sdzz"});
    EXPECT_NE(missing.status, 0);
}

}  // namespace
