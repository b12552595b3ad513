// Expander reset end to end under the emulator: the argument rules, phy
// resets of lists and of all phys with the commands they send, error
// counters cleared for the next process, the expander reset, and failures
// that still print every phy's line.
#include <gtest/gtest.h>

#include "expander_command_util.h"

namespace {

const char* const kFailed = "ERROR: ERROR CODE 02020000\n";
const Machine kDefault{"", ""};
const Machine kFaults{"expanders-phy-faults.json", ""};

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

TEST_F(ExpanderReset, ArgumentRules) {
    const struct {
        std::vector<std::string> words;
        std::string out;
    } cases[] = {
        {{}, "ERROR: Invalid command syntax or unknown argument(s) specified.\n"},
        {{"-E"}, "ERROR: Invalid/Unknown argument '-E' specified.\n"},
        {{"-e", "-pl", "1"}, "ERROR: Argument '-pl' cannot be used with other options.\n"},
        {{"-pla", "-perr", "1"}, "ERROR: Argument '-perr' cannot be used with other options.\n"},
        {{"-ph"}, "ERROR: Argument '-ph' requires mandatory Phy number.\n"},
        {{"-perr", "1-2-3"}, "ERROR: Invalid Phy number specified. Provide a valid Phy number.\n"},
        {{"-pl", "4-2"}, "ERROR: Invalid Phy range specified.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"reset"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const CommandRun run = runExpanderCommand(kDefault, "3", words);
        const std::string label = c.words.empty() ? "(none)" : c.words.front();
        EXPECT_EQ(run.out, c.out + kFailed) << label;
        EXPECT_EQ(run.status, 1) << label;
        EXPECT_EQ(run.registers, "") << label;
    }
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

TEST_F(ExpanderReset, PhyOperations) {
    const struct {
        const char* index;
        std::vector<std::string> words;
        std::string out;
        size_t requests;
    } cases[] = {
        // Parse (two numbers), count, write and read-back per phy.
        {"3", {"-pl", "2-4"}, phyLines("link reset", 2, 4), 3 + 2 * 3},
        {"3", {"-pl", "7"}, phyLines("link reset", 7, 7), 2 + 2},
        {"3", {"-ph", "0-1"}, phyLines("reset", 0, 1), 3 + 2 * 2},
        {"3", {"-perr", "9"}, phyLines("error counter reset", 9, 9), 2 + 1},
        // Every phy, the virtual ones too.
        {"3", {"-pla"}, phyLines("link reset", 0, 35), 2 * 36 + 1},
        {"4", {"-pha"}, phyLines("reset", 0, 26), 2 * 27 + 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"reset"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const CommandRun run = runExpanderCommand(kDefault, c.index, words);
        EXPECT_EQ(run.out, c.out) << c.words[0];
        EXPECT_EQ(run.status, 0) << c.words[0];
        EXPECT_EQ(run.requests, c.requests) << c.words[0];
    }
    // The hard reset writes 2 to the control word (second generation: +0x60
    // of phy 0's lane, cluster 3 lane 4).
    const CommandRun hard = runExpanderCommand(kDefault, "4", {"reset", "-ph", "0"});
    EXPECT_EQ(hard.registers, "0x50390060 <- 00000002\n");
}

TEST_F(ExpanderReset, ErrorCountersStayClearedForTheNextProcess) {
    const Machine machine{"", makeTempDir()};
    const CommandRun clear = runExpanderCommand(machine, "3", {"reset", "-perrall"});
    EXPECT_EQ(clear.out, phyLines("error counter reset", 0, 35));
    EXPECT_EQ(clear.status, 0);
    EXPECT_EQ(clear.requests, 36u + 1);
    const CommandRun counters = runExpanderCommand(machine, "3", {"phy", "-err"});
    EXPECT_NE(counters.out.find(
                  "\n05   0x00000000        0x00000000        0x00000000     0x00000000      \n"),
              std::string::npos);
    EXPECT_EQ(counters.out.find("0x0000000c"), std::string::npos);
    EXPECT_EQ(counters.out.find("0x00000002"), std::string::npos);
}

TEST_F(ExpanderReset, ExpanderComesBack) {
    const Machine machine{"", makeTempDir()};
    const CommandRun run = runExpanderCommand(machine, "3", {"reset", "-e"});
    EXPECT_EQ(run.out, "Resetting the expander...\nReset completed successfully.\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(ExpanderReset, FailuresPrintEveryLine) {
    // Phy 3 never finishes a reset: its line says so, the others go on, and
    // the command fails.
    CommandRun run = runExpanderCommand(kFaults, "1", {"reset", "-pla"});
    EXPECT_EQ(run.out, phyLines("link reset", 0, 11, 3) + kFailed);
    EXPECT_EQ(run.status, 1);
    run = runExpanderCommand(kFaults, "1", {"reset", "-ph", "2-4"});
    EXPECT_EQ(run.out, phyLines("reset", 2, 4, 3) + kFailed);
    EXPECT_EQ(run.status, 1);
    // A phy count that cannot be read stops the all-phys forms before any
    // write.
    for (const char* option : {"-pla", "-pha", "-perrall"}) {
        run = runExpanderCommand(kFaults, "4", {"reset", option});
        EXPECT_EQ(run.out, std::string("ERROR: Unable to get the total Phy number.\n") + kFailed);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.registers, "");
    }
    // A phy count above 81 is refused before anything is written.
    for (const char* option : {"-pla", "-perrall"}) {
        run = runExpanderCommand(kFaults, "2", {"reset", option});
        EXPECT_EQ(run.out, std::string("ERROR: Invalid Phy number found.\n") + kFailed);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.registers, "");
    }
}

}  // namespace
