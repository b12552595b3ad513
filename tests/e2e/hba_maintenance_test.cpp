// HBA reset, locate, cli and logs under the emulator
// (topologies/hba-maintenance.json): argument errors, the operations and what
// they leave behind in the next process, the requests they send, and the
// failures of the library, the driver and the controller.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hba_e2e_util.h"

namespace {

constexpr char kTopology[] = "hba-maintenance.json";

class HbaMaintenance : public HbaRuns {
  protected:
    // The slot status the emulated enclosure processor keeps for
    // enclosure 1, slot `slot` of the first controller (0: never written).
    uint32_t slotStatus(uint16_t slot) const {
        std::ifstream in(state_ + "/hba-53c2a1f000010000-slots.state", std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        auto le32 = [&](size_t at) {
            return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
        };
        for (size_t at = 0; at + 8 <= bytes.size(); at += 8) {
            if (le32(at) == (0x10000u | slot))
                return le32(at + 4);
        }
        return 0;
    }
};

// Rows run in order on one state directory: the log erased by `logs -clear`
// stays empty in the next process and after a controller reset.
TEST_F(HbaMaintenance, Scenario) {
    const std::vector<Case> cases = {
        {{"-i", "1", "reset"},
         "ERROR: Invalid command syntax or unknown argument(s) specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "reset", "-pevnt"},
         "ERROR: Argument '-pevnt' requires mandatory Phy number.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "reset", "-pl", "2", "-c"},
         "ERROR: Argument '-c' cannot be used with other options.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "reset", "-x"},
         "ERROR: Invalid/Unknown argument '-x' specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "reset", "-pl", "9"},
         "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "reset", "-pl", "2-5"}, "Reset completed successfully.\n", 0},
        {{"-i", "2", "reset", "-pl", "2-5"},
         "ERROR: Reset failed for Phy 4 with error code 00000034\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "3", "reset", "-pl", "2-5"},
         "ERROR: Reset failed for Phy 4 with error code 00000007\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "4", "reset", "-pl", "1"},
         "ERROR: Reset failed for Phy 1 with error code 00000001\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "2", "reset", "-pha"},
         "ERROR: Reset failed for Phy 2 with error code 00000034\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate"},
         "ERROR: Invalid command syntax or unknown argument(s) specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-on"},
         "ERROR: Invalid number of argument(s) passed.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-on", "b", "-wait", "5", "x"},
         "ERROR: Invalid number of argument(s) passed.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-on", "zz"},
         "ERROR: Invalid hex value specified for device handle.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-on", "10008"},
         "ERROR: Invalid number specified for device handle.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-on", "b", "-wait", "61"},
         "ERROR: Wait time should be less than 60 seconds.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-on", "b", "-wait", "0"},
         "ERROR: Wait time should be specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-off", "b", "-wait", "5"},
         "ERROR: -Wait option should not be provided with -off option.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-on", "b", "-off", "b"},
         "ERROR: Invalid argument '-off' specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-x", "b"},
         "ERROR: Invalid argument '-x' specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "locate", "-on", "b"}, "Locate command successful. \n", 0},
        {{"-i", "1", "locate", "-off", "b"}, "Locate command successful. \n", 0},
        {{"-i", "1", "locate", "-on", "b", "-wait", "5"}, "Locate command successful. \n", 0},
        {{"-i", "1", "locate", "-on", "a"}, "Locate command successful. \n", 0},
        {{"-i", "1", "locate", "-on", "77"},
         "ERROR: Invalid Device Handle passed. \n"
         "\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "4", "locate", "-on", "9"},
         "ERROR: Invalid IOCTL status '0x00000022'. \n"
         "\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "5", "locate", "-on", "9"},
         "ERROR: XOL Passthrough failed '0x00000034'. \n"
         "\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "cli"},
         "ERROR: Invalid command buffer specified. Command must have a valid string.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "cli", "iop", "show", "ver"},
         "Firmware version : 16.00.03.00\n"
         "XIF version      : 02.06\n"
         "Chip             : QSC3408 B0\n"
         "Board            : QS-9400-8i\n"
         "\n",
         0},
        {{"-i", "1", "cli",
          "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
          "yyyyyyyyyy"},
         "ERROR: Diagnostic CLI command is too long for execution.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "cli",
          "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
          "yyyyyyyyy"},
         "Unknown command "
         "'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx "
         "yyyyyyyyy '. Type 'help'.\n"
         "\n",
         0},
        // An answer under 2 bytes prints nothing.
        {{"-i", "1", "cli", "dbg", "fill", "1"}, "", 0},
        {{"-i", "4", "cli", "iop", "show", "ver"},
         "ERROR: XolLib2 Error: '0x00000034'. XOL Passthrough failed.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "5", "cli", "iop", "show", "ver"},
         "ERROR: XolLib2 Error: '0x00000004'. Invalid IOCTL status.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "logs"},
         "SeqN   Type   Time               Data\n"
         "0001   0012   0000018b00000010 0000000a 0000000b 0000000c\n"
         "0002   0021   0000018b00000020 0000dead\n"
         "0003   0001   0000018b00000030 00000000 00000000 00000000 00000000 00000000 00000000 "
         "00000007\n",
         0},
        {{"-i", "1", "logs", "-decode"},
         "Invalid arguments specified. Command 'logs -decode/-clear' are the valid arguments.\n",
         0},
        {{"-i", "1", "logs", "-x"},
         "Invalid arguments specified. Command 'logs -decode/-clear' are the valid arguments.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "logs", "a", "b"},
         "Invalid arguments specified.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "logs", "-clera"},
         "Invalid arguments specified. Command 'logs -decode/-clear' are the valid arguments.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "1", "logs", "-clear"}, "Log entries are erased successfully\n", 0},
        {{"-i", "1", "logs"}, "SeqN   Type   Time               Data\n", 0},
        {{"-i", "1", "logs"}, "SeqN   Type   Time               Data\n", 0},
        {{"-i", "5", "logs"},
         "ERROR: Error in getting page header for Log Page 0 ERROR CODE : 00000101\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {{"-i", "5", "logs", "-clear"},
         "ERROR: Request to read LOG Page0 failed 101 \n"
         "\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
    };
    runAll(kTopology, cases);
}

