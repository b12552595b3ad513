// HBA show under the emulator, one adapter per situation of
// topologies/hba-show.json: every option, both NVDATA forms, both PCI data
// structure revisions, a blank boot region, temperature units and unknown
// link codes, device texts with control bytes and overlong names, and each
// failing request by a scripted fault.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

const char* const kTopology = "hba-show.json";
const char* const kModeFailed = "ERROR: ERROR CODE 02020000\n";

// Adapter 1: newest family, NVDATA default and persistent differ, Fahrenheit,
// unknown link width and speed, texts with an escape and a bell.
const char* const kRevision1 =
    "Firmware Version     : 16.00.03.00\n"
    "XIF Version          : 02.06\n"
    "Nvdata (Default)     : 16.01.00.00\n"
    "Nvdata (Persistent)  : 16.02.03.00\n"
    "Package Version      : 16.00.03.00\n"
    "Firmware Name        : QSC3408-IT\n"
    "Vendor Name          : Quarlen\n"
    "Package Name         : QS-9400-8i IT package\n"
    "WWID                 : 53c2a1f-0-0001-0000\n"
    "BIOS Version         : 08.36.01.00\n"
    "UEFI Version         : 18.00.04.00\n";
const char* const kManufacturing1 =
    "MFG Chip Name        : QSC3408.[2JXXXXX\n"
    "Chip Details         : QS-9400-8i\n"
    "Board name           : QS-9400-8i-LONG-\n";
const char* const kTemperature1 =
    "IOC Temperature      : 130 F\n"
    "Board Temperature    : 101 F\n";
const char* const kLinkAndAddress1 =
    "PCI Connection       : Lane Unknown (16) Speed Unknown (5) Gbps\n"
    "PCI Addr (S:B:D:F)   : 00:03:00:00\n"
    "Driver Version       : xolsas 9.1.\n";

// Adapter 2: second family (header at the image start), x86 image with a
// revision 2 data structure and no EFI image, Celsius, odd PCI location.
const char* const kAll2 =
    "Firmware Version     : 16.00.03.00\n"
    "XIF Version          : 02.05\n"
    "Nvdata               : 16.01.00.00\n"
    "Package Version      : 16.00.03.00\n"
    "Firmware Name        : QSC3108-IT\n"
    "Vendor Name          : Quarlen\n"
    "Package Name         : QS-9305-16i IT package\n"
    "WWID                 : 53c2a1f-0-0002-0000\n"
    "BIOS Version         : 07.24.01.02\n"
    "MFG Chip Name        : QSC3108\n"
    "Chip Details         : QS-9305-16i\n"
    "Board name           : QS-9305-16i\n"
    "IOC Temperature      : 47 C\n"
    "Board Temperature    : 35 C\n"
    "PCI Connection       : Lane x4 Speed 5.0 Gbps\n"
    "PCI Addr (S:B:D:F)   : 00:81:11:03\n"
    "Driver Version       : xolsas 3.110.00.00\n";

// The revision lines up to the WWID of a default newest-family adapter.
std::string defaultRevision(int adapter) {
    char wwid[40];
    std::snprintf(wwid, sizeof wwid, "53c2a1f-0-%04x-0000", adapter);
    return std::string(
               "Firmware Version     : 16.00.03.00\n"
               "XIF Version          : 02.06\n"
               "Nvdata               : 16.01.00.00\n"
               "Package Version      : 16.00.03.00\n"
               "Firmware Name        : QSC3408-IT\n"
               "Vendor Name          : Quarlen\n"
               "Package Name         : QS-9400-8i IT package\n"
               "WWID                 : ") +
           wwid + "\n";
}
const char* const kDefaultBios =
    "BIOS Version         : 08.36.01.00\n"
    "UEFI Version         : 18.00.04.00\n";
const char* const kDefaultManufacturing =
    "MFG Chip Name        : QSC3408\n"
    "Chip Details         : QS-9400-8i\n"
    "Board name           : QS-9400-8i\n";

const char* const kUsage =
    "Show Operations :\n"
    "This command will display all the basic details of HBA/IOC\n"
    "      show -all / show \n"
    "           -all   :  Will display all the details\n"
    "      show -rev\n"
    "           -rev   :  Will display all the firmware related information\n"
    "      show -sys\n"
    "           -sys   :  Will display operating system device name for disks\n"
    "      show -temp\n"
    "           -temp  :  Will display board temperature\n"
    "      show -mfg\n"
    "           -mfg   :  Will display IOC manufacturing details\n"
    "      show -fwheader\n"
    "           -fwheader   :  Will print the FW header in hex\n"
    " Example : show -rev\n";

class HbaShow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

