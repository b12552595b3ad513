// The option grammar and every exit status reachable without hardware.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string kHelp =
    "Quarlen CLI - Help Option\n"
    "Three modes of execution\n"
    "     1.Interactive Mode\n"
    "     2.Oneline Mode\n"
    "     3.Batch Mode\n"
    "Example for Interactive Mode :\n"
    "     ./quarlencli.x86_64\n"
    "Example for Oneline Mode :\n"
    "     ./quarlencli.x86_64 -i <index of target> \n"
    "Example for Batch Mode :\n"
    "    ./quarlencli.x86_64 -i <index> --batch <batch file>\n";

struct Case {
    std::vector<std::string> args;
    std::string output;
    int status;
};

void expectRuns(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        const CliRun run = runPlain(c.args);
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        EXPECT_EQ(run.out, c.output) << joined;
        EXPECT_EQ(run.status, c.status) << joined;
        EXPECT_EQ(run.err, "") << joined;
    }
}

std::string error(const std::string& message, const char* code) {
    return "ERROR: " + message + "\nERROR: ERROR CODE " + code + "\n";
}

}  // namespace

TEST(Options, HelpPrintsElevenLinesWithoutBanner) {
    expectRuns({{{"--help"}, kHelp, 0}});
}

// The version query is answered alone, without banner or discovery; with other
// words it is the invalid argument it always was.
TEST(Options, VersionAloneSucceeds) {
    expectRuns({
        {{"--version"}, "quarlencli 16.2.0.0\n", 0},
        {{"-V"}, "quarlencli 16.2.0.0\n", 0},
        {{"--version", "--list"}, error("Invalid argument '--version'", "02020003"), 3},
        {{"--list", "-V"}, error("Invalid argument '-V'", "02020003"), 3},
    });
}

TEST(Options, SyntaxErrorsEndWithCode2020003) {
    const std::string dir = makeTempDir();
    const std::string script = writeTempFile("script", "help\n");
    expectRuns({
        {{"-i", "x"}, error("Invalid index specified", "02020003"), 3},
        {{"-i", "1x"}, error("Invalid index specified", "02020003"), 3},
        {{"-i", "-5"}, error("-i option must have an argument for index value.", "02020003"), 3},
        {{"-i"}, error("-i option must have an argument for index value.", "02020003"), 3},
        {{"-i", "1", "-i", "2"},
         error("-i option cannot be invoked with -p/-w option", "02020003"),
         3},
        {{"--help", "--help"},
         error("Syntax of the command is incorrect. 'help' is used multiple times.", "02020003"),
         3},
        {{"-x"}, error("Invalid argument '-x'", "02020003"), 3},
        {{"--LIST"}, error("Invalid argument '--LIST'", "02020003"), 3},
        {{"--list", "--interactive"},
         error("Interactive mode cannot be invoked with any other modes", "02020003"),
         3},
        {{"--interactive", "--list"},
         error("List mode cannot be invoked with any other modes", "02020003"),
         3},
        {{"--list", "--batch", script},
         error("Batch mode cannot be invoked with any other modes", "02020003"),
         3},
        {{"--batch"},
         error("Batch mode must have a valid file name as an argument.", "02020003"),
         3},
        {{"--batch", dir},
         error("Invalid file name specified/File does not exist. Note: Path should not have any "
               "spaces.",
               "02020003"),
         3},
        {{"--batch", dir + "/missing"},
         error("Invalid file name specified/File does not exist. Note: Path should not have any "
               "spaces.",
               "02020003"),
         3},
    });
}

TEST(Options, InvalidCombinationsEndWithCode2020000AndStatus1) {
    const std::string script = writeTempFile("script", "help\n");
    const std::string noTarget =
        "Syntax of the command is incorrect. 'list' or 'help' does not require target.";
    const std::string noInterface =
        "Syntax of the command is incorrect. 'help' should not be used with any interface.";
    expectRuns({
        {{"--list", "-i", "1"}, error(noTarget, "02020000"), 1},
        {{"-i", "1", "--help"}, error(noTarget, "02020000"), 1},
        {{"--help", "--list"}, error(noInterface, "02020000"), 1},
        {{"--interactive", "--help"}, error(noInterface, "02020000"), 1},
        {{"--batch", script, "--help"}, error(noInterface, "02020000"), 1},
        {{"--batch", script},
         error("Syntax of the command is incorrect. Target details are mandatory.", "02020000"),
         1},
    });
}

TEST(Options, WithoutHardwareDiscoveryFails) {
    const std::string failed =
        std::string(kBanner) + "ERROR: Unable to find any compatible devices in the list.\n" +
        error("Discovery failed. Unable to discover any supported device(s).", "02020000");
    expectRuns({
        {{"--list"}, failed, 1},
        {{}, failed, 1},
        {{"--interactive"}, failed, 1},
        {{"-i", "1", "show", "-a"}, failed, 1},
    });
}