// Several commands at one prompt: the controller answers after `reset -c`,
// and clearing phy 0's event counters zeroes what `phy -err` shows of it.
TEST_F(HbaMaintenance, ResetThenCommandsAtOnePrompt) {
    const CliRun r = run(kTopology, {"-i", "1"}, "reset -pevnt 0\nreset -c\nphy -err\nquit\n");
    const std::string errors =
        "Phy   InvalidDWordCount  RunningDisparityErrorCounters  LossSyncCount   "
        "ResetSeqFailCount \n"
        "00    0x00000000         0x00000000                     0x00000000      0x00000000       "
        "\n"
        "01    0x00000002         0x00000004                     0x00000006      0x00000008       "
        "\n";
    EXPECT_NE(r.out.find("QS-9400-8i> Reset completed successfully.\n"
                         "QS-9400-8i> Resetting the adapter...\nSuccess\n"
                         "QS-9400-8i> " +
                         errors),
              std::string::npos)
        << r.out;
    EXPECT_EQ(count("hard reset"), 1u);
    EXPECT_EQ(r.status, 0);
}

TEST_F(HbaMaintenance, RequestsSent) {
    EXPECT_EQ(run(kTopology, {"-i", "1", "reset", "-pl", "2-5"}).status, 0);
    EXPECT_EQ(logLines("io unit control"),
              (std::vector<std::string>{
                  "io unit control operation 0x06 phy 2", "io unit control operation 0x06 phy 3",
                  "io unit control operation 0x06 phy 4", "io unit control operation 0x06 phy 5"}));
    EXPECT_EQ(count("function 0x1b"), 4u);

    // The disk: its SAS Device page 0 (size and read; discovery read it
    // once too), then read and write of the slot status; the identify bit
    // is set, then cleared.
    EXPECT_EQ(run(kTopology, {"-i", "1", "locate", "-on", "b"}).status, 0);
    EXPECT_EQ(count("function 0x18"), 2u);
    EXPECT_EQ(count("ext 0x12 page 0 addr 0x2000000b"), 4u);
    EXPECT_EQ(slotStatus(6), 0x20001u);
    EXPECT_EQ(run(kTopology, {"-i", "1", "locate", "-off", "b"}).status, 0);
    EXPECT_EQ(slotStatus(6), 0x1u);
    EXPECT_EQ(run(kTopology, {"-i", "1", "locate", "-on", "b", "-wait", "5"}).status, 0);
    EXPECT_EQ(count("function 0x18"), 4u);
    EXPECT_EQ(slotStatus(6), 0x1u);
    // NVMe: the SAS page is refused, PCIe Device page 0 names the slot
    // (discovery read it once too).
    EXPECT_EQ(run(kTopology, {"-i", "1", "locate", "-on", "a"}).status, 0);
    EXPECT_EQ(count("ext 0x12 page 0 addr 0x2000000a"), 1u);
    EXPECT_EQ(count("ext 0x1d page 0 addr 0x2000000a"), 4u);
    EXPECT_EQ(count("function 0x18"), 2u);
    EXPECT_EQ(slotStatus(1), 0x20001u);

    EXPECT_EQ(run(kTopology, {"-i", "1", "cli", "pl", "dbg"}).status, 0);
    EXPECT_EQ(count("function 0x17"), 1u);
    EXPECT_EQ(run(kTopology, {"-i", "1", "logs"}).status, 0);
    EXPECT_EQ(count("ext 0x14 "), 3u);
    EXPECT_EQ(run(kTopology, {"-i", "1", "logs", "-clear"}).status, 0);
    EXPECT_EQ(count("ext 0x14 "), 4u);
}

// A 5000-byte answer is printed whole (the logger cuts messages at 2048).
TEST_F(HbaMaintenance, LongCliAnswer) {
    const CliRun r = run(kTopology, {"-i", "1", "cli", "dbg", "fill", "5000"});
    EXPECT_EQ(r.status, 0);
    std::string expected;
    for (size_t i = 0; i < 5000; ++i)
        expected.push_back(i % 64 == 63 ? '\n' : static_cast<char>('a' + (i / 64) % 26));
    EXPECT_EQ(r.out, expected + "\n");
}

}  // namespace
