// Expander phy end to end under the emulator: the argument rules, every table
// on both default expanders with the commands each sends, switching phys on
// and off across processes, link rate programming, and the failure paths
// (stuck phys, states that do not change, unreadable rows, a short EDFB page).
#include <gtest/gtest.h>

#include <cctype>

#include "expander_command_util.h"

namespace {

const char* const kFailed = "ERROR: ERROR CODE 02020000\n";
const Machine kDefault{"", ""};
const Machine kFaults{"expanders-phy-faults.json", ""};

class ExpanderPhy : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

const std::string kEdfbHeader =
    "P   S     E                          E  E                     \n"
    "H   P     N      ATTACHED      ATT   D  R  MAX  FAST   SWITCH \n"
    "Y   E     B        SAS         TYPE  F  R  LNT  PATH   TIMEO  \n"
    "    E     L      ADDRESS             B  L       TIMEO         \n"
    "    D     E                                                   \n"
    " \n";
const std::string kErrorOpening =
    "Phy  InvalidWordCount  PhyErrorCounters  LossSyncCount  ResetSeqFailCount\n"
    "00   0x00000000        0x00000000        0x00000000     0x00000000      \n"
    "01   0x00000000        0x00000000        0x00000000     0x00000000      \n";
const std::string kRateHeader =
    "                 Programed Link Rate             Hardware Link Rate           \n"
    "PHY   Enabled    Min             Max             Min             Max            \n";

std::string opening(const std::string& out, const std::string& expected) {
    return out.substr(0, expected.size());
}

// Rows of a table: lines that start with a two-digit phy number.
size_t countPhyRows(const std::string& out) {
    size_t rows = 0;
    size_t at = 0;
    while (at < out.size()) {
        if (at + 2 < out.size() && isdigit(out[at]) && isdigit(out[at + 1]))
            ++rows;
        const size_t end = out.find('\n', at);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return rows;
}

TEST_F(ExpanderPhy, ArgumentRules) {
    const char* const kRange =
        "ERROR: Invalid min/max value specified. Use valid integer between 1 to 3\n";
    const char* const kVirtual =
        "ERROR: User cannot modify the link rate values for virtual phys.\n";
    const struct {
        std::vector<std::string> words;
        std::string out;
    } cases[] = {
        {{}, "ERROR: Invalid command syntax or unknown argument(s) specified.\n"},
        {{"-DA"}, "ERROR: Invalid/Unknown argument '-DA' specified.\n"},
        {{"-da", "-err"}, "ERROR: Argument '-err' cannot be used with other arguments.\n"},
        {{"-on"}, "ERROR: Argument '-on' requires mandatory Phy number.\n"},
        {{"-off", "36"}, "ERROR: Invalid Phy number specified. Phy number is not in the range.\n"},
        {{"-speed", "-set", "3", "1", "-p", "0"},
         "ERROR: Invalid min/max value specified. Min value should be lesser than the Max "
         "value.\n"},
        {{"-speed", "-set", "0", "3", "-p", "0"}, kRange},
        {{"-speed", "-set", "1", "4", "-p", "0"}, kRange},
        {{"-speed", "-set", "1", "13", "-p", "0"}, kRange},
        {{"-speed", "-sett", "1", "3", "-p", "0"},
         "ERROR: Invalid argument '-sett' specified instead of '-set'.\n"},
        {{"-speed", "-set", "1", "3", "-P", "0"},
         "ERROR: Invalid argument '-P' specified instead of '-p'.\n"},
        {{"-speed", "-set", "1", "3", "-p"},
         "ERROR: Invalid argument(s) specified. Use valid argument(s) for setting up link speed\n"},
        {{"-speed", "-set", "1", "3", "-p", "5-2"}, "ERROR: Invalid Phy range specified.\n"},
        // Any virtual phy of the list is refused, a lone one too.
        {{"-speed", "-set", "1", "3", "-p", "30-34"}, kVirtual},
        {{"-speed", "-set", "1", "3", "-p", "34"}, kVirtual},
        {{"-on", "33"}, "ERROR: Phy On/Off operation can't be performed for this Phy\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"phy"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const CommandRun run = runExpanderCommand(kDefault, "3", words);
        const std::string label = c.words.empty() ? "(none)" : c.words.back();
        EXPECT_EQ(run.out, c.out + kFailed) << label;
        EXPECT_EQ(run.status, 1) << label;
    }
    // The second-generation expander refuses its own virtual phys.
    const CommandRun run = runExpanderCommand(kDefault, "4", {"phy", "-on", "25"});
    EXPECT_EQ(
        run.out,
        std::string("ERROR: Phy On/Off operation can't be performed for this Phy\n") + kFailed);

    const CliRun help = runOnTopology("", {"-i", "3", "help", "phy"});
    EXPECT_EQ(help.out, std::string(kBanner) +
                            "PHY Operations\n"
                            "The command is to display PHY information and perform PHY "
                            "operations\n"
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

// Phys 0..3 to the HBA, 4..15 SAS drives in zone group 10, 16..19 SATA
// drives in zone group 11, 27 disabled, 28..31 table routed, 33..35 virtual
// with 33 leading to the enclosure.
const char* const kAttachedE36 =
    "P   R  S     Z   E                              S S S S S S S P \n"
    "H   O  P     G   N      ATTACHED      ATT ATT   M T S M T S A R \n"
    "Y   U  E     R   B        SAS         PHY TYPE  P P P P P P T T \n"
    "    T  E     P   L      ADDRESS                 I I I T T T A S \n"
    "    E  D         E                                          T L \n"
    " \n"
    "00  D  06.0  UZ  Y  53c2a1f000010000  00  End   1 1 1 0 0 0 0 0 \n"
    "01  D  06.0  UZ  Y  53c2a1f000010000  01  End   1 1 1 0 0 0 0 0 \n"
    "02  D  06.0  UZ  Y  53c2a1f000010000  02  End   1 1 1 0 0 0 0 0 \n"
    "03  D  06.0  UZ  Y  53c2a1f000010000  03  End   1 1 1 0 0 0 0 0 \n"
    "04  D  06.0  a   Y  5000c50012340001  00  End   0 0 0 0 0 1 0 0 \n"
    "05  D  06.0  a   Y  5000c50012340005  01  End   0 0 0 0 0 1 0 0 \n"
    "06  D  06.0  a   Y  5000c50012340009  02  End   0 0 0 0 0 1 0 0 \n"
    "07  D  06.0  a   Y  5000c5001234000d  03  End   0 0 0 0 0 1 0 0 \n"
    "08  D  06.0  a   Y  5000c50012340011  04  End   0 0 0 0 0 1 0 0 \n"
    "09  D  06.0  a   Y  5000c50012340015  05  End   0 0 0 0 0 1 0 0 \n"
    "10  D  06.0  a   Y  5000c50012340019  06  End   0 0 0 0 0 1 0 0 \n"
    "11  D  06.0  a   Y  5000c5001234001d  07  End   0 0 0 0 0 1 0 0 \n"
    "12  D  06.0  a   Y  5000c50012340021  08  End   0 0 0 0 0 1 0 0 \n"
    "13  D  06.0  a   Y  5000c50012340025  09  End   0 0 0 0 0 1 0 0 \n"
    "14  D  06.0  a   Y  5000c50012340029  10  End   0 0 0 0 0 1 0 0 \n"
    "15  D  06.0  a   Y  5000c5001234002d  11  End   0 0 0 0 0 1 0 0 \n"
    "16  D  06.0  b   Y  53c2a1f000001010  00  End   0 0 0 0 0 0 1 0 \n"
    "17  D  06.0  b   Y  53c2a1f000001011  01  End   0 0 0 0 0 0 1 0 \n"
    "18  D  06.0  b   Y  53c2a1f000001012  02  End   0 0 0 0 0 0 1 0 \n"
    "19  D  06.0  b   Y  53c2a1f000001013  03  End   0 0 0 0 0 0 1 0 \n"
    "20  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "21  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "22  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "23  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "24  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "25  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "26  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "27  D  -     UZ  N  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "28  T  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "29  T  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "30  T  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "31  T  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "32  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "33* D  06.0  UZ  Y  53c2a1f00000103e  00  End   0 0 0 0 0 1 0 0 \n"
    "34* D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
    "35* D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n";

TEST_F(ExpanderPhy, TablesOfBothDefaultExpanders) {
    CommandRun run = runExpanderCommand(kDefault, "3", {"phy", "-da"});
    EXPECT_EQ(run.out, kAttachedE36);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.requests, 4u * 36 + 1);

    // Second generation, 27 phys: the virtual rows and 12G links.
    run = runExpanderCommand(kDefault, "4", {"phy", "-da"});
    EXPECT_EQ(countPhyRows(run.out), 27u);
    for (const char* row :
         {"\n00  D  12.0  UZ  Y  53c2a1f000010000  04  End   1 1 1 0 0 0 0 0 \n",
          "\n12  D  06.0  UZ  Y  53c2a1f00000200c  00  End   0 0 0 0 0 0 1 0 \n",
          "\n16  T  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n",
          "\n24* D  12.0  UZ  Y  53c2a1f00000203e  00  End   0 0 0 0 0 1 0 0 \n",
          "\n26* D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"}) {
        EXPECT_NE(run.out.find(row), std::string::npos) << row;
    }
    EXPECT_EQ(run.requests, 4u * 27 + 1);

    run = runExpanderCommand(kDefault, "3", {"phy", "-edfb"});
    EXPECT_EQ(opening(run.out, kEdfbHeader), kEdfbHeader);
    for (const char* row : {"\n03  06.0  Y  53c2a1f000010000  End   -  -  --   ----   ----   \n",
                            "\n04  06.0  Y  5000c50012340001  End   1  -  10   0020   0040  \n",
                            "\n05  06.0  Y  5000c50012340005  End   1  1  18   0050   012c  \n",
                            "\n27  -     N  0000000000000000  None  -  -  --   ----   ----   \n",
                            "\n35* -     Y  0000000000000000  None  -  -  --   ----   ----   \n"}) {
        EXPECT_NE(run.out.find(row), std::string::npos) << row;
    }
    EXPECT_EQ(countPhyRows(run.out), 36u);
    EXPECT_EQ(run.status, 0);
    // Count, the page (2), the EDFB words, 4 per phy, timing of the physical phys.
    EXPECT_EQ(run.requests, 5u * 36 + 1);
    run = runExpanderCommand(kDefault, "4", {"phy", "-edfb"});
    EXPECT_NE(run.out.find("\n08  12.0  Y  5000cca0abcd0011  End   1  1  10   0020   0040  \n"),
              std::string::npos);
    EXPECT_EQ(run.requests, 5u * 27 + 1);

    run = runExpanderCommand(kDefault, "3", {"phy", "-err"});
    EXPECT_EQ(opening(run.out, kErrorOpening), kErrorOpening);
    EXPECT_NE(run.out.find(
                  "\n05   0x0000000c        0x00000003        0x00000001     0x00000000      \n"),
              std::string::npos);
    EXPECT_NE(run.out.find(
                  "\n09   0x00000000        0x00000000        0x00000002     0x00000001      \n"),
              std::string::npos);
    EXPECT_EQ(countPhyRows(run.out), 36u);
    EXPECT_EQ(run.requests, 36u + 1);
    run = runExpanderCommand(kDefault, "4", {"phy", "-err"});
    EXPECT_NE(run.out.find(
                  "\n06   0x00000001        0x00000000        0x00000000     0x00000004      \n"),
              std::string::npos);
    EXPECT_EQ(run.requests, 27u + 1);

    // First generation: programmed rates from the enable word, hardware rates
    // from the chip; second generation: its window in both pairs.
    run = runExpanderCommand(kDefault, "3", {"phy", "-speed"});
    EXPECT_EQ(opening(run.out, kRateHeader), kRateHeader);
    EXPECT_NE(
        run.out.find(
            "\n27    No         3.0 Gpbs        12.0 Gpbs       1.5 Gpbs        6.0 Gpbs       \n"),
        std::string::npos);
    EXPECT_NE(
        run.out.find(
            "\n35*   Yes        3.0 Gpbs        12.0 Gpbs       1.5 Gpbs        6.0 Gpbs       \n"),
        std::string::npos);
    EXPECT_EQ(countPhyRows(run.out), 36u);
    EXPECT_EQ(run.requests, 5u * 36 + 1);
    run = runExpanderCommand(kDefault, "4", {"phy", "-speed"});
    EXPECT_NE(
        run.out.find(
            "\n26*   Yes        3.0 Gpbs        12.0 Gpbs       3.0 Gpbs        12.0 Gpbs      \n"),
        std::string::npos);
    EXPECT_EQ(run.requests, 4u * 27 + 1);
}

TEST_F(ExpanderPhy, OnAndOffAcrossProcesses) {
    const Machine machine{"", makeTempDir()};
    const struct {
        std::vector<std::string> words;
        std::string out;
        size_t requests;
    } steps[] = {
        {{"-off", "2"}, "Current State : Enabled\nChanged State : Disabled\n", 6},
        {{"-off", "2"}, "Phy already disabled\n", 3},
        // Only the first phy of a list is switched.
        {{"-on", "2-5"}, "Current State : Disabled\nChanged State : Enabled\n", 7},
        {{"-on", "2"}, "Phy already enabled\n", 3},
        {{"-on", "27"}, "Current State : Disabled\nChanged State : Enabled\n", 6},
    };
    for (const auto& s : steps) {
        const CommandRun run = runExpanderCommand(machine, "3", {"phy", s.words[0], s.words[1]});
        EXPECT_EQ(run.out, s.out) << s.words[0] << " " << s.words[1];
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.requests, s.requests) << s.words[0] << " " << s.words[1];
    }
    // The disabled phy shows no device; after -on its link is back.
    const CommandRun offline = runExpanderCommand(machine, "4", {"phy", "-off", "7"});
    EXPECT_EQ(offline.status, 0);
    const CommandRun table = runExpanderCommand(machine, "4", {"phy", "-da"});
    EXPECT_NE(
        table.out.find("\n07  D  -     UZ  N  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"),
        std::string::npos);
    EXPECT_NE(runExpanderCommand(machine, "3", {"phy", "-da"})
                  .out.find("\n27  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"),
              std::string::npos);
}

TEST_F(ExpanderPhy, StatesThatDoNotChangeFail) {
    const struct {
        std::vector<std::string> words;
        std::string out;
    } cases[] = {
        // The link reset of a stuck phy never completes.
        {{"-on", "3"}, "Current State : Disabled\nFailed to enable Phy 3.\n"},
        // The phy reads disabled again after its link reset.
        {{"-on", "4"}, "Current State : Disabled\nChanged State : Disabled\n"},
        // The control word does not read back as disabled.
        {{"-off", "2"}, "Current State : Enabled\nFailed to disable Phy 2.\n"},
        // It does, but the phy reads enabled afterwards.
        {{"-off", "1"}, "Current State : Enabled\nChanged State : Enabled\n"},
    };
    for (const auto& c : cases) {
        const CommandRun run = runExpanderCommand(kFaults, "1", {"phy", c.words[0], c.words[1]});
        EXPECT_EQ(run.out, c.out + kFailed) << c.words[0] << " " << c.words[1];
        EXPECT_EQ(run.status, 1);
    }
}

TEST_F(ExpanderPhy, UnreadableDetails) {
    // Page 0xFF15 of 12 bytes holds no error-limit words.
    CommandRun run = runExpanderCommand(kFaults, "1", {"phy", "-edfb"});
    EXPECT_EQ(run.out.substr(run.out.find("\n \n") + 3),
              std::string("ERROR: Unable to read config page.\n"
                          "ERROR: Unable to get EDFB details.\n") +
                  kFailed);
    EXPECT_EQ(run.status, 1);
    // A register claiming 96 phys on a chip with 12: every row is printed,
    // those that cannot be read cleared, and the command fails.
    run = runExpanderCommand(kFaults, "2", {"phy", "-da"});
    EXPECT_EQ(countPhyRows(run.out), 96u);
    EXPECT_NE(run.out.find("\n08  D  -     UZ  Y  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
                           "09  D  -     UZ  N  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"),
              std::string::npos);
    EXPECT_NE(run.out.find("\n95  D  -     UZ  N  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n" +
                           std::string(kFailed)),
              std::string::npos);
    EXPECT_EQ(run.status, 1);
    // The link rate table ends at the first phy it cannot read.
    run = runExpanderCommand(kFaults, "2", {"phy", "-speed"});
    EXPECT_NE(
        run.out.find(
            "\n08    Yes        3.0 Gpbs        12.0 Gpbs       1.5 Gpbs        6.0 Gpbs       \n"
            "ERROR: Unable to get the PHY information for PHY '9'\n" +
            std::string(kFailed)),
        std::string::npos);
    EXPECT_EQ(run.status, 1);
}

TEST_F(ExpanderPhy, FailingRegisters) {
    // sg3: phy 7's link block and phy 9's phy block cannot be read; phy 6's
    // block fails from its third read on; phy 1's rate enable word cannot be
    // written.
    CommandRun run = runExpanderCommand(kFaults, "3", {"phy", "-da"});
    EXPECT_NE(run.out.find("\n06  D  06.0  UZ  Y  5000c50000bb0006  06  End   0 0 0 0 0 1 0 0 \n"
                           "07  D  -     UZ  N  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
                           "08  D  06.0  UZ  Y  5000c50000bb0008  08  End   0 0 0 0 0 1 0 0 \n"
                           "09  D  -     UZ  N  0000000000000000  00  None  0 0 0 0 0 0 0 0 \n"
                           "10* D  06.0  UZ  Y  5000c50000bb000a  10  End   0 0 0 0 0 1 0 0 \n"),
              std::string::npos);
    EXPECT_EQ(countPhyRows(run.out), 12u);
    EXPECT_EQ(run.status, 1);
    run = runExpanderCommand(kFaults, "3", {"phy", "-err"});
    EXPECT_NE(run.out.find(
                  "\n08   0x00000000        0x00000000        0x00000000     0x00000000      \n" +
                  std::string(kFailed)),
              std::string::npos);
    EXPECT_EQ(run.status, 1);
    // The rates were programmed, but the table after it cannot be read.
    run = runExpanderCommand(kFaults, "3", {"phy", "-speed", "-set", "1", "1", "-p", "6"});
    EXPECT_NE(run.out.find(kRateHeader + "ERROR: Unable to get the PHY information for PHY '6'\n" +
                           kFailed),
              std::string::npos);
    EXPECT_EQ(run.registers,
              "0x50018804 <- 00000099\n0x50018804 <- 00000299\n0x50018808 <- c0300000\n"
              "0x50018818 <- 00000002\n");
    EXPECT_EQ(run.status, 1);
    // A failed write fails the phy instead of counting as programmed.
    run = runExpanderCommand(kFaults, "3", {"phy", "-speed", "-set", "1", "3", "-p", "1"});
    EXPECT_NE(run.out.find("6.0 Gpbs       \nERROR: Unable to change the speed for Phy '1'\n" +
                           std::string(kFailed)),
              std::string::npos);
    EXPECT_EQ(run.registers, "0x50008404 <- 000000a9\n0x50008404 <- 000006a9\n");
    EXPECT_EQ(run.status, 1);

    // sg4: the phy count cannot be read.
    const struct {
        std::vector<std::string> words;
        std::string tail;
    } cases[] = {
        {{"phy", "-da"}, " \nFailed to get Phy details.\n"},
        {{"phy", "-edfb"}, " \nFailed to get EDFB details.\n"},
        {{"phy", "-err"}, "Failed to get error counter details.\n"},
        {{"phy", "-speed"}, "ERROR: Unable to get the total Phy number.\n"},
        {{"phy", "-on", "1"}, "ERROR: Unable to get total number of phys.\n"},
    };
    for (const auto& c : cases) {
        run = runExpanderCommand(kFaults, "4", c.words);
        const std::string tail = c.tail + kFailed;
        ASSERT_GE(run.out.size(), tail.size()) << c.words[1];
        EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail) << c.words[1];
        EXPECT_EQ(run.status, 1) << c.words[1];
    }
}

TEST_F(ExpanderPhy, ProgrammingLinkRates) {
    const Machine machine{"", makeTempDir()};
    const std::string rows =
        "00    Yes        3.0 Gpbs        12.0 Gpbs       1.5 Gpbs        6.0 Gpbs       \n"
        "01    Yes        3.0 Gpbs        12.0 Gpbs       1.5 Gpbs        6.0 Gpbs       \n"
        "02    Yes        3.0 Gpbs        12.0 Gpbs       1.5 Gpbs        6.0 Gpbs       \n"
        "03    Yes        3.0 Gpbs        12.0 Gpbs       1.5 Gpbs        6.0 Gpbs       \n";
    CommandRun run =
        runExpanderCommand(machine, "3", {"phy", "-speed", "-set", "1", "3", "-p", "0-3"});
    EXPECT_EQ(run.out, "Current link rate values, \n\n" + std::string(kRateHeader) + rows +
                           "\nProgramed link rate values, \n\n" + kRateHeader + rows);
    EXPECT_EQ(run.status, 0);
    // Per phy: W with its enables cleared, W, R, then the hard reset.
    EXPECT_NE(run.registers.find("0x50008004 <- 000000a9\n"
                                 "0x50008004 <- 000006a9\n"
                                 "0x50008008 <- c03f0000\n"
                                 "0x50008018 <- 00000002\n"),
              std::string::npos);
    EXPECT_NE(run.registers.find("0x50008c08 <- c03f0000\n"), std::string::npos);
    // Parse (two phy numbers), count, both tables and 6 per phy.
    EXPECT_EQ(run.requests, 2u + 1 + 2 * 4 * 5 + 4 * 6);

    // 3.0 Gbps only: the next process finds phy 4 linked at 3.0 Gbps.
    run = runExpanderCommand(machine, "3", {"phy", "-speed", "-set", "1", "1", "-p", "4"});
    EXPECT_NE(
        run.out.find(
            "\n04    Yes        3.0 Gpbs        3.0 Gpbs        1.5 Gpbs        6.0 Gpbs       \n"),
        std::string::npos);
    EXPECT_NE(run.registers.find("0x50018004 <- 00000099\n"
                                 "0x50018004 <- 00000299\n"
                                 "0x50018008 <- c0300000\n"),
              std::string::npos);
    run = runExpanderCommand(machine, "3", {"phy", "-da"});
    EXPECT_NE(run.out.find("\n04  D  03.0  a   Y  5000c50012340001  00  End   0 0 0 0 0 1 0 0 \n"),
              std::string::npos);

    // Second generation: 12.0 Gbps only, as the table of both pairs shows.
    run = runExpanderCommand(machine, "4", {"phy", "-speed", "-set", "3", "3", "-p", "5"});
    EXPECT_NE(
        run.out.find(
            "Programed link rate values, \n\n" + std::string(kRateHeader) +
            "05    Yes        12.0 Gpbs       12.0 Gpbs       12.0 Gpbs       12.0 Gpbs      \n"),
        std::string::npos);
    EXPECT_NE(run.registers.find("<- c0030000\n"), std::string::npos);
}

}  // namespace
