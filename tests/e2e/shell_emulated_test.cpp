// The shell's modes end to end against one emulated expander: the interactive
// loop, one-line commands, index checks and batch scripts.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string kTopology =
    std::string(QUARLEN_SOURCE_DIR) + "/tests/e2e/topologies/shell-one-expander.json";

// What every run prints before its mode starts: no controller, one expander.
const std::string kStart =
    std::string(kBanner) + "ERROR: Unable to find any compatible devices in the list.\n";
const std::string kPrompt = "QX-S24 B0> ";
const std::string kTable =
    "\n     DeviceId/RevId   WWID                  FwVersion       \n"
    "  1) QX-S24 B0        53c2a1f-0-0000-0200   01.02.03.04\n";
const std::string kCommon =
    "list     - Lists all the compatible HBA/Expander\n"
    "help     - Lists the available commands\n"
    "quit     - Quits from the application\n";
const std::string kSelectRow =
    "select   - Select a Compatible HBA/Expander from the discovered list\n";
const std::string kQuitUsage = "Quit Command:\nQuits the application.\nExample : quit\n";
const std::string kTooLong =
    "ERROR: Invalid command specified. Unknown command or invalid length of the command.\n";

CliRun run(std::vector<std::string> args, const std::string& input = "") {
    CliOptions options;
    options.args = std::move(args);
    options.input = input;
    options.emulated = true;
    options.topology = kTopology;
    return runCli(options);
}

std::string executing(const std::string& line) {
    return "\nExecuting command : '" + line + "'\n";
}

}  // namespace

TEST(ShellEmulated, ListAndIndexChecks) {
    CliRun r = run({"--list"});
    EXPECT_EQ(r.out, kStart + kTable);
    EXPECT_EQ(r.status, 0);

    const std::string oneTarget =
        "ERROR: Invalid index value specified. The valid index value is '1'\n"
        "ERROR: ERROR CODE 02020000\n";
    for (const char* index : {"0", "2", "4294967297", "99999999999999999999"}) {
        r = run({"-i", index});
        EXPECT_EQ(r.out, kStart + oneTarget) << index;
        EXPECT_EQ(r.status, 1) << index;
    }
    r = run({"-i", "4294967297", "help"});
    EXPECT_EQ(r.out, kStart + oneTarget);
}

TEST(ShellEmulated, InteractiveHelpOverlongQuitNowAndEndOfInput) {
    const CliRun r = run({"-i", "1"}, "help\n" + std::string(2000, 'h') + "\nquit now\n");
    EXPECT_EQ(r.out, kStart + kPrompt + kCommon + kSelectRow +
                         "phy      - Shows phy related information\n"
                         "show     - Shows FW/Manufacturing/Temperature information\n"
                         "reset    - Resets the target/counters/phy\n"
                         "scan     - Scans & Displays the topology information\n"
                         "encl     - Displays enclosure information\n"
                         "trace    - Prints the expander trace contents\n"
                         "healthlogs - Prints the expander health logs\n"
                         "cfg      - Reads configuration pages\n"
                         "sasaddr  - Gets or sets the expander SAS address\n"
                         "route    - Prints route table attributes\n"
                         "ul       - Uploads the image into file\n"
                         "dl       - Downloads the image into Expander\n"
                         "erase    - Erases the flash regions\n"
                         "\n" +
                         kPrompt + kTooLong + kPrompt + "ERROR: Invalid argument(s) specified.\n" +
                         kPrompt + "\n");
    EXPECT_EQ(r.status, 0);
}

TEST(ShellEmulated, InteractiveListPromptAndSelect) {
    CliRun r = run({}, "7\n1\n  \nselect -i 4294967297\nshow\nselect -i 1\nquit\n");
    EXPECT_EQ(r.out, kStart + kTable + "\n" + "Enter the target index to connect with : " +
                         "ERROR: Invalid value specified. Specify valid input.\n" +
                         "Enter the target index to connect with : " + kPrompt + kPrompt +
                         kStart.substr(std::string(kBanner).size()) +
                         "ERROR: Invalid index value specified. The valid index value is '1'\n" +
                         "Quarlen> ERROR: Invalid or unknown command 'show'\nQuarlen> " +
                         "ERROR: Unable to find any compatible devices in the list.\n" + kPrompt);
    EXPECT_EQ(r.status, 0);

    // The index prompt at end of input stops asking; the last prompt's line
    // is ended so that the caller's shell prompt starts on its own.
    r = run({});
    EXPECT_EQ(r.out, kStart + kTable + "\nEnter the target index to connect with : " +
                         "ERROR: Invalid value specified. Specify valid input.\nQuarlen> \n");
    EXPECT_EQ(r.status, 0);
}

