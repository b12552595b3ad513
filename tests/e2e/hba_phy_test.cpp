// HBA phy under the emulator (topologies/hba-phy.json): every display on a
// controller of the newest family with an attached expander, NVMe and
// configured and unconfigured phy events, and on one without PCIe; a phy
// switched off and on across processes; the argument edge cases; pages that
// fail, a write that fails and one the controller acknowledges but ignores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hba_e2e_util.h"

namespace {

constexpr char kTopology[] = "hba-phy.json";

class HbaPhy : public HbaRuns {
  protected:
    void runAll(const std::vector<Case>& cases) { HbaRuns::runAll(kTopology, cases); }
};

TEST_F(HbaPhy, DisplaysSwitchingAndFailures) {
    runAll({
        {{"-i", "1", "phy", "-err"},
         "Phy   InvalidDWordCount  RunningDisparityErrorCounters  LossSyncCount   "
         "ResetSeqFailCount \n"
         "00    0x00000001         0x00000002                     0x00000003      0x00000004       "
         "\n"
         "01    0x00000002         0x00000004                     0x00000006      0x00000008       "
         "\n"
         "02    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "03    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "04    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "05    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "06    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "07    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "Displaying PCIe Error Counters...\n"
         "Link  CorrectableErrorCount  NFatalErrorCount  FatalErrorCount \n"
         "00    0x00000003             0x00000000        0x00000000        \n"
         "01    0x00000000             0x00000000        0x00000000        \n"
         "02    0x00000000             0x00000000        0x00000000        \n"
         "03    0x00000000             0x00000000        0x00000000        \n",
         0},
        {{"-i", "2", "phy", "-err"},
         "Phy   InvalidDWordCount  RunningDisparityErrorCounters  LossSyncCount   "
         "ResetSeqFailCount \n"
         "00    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "01    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "02    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "03    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n",
         0},
        {{"-i", "1", "phy", "-port"},
         "SATA maximum queue depth            : 32\n"
         "SAS maximum queue depth, Narrow     : 128\n"
         "SAS maximum queue depth, Wide       : 256\n"
         "Device missing report delay         : 0 seconds\n"
         "Device missing I/O delay            : 15 seconds\n"
         "Interrupt Coalescing                : Enabled, Timeout is : 10us, Depth : 8\n"
         "PHY     Link      Link Rate    SSP       SSP       Port       Port\n"
         "        Enabled    Max  Min     Initiator Target    Config     Number\n"
         "00      Yes       12.0 1.5     Yes       No        Auto       0\n"
         "01      Yes       12.0 1.5     Yes       No        Auto       0\n"
         "02      Yes       12.0 1.5     Yes       No        Auto       2\n"
         "03      Yes       12.0 1.5     Yes       No        Auto       3\n"
         "04      Yes       12.0 1.5     Yes       No        Auto       4\n"
         "05      Yes       12.0 1.5     Yes       No        Auto       5\n"
         "06      Yes       12.0 1.5     Yes       No        Auto       6\n"
         "07      Yes       12.0 1.5     Yes       No        Auto       7\n",
         0},
        {{"-i", "1", "phy", "-da"},
         "PHY   HBA SAS            E     ATTACHED                   P V     S S S S S S S A D S S "
         "D\n"
         "      ADDRESS            N   P   H     DEVICE             O N     M M T T S S E T I A A "
         "T\n"
         "                         B   H   N     ADDRESS            R D     P P P P P P P A R T T "
         "Y\n"
         "                         L   Y   D                        T R     T I T I T I D P A A A "
         "P\n"
         "                         E       L                                              I T D H "
         "E\n"
         " \n"
         "00    53c2a1f000010000   Y   4   0009  53c2a1f000001000   0 QRL   1 0 0 0 0 0 0 0 0 0 0 "
         "2\n"
         "01    53c2a1f000010001   Y   5   0009  53c2a1f000001000   0 QRL   1 0 0 0 0 0 0 0 0 0 0 "
         "2\n"
         "02    53c2a1f000010002   Y                                                               "
         "\n"
         "03    53c2a1f000010003   Y                                                               "
         "\n"
         "04    53c2a1f000010004   Y                                                               "
         "\n"
         "05    53c2a1f000010005   Y                                                               "
         "\n"
         "06    53c2a1f000010006   Y                                                               "
         "\n"
         "07    53c2a1f000010007   Y                                                               "
         "\n"
         "Displaying PCIe devices...\n"
         "\n"
         "DH   Type       Vendor   Product          Rev  WWID             Port\n"
         "\n"
         "a   NVME        QUARLEN  QN1600 NVMe      1.0  53c2a1f000010100  00 \n",
         0},
        {{"-i", "2", "phy", "-da"},
         "PHY   HBA SAS            E     ATTACHED                   P V     S S S S S S S A D S S "
         "D\n"
         "      ADDRESS            N   P   H     DEVICE             O N     M M T T S S E T I A A "
         "T\n"
         "                         B   H   N     ADDRESS            R D     P P P P P P P A R T T "
         "Y\n"
         "                         L   Y   D                        T R     T I T I T I D P A A A "
         "P\n"
         "                         E       L                                              I T D H "
         "E\n"
         " \n"
         "00    53c2a1f000020000   Y                                                               "
         "\n"
         "01    53c2a1f000020001   Y                                                               "
         "\n"
         "02    53c2a1f000020002   Y                                                               "
         "\n"
         "03    53c2a1f000020003   Y                                                               "
         "\n"
         "Displaying PCIe devices...\n"
         "PCIe devices are not available.\n",
         0},
        {{"-i", "1", "phy", "-evnt", "2"},
         "Invalid Dword       : 0x00000000\n"
         "Disparity Error     : 0x00000000\n"
         "Loss Dword Sync     : 0x00000000\n"
         "Phy Rst Problem     : 0x00000000\n",
         0},
        {{"-i", "1", "phy", "-evnt", "0-2"},
         "Evnt Invalid Dword       Disparity Error     Loss Dword Sync     Phy Rst Problem     \n"
         "0   00000064            00000065            00000066            00000067            \n"
         "1   000000C8            000000C9            000000CA            000000CB            \n"
         "2   00000000            00000000            00000000            00000000            \n",
         0},
        {{"-i", "1", "phy", "-evnt", "3"}, "WARN!! Phy #03: Events are not configured.\n", 0},
        {{"-i", "1", "phy", "-evnt", "3-4"},
         "Phy 03 Events: \n"
         "WARN!! Phy #03: Events are not configured.\n"
         "Phy 04 Events: \n"
         "Invalid Dword       : 0x00000000\n"
         "Disparity Error     : 0x00000000\n",
         0},
        {{"-i", "1", "phy", "-evnt", "5-6"},
         "Phy 05 Events: \n"
         "Invalid Dword       : 0x00000000\n"
         "Disparity Error     : 0x00000000\n"
         "Loss Dword Sync     : 0x00000000\n"
         "Phy Rst Problem     : 0x00000000\n"
         "Phy 06 Events: \n"
         "Invalid Dword       : 0x00000000\n"
         "Tx SMP Frame        : 0x00000000\n"
         "Evnt                : 0x00000000\n",
         0},
        {{"-i", "1", "phy", "-off", "1"},
         "Current State : Enabled\n"
         "Changed State : Disabled\n",
         0},
        {{"-i", "1", "phy", "-off", "1"},
         "Current State : Disabled\n"
         "Phy already disabled\n",
         0},
        {{"-i", "1", "phy", "-port"},
         "SATA maximum queue depth            : 32\n"
         "SAS maximum queue depth, Narrow     : 128\n"
         "SAS maximum queue depth, Wide       : 256\n"
         "Device missing report delay         : 0 seconds\n"
         "Device missing I/O delay            : 15 seconds\n"
         "Interrupt Coalescing                : Enabled, Timeout is : 10us, Depth : 8\n"
         "PHY     Link      Link Rate    SSP       SSP       Port       Port\n"
         "        Enabled    Max  Min     Initiator Target    Config     Number\n"
         "00      Yes       12.0 1.5     Yes       No        Auto       0\n"
         "01      No        12.0 1.5     Yes       No        Auto       0\n"
         "02      Yes       12.0 1.5     Yes       No        Auto       2\n"
         "03      Yes       12.0 1.5     Yes       No        Auto       3\n"
         "04      Yes       12.0 1.5     Yes       No        Auto       4\n"
         "05      Yes       12.0 1.5     Yes       No        Auto       5\n"
         "06      Yes       12.0 1.5     Yes       No        Auto       6\n"
         "07      Yes       12.0 1.5     Yes       No        Auto       7\n",
         0},
        {{"-i", "1", "phy", "-on", "1"},
         "Current State : Disabled\n"
         "Changed State : Enabled\n",
         0},
        {{"-i", "3", "phy", "-off", "1"},
         "Current State : Enabled\n"
         "Changed State : Enabled\n"
         "ERROR: Phy state is not changed.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "4", "phy", "-off", "1"},
         "Current State : Enabled\n"
         "ERROR: Error in setting the new values ERROR CODE : 00000102\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "4", "phy", "-err"},
         "Phy   InvalidDWordCount  RunningDisparityErrorCounters  LossSyncCount   "
         "ResetSeqFailCount \n"
         "00    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "01    0x00000000         0x00000000                     0x00000000      0x00000000       "
         "\n"
         "ERROR: Error in getting SAS Phy page 1 ERROR CODE 00000100 .\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "4", "phy", "-evnt", "3"},
         "ERROR: Error in getting SAS Phy page 2 ERROR CODE 00000102 .\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "4", "phy", "-evnt", "2-3"},
         "Phy 02 Events: \n"
         "Invalid Dword       : 0x00000000\n"
         "Disparity Error     : 0x00000000\n"
         "Loss Dword Sync     : 0x00000000\n"
         "Phy Rst Problem     : 0x00000000\n"
         "Phy 03 Events: \n"
         "ERROR: Error in getting SAS Phy page 2 ERROR CODE 00000102 .\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
    });
}

TEST_F(HbaPhy, ArgumentErrors) {
    runAll({
        {{"-i", "1", "phy"},
         "ERROR: Invalid command syntax or unknown argument(s) specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-on"},
         "ERROR: Argument '-on' requires mandatory Phy number.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-off", "-on"},
         "ERROR: Argument '-off' requires mandatory Phy number.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-evnt", "-err"},
         "ERROR: Argument '-err' cannot be used with other options.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-on", "3-3"},
         "Current State : Enabled\n"
         "Phy already enabled\n",
         0},
        {{"-i", "1", "phy", "-on", "5-2"},
         "ERROR: Invalid Phy range specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-on", "123"},
         "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-on", "x"},
         "ERROR: Invalid Phy parameter specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-on", "8"},
         "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-on", "3-"},
         "ERROR: Invalid Phy parameter specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-on", "1", "-off", "2"},
         "ERROR: Argument '-off' cannot be used with other options.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-port", "-da"},
         "ERROR: Argument '-da' cannot be used with other options.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-foo"},
         "ERROR: Invalid/Unknown argument '-foo' specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-err", "7"},
         "ERROR: Invalid/Unknown argument '7' specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "phy", "-on", "1-2-3"},
         "ERROR: Invalid Phy number specified. Provide a valid Phy number.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
    });
}

// Disabling reads the page (size query and read), writes it (header and
// write) and reads it back; a phy already off is only read.
TEST_F(HbaPhy, RequestsSent) {
    const std::string ioUnit1 = "ext 0x10 page 1 ";
    EXPECT_EQ(run(kTopology, {"-i", "1", "phy", "-off", "6"}).status, 0);
    EXPECT_EQ(count(ioUnit1), 8u);
    EXPECT_EQ(count("action 2 "), 1u);
    EXPECT_EQ(run(kTopology, {"-i", "1", "phy", "-off", "6"}).status, 0);
    EXPECT_EQ(count(ioUnit1), 3u);
    EXPECT_EQ(count("action 2 "), 0u);
    EXPECT_EQ(run(kTopology, {"-i", "2", "phy", "-err"}).status, 0);
    EXPECT_EQ(count("ext 0x13 page 1 "), 8u);  // 4 phys: size query and read each
}

}  // namespace