TEST_F(HbaShow, EveryOptionAndEveryFailure) {
    const std::string invalid = std::string("ERROR: Invalid arguments specified.\n") + kModeFailed;
    const struct {
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        {{"-i", "1", "show"},
         std::string(kRevision1) + kManufacturing1 + kTemperature1 + kLinkAndAddress1,
         0},
        {{"-i", "1", "show", "-all"},
         std::string(kRevision1) + kManufacturing1 + kTemperature1 + kLinkAndAddress1,
         0},
        {{"-i", "1", "show", "-rev"}, kRevision1, 0},
        {{"-i", "1", "show", "-mfg"}, kManufacturing1, 0},
        {{"-i", "1", "show", "-temp"}, kTemperature1, 0},
        {{"-i", "1", "show", "-REV"}, invalid, 1},
        {{"-i", "1", "show", "-rev", "-mfg"}, invalid, 1},
        {{"-i", "1", "help", "show"}, kUsage, 0},
        {{"-i", "2", "show"}, kAll2, 0},
        // A blank boot region: no BIOS or UEFI line, still a success.
        {{"-i", "3", "show", "-rev"}, defaultRevision(3), 0},
        {{"-i", "3", "show", "-temp"},
         "IOC Temperature      : Not available\n"
         "Board Temperature    : Not available\n",
         0},
        // IOC Facts: the request fails, then the reply is flagged.
        {{"-i", "4", "show"},
         std::string("ERROR: IOC Facts request failure. Status - 34.\n") + kModeFailed,
         1},
        {{"-i", "5", "show", "-rev"}, "ERROR: IOC Status failed.\nERROR: ERROR CODE 05020004\n", 4},
        // IO Unit page 0, the firmware header and Manufacturing page 5 fail: reported, skipped.
        {{"-i", "6", "show", "-rev"},
         "Firmware Version     : 16.00.03.00\n"
         "XIF Version          : 02.06\n"
         "ERROR: IO Unit Page 0 request failure 102.\n"
         "ERROR: Unable to get the IO Unit page 0.\n"
         "ERROR: Unable to read the firmware header.\n\n"
         "Man Page 5 request failed 256.\n"
         "ERROR: Unable to get the Mfg Page 5.\n" +
             std::string(kDefaultBios),
         0},
        // A refused size query is no blank region.
        {{"-i", "7", "show", "-rev"},
         defaultRevision(7) +
             "ERROR: IOC status for firmware upload request 4 in size\n"
             "ERROR: Log Info for firmware upload request 31170000 for getting size\n"
             "ERROR: Unable to get Bios Image Size.\n" +
             kModeFailed,
         1},
        // A failed BIOS chunk is reported and skipped; Manufacturing page 0 ends -all.
        {{"-i", "8", "show"},
         defaultRevision(8) +
             "ERROR:  *** XolLib2 Error: '0x00000034'. Firmware upload error. *** \n"
             "ERROR: Mfg Page 0 request failure 102.\n"
             "ERROR: Unable to get the Mfg Page 0.\n" +
             kModeFailed,
         1},
        // Boot regions reporting 1 byte, more than any ROM, and more than they hold.
        {{"-i", "10", "show", "-rev"}, defaultRevision(10), 0},
        {{"-i", "11", "show", "-rev"},
         defaultRevision(11) +
             "ERROR: Region size 0x1000001 is too large.\n"
             "ERROR: Unable to get Bios Image Size.\n" +
             kModeFailed,
         1},
        {{"-i", "12", "show", "-rev"},
         defaultRevision(12) +
             "ERROR: Short firmware upload: region holds 0x5400 bytes, 0x8000 requested at 0x0.\n",
         0},
        {{"-i", "9", "show", "-temp"},
         std::string("ERROR: IO Unit Page 7 request failure 102.\n") + kModeFailed,
         1},
        {{"-i", "9", "show"},
         defaultRevision(9) + kDefaultBios + kDefaultManufacturing +
             "ERROR: IO Unit Page 7 request failure 102.\n" + kModeFailed,
         1},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const std::string& w : c.args)
            label += w + " ";
        const CliRun run = runOnTopology(kTopology, c.args);
        ASSERT_EQ(run.out.substr(0, std::string(kBanner).size()), kBanner) << label;
        EXPECT_EQ(run.out.substr(std::string(kBanner).size()), c.out) << label;
        EXPECT_EQ(run.status, c.status) << label;
    }
}

TEST_F(HbaShow, FirmwareHeaderDumpsTheFirst256Bytes) {
    const CliRun run = runOnTopology(kTopology, {"-i", "2", "show", "-fwheader"});
    const std::string out = run.out.substr(std::string(kBanner).size());
    const std::string head =
        "          0        4        8        C       \n"
        "00000000: ea000000 5afaa55a a55afaa5 5aa55afa   .... Z..Z ..Z. .Z.Z\n";
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_NE(out.find("000000f0: "), std::string::npos);
    EXPECT_EQ(out.find("00000100: "), std::string::npos);
    EXPECT_EQ(run.status, 0);
}

// Requests the emulator logged for one IOC: passthrough frames and
// configuration requests alike.
size_t requestsOf(const std::vector<std::string>& args, const std::string& ioc) {
    const std::string log = makeTempDir() + "/emu.log";
    CliOptions options;
    options.emulated = true;
    options.topology = expanderTopology(kTopology);
    options.args = args;
    options.emuArgs = {"--log", log};
    EXPECT_EQ(runCli(options).status, 0);
    std::ifstream in(log);
    size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find(ioc + " function ") != std::string::npos ||
            line.find(ioc + " config action ") != std::string::npos) {
            ++count;
        }
    }
    return count;
}

TEST_F(HbaShow, RequestCounts) {
    // The same discovery without show's requests.
    const size_t base = requestsOf({"-i", "2", "help", "show"}, "ioc1");
    // IOC Facts, IO Unit page 0 (2), the header, Manufacturing page 5 (2), the
    // size query, and one chunk for a 9216-byte boot region.
    EXPECT_EQ(requestsOf({"-i", "2", "show", "-rev"}, "ioc1") - base, 8u);
    EXPECT_EQ(requestsOf({"-i", "2", "show", "-mfg"}, "ioc1") - base, 2u);
    EXPECT_EQ(requestsOf({"-i", "2", "show", "-temp"}, "ioc1") - base, 2u);
    EXPECT_EQ(requestsOf({"-i", "2", "show", "-fwheader"}, "ioc1") - base, 1u);
    // The newest family's prefixed image needs one more read for its header.
    const size_t newest = requestsOf({"-i", "3", "help", "show"}, "ioc2");
    EXPECT_EQ(requestsOf({"-i", "3", "show", "-rev"}, "ioc2") - newest, 8u);
}

}  // namespace