TEST(ShellEmulated, OneLineCommands) {
    CliRun r = run({"-i", "1", "help", "quit"});
    EXPECT_EQ(r.out, kStart + kQuitUsage);
    EXPECT_EQ(r.status, 0);

    r = run({"-i", "1", "select", "-i", "1"});
    EXPECT_EQ(r.out, kStart +
                         "ERROR: 'select' command cannot be used with OneLine execution mode.\n"
                         "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(r.status, 1);

    r = run({"-i", "1", "bogus"});
    EXPECT_EQ(r.out,
              kStart + "ERROR: Invalid or unknown command 'bogus'\nERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(r.status, 1);

    // The interactive loop checks the index again for a preselected target.
    r = run({"--interactive", "-i", "1", "help", "quit"});
    EXPECT_EQ(r.out, kStart + kQuitUsage);
}

TEST(ShellEmulated, BatchScripts) {
    struct Case {
        const char* name;
        std::string script;
        std::string output;
        int status;
    };
    const std::string help = executing("help quit") + kQuitUsage;
    const std::string longLine = "help " + std::string(1019, 'x');
    const Case cases[] = {
        {"empty", "", "", 0},
        {"comments", "# first\n\n#help\nhelp quit\n# last", help, 0},
        {"no final line feed", "help quit\nhelp quit", help + help, 0},
        {"leading space before #", "help quit\n  # not a comment\nhelp quit\n",
         help + executing("  # not a comment") + "ERROR: Invalid or unknown command '#'\n" +
             "ERROR: ERROR CODE 02030004\n",
         4},
        {"crlf", "help quit\r\nquit\r\n",
         executing("help quit\r") + "ERROR: Invalid or unknown command 'quit\r'\n" +
             "ERROR: ERROR CODE 02020003\n",
         3},
        {"crlf command alone", "quit\r\n",
         executing("quit\r") + "ERROR: Invalid or unknown command 'quit\r'\n" +
             "ERROR: ERROR CODE 02030004\n",
         4},
        {"1024 characters", "help quit\n" + longLine + "\n",
         help + kTooLong + "ERROR: ERROR CODE 02020003\n", 3},
        {"1025 characters", "help quit\n" + longLine + "x\n",
         "ERROR: Invalid command at line no '2'. Command statement length should not be more "
         "than 1024.\n"
         "ERROR: Batch failed in parsing the script file.\n"
         "ERROR: ERROR CODE 02020000\n",
         1},
        {"list", "list\n",
         executing("list") + "ERROR: 'list' command cannot be used with Batch mode.\n" +
             "ERROR: ERROR CODE 02020003\n",
         3},
        {"quit", "quit\nbogus\n", executing("quit"), 0},
        {"select", "select -i 1\nhelp quit\n",
         executing("select -i 1") + "ERROR: Unable to find any compatible devices in the list.\n" +
             help,
         0},
    };
    for (const Case& c : cases) {
        const std::string path = writeTempFile("script", c.script);
        CliRun r = run({"--batch", path, "-i", "1"});
        EXPECT_EQ(r.out, kStart + c.output) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
        // The index may come first as well.
        r = run({"-i", "1", "--batch", path});
        EXPECT_EQ(r.status, c.status) << c.name;
    }

    const std::string script = writeTempFile("script", "help quit\n");
    const CliRun r = run({"-i", "0", "--batch", script});
    EXPECT_EQ(r.out, kStart +
                         "ERROR: Invalid index value specified. The valid index value is '1'\n"
                         "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(r.status, 1);
}
