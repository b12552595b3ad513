// Expander reset end to end under the emulator: the argument rules, phy
// resets of lists and of all phys with the commands they send, error
// counters cleared for the next process, the expander reset, and failures
// that still print every phy's line.
#include <gtest/gtest.h>

#include "expander_command_util.h"

namespace {

const std::string kFailed = kCommandFailed;

class ExpanderReset : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

std::string phyLines(const char* operation, int first, int last, int failing = -1) {
    std::string out;
    for (int phy = first; phy <= last; ++phy) {
        char line[80];
        std::snprintf(line, sizeof line, "Phy %02d %s : %s\n", phy, operation,
                      phy == failing ? "Failed" : "Successful");
        out += line;
    }
    return out;
}

// Step fields: machine, target, words, texts shown in order, status, exact,
// SCSI commands, register writes.
// clang-format off
TEST_F(ExpanderReset, Scenario) {
    const Machine m{"", makeTempDir()};
    const Machine faults{"expanders-phy-faults.json", ""};
    const std::string countUnreadable = "ERROR: Unable to get the total Phy number.\n" + kFailed;
    const std::string countTooHigh = "ERROR: Invalid Phy number found.\n" + kFailed;
    auto refused = [&](std::vector<std::string> words, std::string out) {
        words.insert(words.begin(), "reset");
        return Step{m, "3", words, {out + kFailed}, 1, true, -1, ""};
    };
    runSteps({
        refused({}, "ERROR: Invalid command syntax or unknown argument(s) specified.\n"),
        refused({"-E"}, "ERROR: Invalid/Unknown argument '-E' specified.\n"),
        refused({"-e", "-pl", "1"}, "ERROR: Argument '-pl' cannot be used with other options.\n"),
        refused({"-ph"}, "ERROR: Argument '-ph' requires mandatory Phy number.\n"),
        refused({"-perr", "1-2-3"},
                "ERROR: Invalid Phy number specified. Provide a valid Phy number.\n"),
        // Parse (two numbers), count, then write and read-back per phy.
        {m, "3", {"reset", "-pl", "2-4"}, {phyLines("link reset", 2, 4)}, 0, true, 3 + 2 * 3,
            "0x50008818 <- 00000001\n0x50008c18 <- 00000001\n0x50018018 <- 00000001\n"},
        {m, "3", {"reset", "-ph", "0"}, {phyLines("reset", 0, 0)}, 0, true, 2 + 2,
            "0x50008018 <- 00000002\n"},
        // Every phy, the virtual ones too; second generation: phy 0 is
        // cluster 3 lane 4.
        {m, "3", {"reset", "-pla"}, {phyLines("link reset", 0, 35)}, 0, true, 2 * 36 + 1},
        {m, "4", {"reset", "-pha"}, {phyLines("reset", 0, 26)}, 0, true, 2 * 27 + 1},
        {m, "4", {"reset", "-ph", "0"}, {phyLines("reset", 0, 0)}, 0, true, 4,
            "0x50390060 <- 00000002\n"},
        // Counters cleared stay cleared for the next process.
        {m, "3", {"reset", "-perr", "9"}, {phyLines("error counter reset", 9, 9)}, 0, true, 3,
            "0x50028430 <- 00000000 00000000 00000000 00000000\n"},
        {m, "3", {"phy", "-err"}, {"\n05   0x0000000c", "\n09   0x00000000        0x00000000 "
            "       0x00000000     0x00000000      \n"}},
        {m, "3", {"reset", "-perrall"}, {phyLines("error counter reset", 0, 35)}, 0, true, 36 + 1},
        {m, "3", {"phy", "-err"}, {"\n05   0x00000000        0x00000000        0x00000000     "
            "0x00000000      \n"}},
        {m, "3", {"reset", "-e"}, {"Resetting the expander...\nReset completed successfully.\n"},
            0, true},
        // Phy 3 never finishes a reset: its line says so, the others go on,
        // and the command fails.
        {faults, "1", {"reset", "-pla"}, {phyLines("link reset", 0, 11, 3) + kFailed}, 1, true},
        {faults, "1", {"reset", "-ph", "2-4"}, {phyLines("reset", 2, 4, 3) + kFailed}, 1, true},
        // A phy count unreadable (sg4) or above 81 (sg2) stops before any write.
        {faults, "4", {"reset", "-pla"}, {countUnreadable}, 1, true, -1, ""},
        {faults, "4", {"reset", "-pha"}, {countUnreadable}, 1, true, -1, ""},
        {faults, "4", {"reset", "-perrall"}, {countUnreadable}, 1, true, -1, ""},
        {faults, "2", {"reset", "-pla"}, {countTooHigh}, 1, true, -1, ""},
        {faults, "2", {"reset", "-perr", "1"}, {countTooHigh}, 1, true, -1, ""},
    });
    const CliRun help = runOnTopology("", {"-i", "3", "help", "reset"});
    EXPECT_EQ(help.out, std::string(kBanner) +
        "Reset Operations\n"
        "The command resets different components/devices/counters\n"
        "     reset -e\n"
        "           -e : Resets the expander\n"
        "      reset -pl <PHY ID>\n"
        "           -pl : Link reset specific PHY\n"
        "     reset -pla\n"
        "           -pla : Link reset all Phys\n"
        "     reset -ph <PHY ID>\n"
        "           -ph : Hard reset specific PHY\n"
        "     reset -pha\n"
        "           -pha : Hard reset all Phys\n"
        "     reset -perr <PHY ID>\n"
        "           -perr : Clears the error counters of specific PHY to 0\n"
        "     reset -perrall\n"
        "           -perrall : Clears error counters of all Phys to 0\n"
        "Example : reset -pl 4\n");
}
// clang-format on

}  // namespace
