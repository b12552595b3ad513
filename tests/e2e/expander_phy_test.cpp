// Expander phy end to end under the emulator: the argument rules, every table
// on both default expanders with the commands each sends, switching phys and
// programming link rates across processes, and the failure paths (stuck
// phys, states that do not change, unreadable rows, counters and phy counts,
// a short EDFB page, failing writes).
#include <gtest/gtest.h>

#include "expander_command_util.h"

namespace {

const std::string kFailed = kCommandFailed;
const Machine kFaults{"expanders-phy-faults.json", ""};

class ExpanderPhy : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

const std::string kDaHeader =
    "P   R  S     Z   E                              S S S S S S S P \n"
    "H   O  P     G   N      ATTACHED      ATT ATT   M T S M T S A R \n"
    "Y   U  E     R   B        SAS         PHY TYPE  P P P P P P T T \n"
    "    T  E     P   L      ADDRESS                 I I I T T T A S \n"
    "    E  D         E                                          T L \n"
    " \n";
const std::string kEdfbHeader =
    "P   S     E                          E  E                     \n"
    "H   P     N      ATTACHED      ATT   D  R  MAX  FAST   SWITCH \n"
    "Y   E     B        SAS         TYPE  F  R  LNT  PATH   TIMEO  \n"
    "    E     L      ADDRESS             B  L       TIMEO         \n"
    "    D     E                                                   \n"
    " \n";
const std::string kErrorHeader =
    "Phy  InvalidWordCount  PhyErrorCounters  LossSyncCount  ResetSeqFailCount\n";
const std::string kRateHeader =
    "                 Programed Link Rate             Hardware Link Rate           \n"
    "PHY   Enabled    Min             Max             Min             Max            \n";
const std::string kNoDevice = "0000000000000000  00  None  0 0 0 0 0 0 0 0 \n";
const std::string kRate12 = "3.0 Gpbs        12.0 Gpbs       1.5 Gpbs        6.0 Gpbs       \n";

// Step fields: machine, target, words, texts shown in order, status, exact,
// SCSI commands, register writes, phy rows.
// clang-format off
TEST_F(ExpanderPhy, ArgumentRules) {
    const Machine m{"", ""};
    const std::string range =
        "ERROR: Invalid min/max value specified. Use valid integer between 1 to 3\n";
    const std::string isVirtual =
        "ERROR: User cannot modify the link rate values for virtual phys.\n";
    const std::string switchVirtual =
        "ERROR: Phy On/Off operation can't be performed for this Phy\n";
    auto refused = [&](const char* index, std::vector<std::string> words, std::string out) {
        words.insert(words.begin(), "phy");
        return Step{m, index, words, {out + kFailed}, 1, true, -1, ""};
    };
    runSteps({
        refused("3", {}, "ERROR: Invalid command syntax or unknown argument(s) specified.\n"),
        refused("3", {"-DA"}, "ERROR: Invalid/Unknown argument '-DA' specified.\n"),
        refused("3", {"-da", "-err"},
                "ERROR: Argument '-err' cannot be used with other arguments.\n"),
        refused("3", {"-on"}, "ERROR: Argument '-on' requires mandatory Phy number.\n"),
        refused("3", {"-off", "36"},
                "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"),
        refused("3", {"-speed", "-set", "3", "1", "-p", "0"},
                "ERROR: Invalid min/max value specified. Min value should be lesser than the "
                "Max value.\n"),
        refused("3", {"-speed", "-set", "0", "3", "-p", "0"}, range),
        refused("3", {"-speed", "-set", "1", "4", "-p", "0"}, range),
        refused("3", {"-speed", "-set", "1", "13", "-p", "0"}, range),
        refused("3", {"-speed", "-sett", "1", "3", "-p", "0"},
                "ERROR: Invalid argument '-sett' specified instead of '-set'.\n"),
        refused("3", {"-speed", "-set", "1", "3", "-P", "0"},
                "ERROR: Invalid argument '-P' specified instead of '-p'.\n"),
        refused("3", {"-speed", "-set", "1", "3", "-p"},
                "ERROR: Invalid argument(s) specified. Use valid argument(s) for setting up "
                "link speed\n"),
        refused("3", {"-speed", "-set", "1", "3", "-p", "5-2"},
                "ERROR: Invalid Phy range specified.\n"),
        // Any virtual phy of the list is refused, a lone one too.
        refused("3", {"-speed", "-set", "1", "3", "-p", "30-34"}, isVirtual),
        refused("3", {"-speed", "-set", "1", "3", "-p", "34"}, isVirtual),
        refused("3", {"-on", "33"}, switchVirtual),
        refused("4", {"-on", "25"}, switchVirtual),
    });
    const CliRun help = runOnTopology("", {"-i", "3", "help", "phy"});
    EXPECT_EQ(help.out, std::string(kBanner) +
        "PHY Operations\n"
        "The command is to display PHY information and perform PHY operations\n"
        "     phy -da\n"
        "         -da : Displays direct attached devices\n"
        "     phy -edfb\n"
        "         -edfb : Displays the EDFB Details\n"
        "     phy -on <PHY ID>\n"
        "         -on : Sets the PHY in online mode\n"
        "     phy -off <PHY ID>\n"
        "         -off : Sets the PHY in offline mode\n"
        "     phy -err\n"
        "         -err : Displays PHY error counters\n"
        "     phy -speed [-set <min value> <max value> -p <PHY ID>]\n"
        "         -speed : Displays current PHY speed for each PHY\n"
        "         -set : Sets the Minimum and Maximum PHY speed\n"
        "                Speed values are 1: 3G, 2: 6G, 3: 12G\n"
        "                PHY ID can be a range or single phy\n"
        "Example : phy -edfb\n"
        "Example : phy -speed -set 1 3 -p 0-3\n"
        "Example : phy -speed -set 2 3 -p 0\n");
}

// The default machine, one state across processes. sg7 (target 3, first
// generation, 36 phys): phys 0..3 to the HBA, 4..15 SAS drives in zone group
// 10, 16..19 SATA drives in zone group 11, 27 disabled, 28..31 table routed,
// 33..35 virtual, EDFB on 4..7. sg3 (target 4, second generation, 27 phys).
TEST_F(ExpanderPhy, DefaultMachine) {
    const Machine m{"", makeTempDir()};
    std::string program0to3;
    std::string rates0to3;
    for (const char* phy : {"0", "4", "8", "c"}) {
        const std::string at = std::string("0x50008") + phy;
        program0to3 += at + "04 <- 000000a9\n" + at + "04 <- 000006a9\n" +
                       at + "08 <- c03f0000\n" + at + "18 <- 00000002\n";
    }
    for (const char* phy : {"00", "01", "02", "03"})
        rates0to3 += std::string(phy) + "    Yes        " + kRate12;
    const std::string e36Rows[] = {
        "00  D  06.0  UZ  Y  53c2a1f000010000  00  End   1 1 1 0 0 0 0 0 \n",
        "\n05  D  06.0  a   Y  5000c50012340005  01  End   0 0 0 0 0 1 0 0 \n",
        "\n16  D  06.0  b   Y  53c2a1f000001010  00  End   0 0 0 0 0 0 1 0 \n",
        "\n27  D  -     UZ  N  " + kNoDevice + "28  T  -     UZ  Y  " + kNoDevice,
        "\n33* D  06.0  UZ  Y  53c2a1f00000103e  00  End   0 0 0 0 0 1 0 0 \n34* D  -     UZ  Y  " +
            kNoDevice + "35* D  -     UZ  Y  " + kNoDevice,
    };
    runSteps({
        // Count once, then link block, state, zoning and phy block per phy.
        {m, "3", {"phy", "-da"}, {kDaHeader, e36Rows[0], e36Rows[1], e36Rows[2], e36Rows[3],
            e36Rows[4]}, 0, false, 4 * 36 + 1, "", 36},
        {m, "4", {"phy", "-da"}, {
            "\n00  D  12.0  UZ  Y  53c2a1f000010000  04  End   1 1 1 0 0 0 0 0 \n",
            "\n12  D  06.0  UZ  Y  53c2a1f00000200c  00  End   0 0 0 0 0 0 1 0 \n",
            "\n24* D  12.0  UZ  Y  53c2a1f00000203e  00  End   0 0 0 0 0 1 0 0 \n"},
            0, false, 4 * 27 + 1, nullptr, 27},
        // Count, the page (2), the EDFB words, 4 per phy, timing of the physical phys.
        {m, "3", {"phy", "-edfb"}, {kEdfbHeader,
            "\n03  06.0  Y  53c2a1f000010000  End   -  -  --   ----   ----   \n"
            "04  06.0  Y  5000c50012340001  End   1  -  10   0020   0040  \n"
            "05  06.0  Y  5000c50012340005  End   1  1  18   0050   012c  \n",
            "\n27  -     N  0000000000000000  None  -  -  --   ----   ----   \n",
            "\n35* -     Y  0000000000000000  None  -  -  --   ----   ----   \n"},
            0, false, 5 * 36 + 1, nullptr, 36},
        {m, "4", {"phy", "-edfb"}, {
            "\n08  12.0  Y  5000cca0abcd0011  End   1  1  10   0020   0040  \n"},
            0, false, 5 * 27 + 1, nullptr, 27},
        {m, "3", {"phy", "-err"}, {kErrorHeader,
            "00   0x00000000        0x00000000        0x00000000     0x00000000      \n",
            "\n05   0x0000000c        0x00000003        0x00000001     0x00000000      \n",
            "\n09   0x00000000        0x00000000        0x00000002     0x00000001      \n"},
            0, false, 36 + 1, nullptr, 36},
        {m, "4", {"phy", "-err"}, {
            "\n06   0x00000001        0x00000000        0x00000000     0x00000004      \n"},
            0, false, 27 + 1, nullptr, 27},
        // First generation: programmed rates from the enable word, hardware
        // rates from the chip; second generation: its window in both pairs.
        {m, "3", {"phy", "-speed"}, {kRateHeader, "\n27    No         " + kRate12,
            "\n35*   Yes        " + kRate12}, 0, false, 5 * 36 + 1, nullptr, 36},
        {m, "4", {"phy", "-speed"}, {
            "\n26*   Yes        3.0 Gpbs        12.0 Gpbs       3.0 Gpbs        12.0 Gpbs      \n"},
            0, false, 4 * 27 + 1, nullptr, 27},

        // Switching: parse, count, state, the change and the state again.
        {m, "3", {"phy", "-off", "2"}, {"Current State : Enabled\nChanged State : Disabled\n"},
            0, true, 6, "0x50008818 <- 00000003\n"},
        {m, "3", {"phy", "-off", "2"}, {"Phy already disabled\n"}, 0, true, 3, ""},
        {m, "3", {"phy", "-da"}, {"\n02  D  -     UZ  N  " + kNoDevice}},
        // Only the first phy of a list is switched.
        {m, "3", {"phy", "-on", "2-5"}, {"Current State : Disabled\nChanged State : Enabled\n"},
            0, true, 7, "0x50008818 <- 00000001\n"},
        {m, "3", {"phy", "-on", "2"}, {"Phy already enabled\n"}, 0, true, 3, ""},
        {m, "3", {"phy", "-on", "27"}, {"Current State : Disabled\nChanged State : Enabled\n"},
            0, true, 6},
        {m, "3", {"phy", "-da"}, {"\n02  D  06.0  UZ  Y  53c2a1f000010000  02",
            "\n27  D  -     UZ  Y  "}},
        {m, "4", {"phy", "-off", "7"}, {"Current State : Enabled\nChanged State : Disabled\n"},
            0, true, 6, "0x5008c060 <- 00000003\n"},
        {m, "4", {"phy", "-da"}, {"\n07  D  -     UZ  N  " + kNoDevice}},

        // Programming: parse (two numbers), count, both tables, and per phy W
        // without its enables, W, R, and the hard reset.
        {m, "3", {"phy", "-speed", "-set", "1", "3", "-p", "0-3"}, {
            "Current link rate values, \n\n" + kRateHeader + rates0to3 +
            "\nProgramed link rate values, \n\n" + kRateHeader + rates0to3},
            0, true, 2 + 1 + 2 * 4 * 5 + 4 * 6, program0to3.c_str()},
        // 3.0 Gbps only: the next process finds phy 4 linked at 3.0 Gbps.
        {m, "3", {"phy", "-speed", "-set", "1", "1", "-p", "4"}, {
            "Programed link rate values, \n\n" + kRateHeader +
            "04    Yes        3.0 Gpbs        3.0 Gpbs        1.5 Gpbs        6.0 Gpbs       \n"},
            0, false, -1, "0x50018004 <- 00000099\n0x50018004 <- 00000299\n"
            "0x50018008 <- c0300000\n0x50018018 <- 00000002\n"},
        {m, "3", {"phy", "-da"}, {"\n04  D  03.0  a   Y  5000c50012340001  00  End"}},
        {m, "4", {"phy", "-speed", "-set", "3", "3", "-p", "5"}, {
            "Programed link rate values, \n\n" + kRateHeader +
            "05    Yes        12.0 Gpbs       12.0 Gpbs       12.0 Gpbs       12.0 Gpbs      \n"},
            0, false, -1, "0x50018404 <- 000000aa\n0x50018404 <- 000004aa\n"
            "0x50018408 <- c0030000\n0x50084060 <- 00000002\n"},
    });
}

// expanders-phy-faults.json: sg1 (target 1) with stuck phy 3, scripted
// control words and a 12-byte page 0xFF15; sg2 claiming 96 phys on a chip
// with 12; sg3 with unreadable blocks and an unwritable rate enable word;
// sg4 whose phy count cannot be read.
TEST_F(ExpanderPhy, Failures) {
    const Machine m = kFaults;
    const std::string e12Row = "  D  06.0  UZ  Y  5000c50000bb00";
    runSteps({
        // The link reset of a stuck phy never completes.
        {m, "1", {"phy", "-on", "3"}, {"Current State : Disabled\nFailed to enable Phy 3.\n" +
            kFailed}, 1, true},
        // The phy reads disabled again after its link reset.
        {m, "1", {"phy", "-on", "4"}, {"Current State : Disabled\nChanged State : Disabled\n" +
            kFailed}, 1, true},
        // The control word does not read back as disabled.
        {m, "1", {"phy", "-off", "2"}, {"Current State : Enabled\nFailed to disable Phy 2.\n" +
            kFailed}, 1, true},
        // It does, but the phy reads enabled afterwards.
        {m, "1", {"phy", "-off", "1"}, {"Current State : Enabled\nChanged State : Enabled\n" +
            kFailed}, 1, true},
        // A page 0xFF15 of 12 bytes holds no error-limit words.
        {m, "1", {"phy", "-edfb"}, {kEdfbHeader, "ERROR: Unable to read config page.\n"
            "ERROR: Unable to get EDFB details.\n" + kFailed}, 1, true},
        // Every row is printed, those that cannot be read cleared.
        {m, "2", {"phy", "-da"}, {"\n08  D  -     UZ  Y  " + kNoDevice + "09  D  -     UZ  N  " +
            kNoDevice, "\n95  D  -     UZ  N  " + kNoDevice + kFailed}, 1, false, -1, nullptr, 96},
        // The link rate table ends at the first phy it cannot read.
        {m, "2", {"phy", "-speed"}, {"\n08    Yes        " + kRate12 +
            "ERROR: Unable to get the PHY information for PHY '9'\n" + kFailed}, 1},
        // Phy 7's link block and phy 9's phy block cannot be read.
        {m, "3", {"phy", "-da"}, {"\n06" + e12Row + "06  06", "\n07  D  -     UZ  N  " + kNoDevice +
            "08" + e12Row + "08  08", "\n09  D  -     UZ  N  " + kNoDevice + "10* D  06.0"},
            1, false, -1, nullptr, 12},
        {m, "3", {"phy", "-err"}, {
            "\n08   0x00000000        0x00000000        0x00000000     0x00000000      \n" +
            kFailed}, 1},
        // Phy 6's block fails from its third read on: the rates were
        // programmed, the table after them cannot be read.
        {m, "3", {"phy", "-speed", "-set", "1", "1", "-p", "6"}, {
            "Programed link rate values, \n\n" + kRateHeader +
            "ERROR: Unable to get the PHY information for PHY '6'\n" + kFailed},
            1, false, -1, "0x50018804 <- 00000099\n0x50018804 <- 00000299\n"
            "0x50018808 <- c0300000\n0x50018818 <- 00000002\n"},
        // A failed write fails the phy instead of counting as programmed.
        {m, "3", {"phy", "-speed", "-set", "1", "3", "-p", "1"}, {"6.0 Gpbs       \n"
            "ERROR: Unable to change the speed for Phy '1'\n" + kFailed}, 1, false, -1,
            "0x50008404 <- 000000a9\n0x50008404 <- 000006a9\n"},
        {m, "4", {"phy", "-da"}, {kDaHeader + "Failed to get Phy details.\n" + kFailed}, 1, true},
        {m, "4", {"phy", "-edfb"}, {kEdfbHeader + "Failed to get EDFB details.\n" + kFailed},
            1, true},
        {m, "4", {"phy", "-err"}, {"Failed to get error counter details.\n" + kFailed}, 1, true},
        {m, "4", {"phy", "-speed"}, {"ERROR: Unable to get the total Phy number.\n" + kFailed},
            1, true},
        {m, "4", {"phy", "-on", "1"}, {"ERROR: Unable to get total number of phys.\n" + kFailed},
            1, true},
    });
}
// clang-format on

}  // namespace
