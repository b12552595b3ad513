// HBA show -sys under the emulator: disks named by their host nodes with the
// IOC number as host (a two-letter node among them), the NVMe device that has
// no node, and an adapter without devices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

TEST(HbaShowSys, EveryAdapterOfTheTopology) {
    if (!emulatorBuilt())
        GTEST_SKIP() << "quarlen-emu not built";
    const struct {
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        {{"-i", "2", "show", "-sys"},
         "\nB   T   L   Type       Operating system device name\n"
         "0   0   0   Disk       /dev/sdaa    [2:0:0:0]\n"
         "0   1   0   Disk       /dev/sda     [2:0:1:0]\n"
         "1   0   0   Disk       Scsi1: 1 0 0\n",
         0},
        {{"-i", "1", "show", "-sys"},
         "WARN!! There are no devices attached.\nERROR: ERROR CODE 02020000\n",
         1},
    };
    for (const auto& c : cases) {
        const CliRun run = runOnTopology("hba-show-sys.json", c.args);
        EXPECT_EQ(run.out, std::string(kBanner) + c.out) << c.args[1];
        EXPECT_EQ(run.status, c.status) << c.args[1];
    }
}

}  // namespace
