#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "console_capture.h"
#include "shell/batch.h"
#include "shell/command.h"
#include "shell/options.h"

namespace {

std::vector<std::string> split(const std::string& line, uint32_t* status) {
    std::vector<std::vector<char>> words;
    *status = splitCommandLine(line.c_str(), &words);
    std::vector<std::string> out;
    for (auto& w : words)
        out.emplace_back(w.data());
    return out;
}

}  // namespace

TEST(SplitCommandLine, SpacesAreTheOnlySeparator) {
    uint32_t status = 9;
    EXPECT_EQ(split("  show   -a ", &status), (std::vector<std::string>{"show", "-a"}));
    EXPECT_EQ(status, kSplitOk);
    EXPECT_EQ(split("show\t-a\r", &status), (std::vector<std::string>{"show\t-a\r"}));
    EXPECT_TRUE(split("    ", &status).empty());
    EXPECT_EQ(status, kSplitEmpty);
    split("", &status);
    EXPECT_EQ(status, kSplitEmpty);
    split("\n", &status);
    EXPECT_EQ(status, kSplitEmpty);
    std::vector<std::vector<char>> words;
    EXPECT_EQ(splitCommandLine(nullptr, &words), kSplitEmpty);
}

TEST(SplitCommandLine, LengthLimit) {
    uint32_t status = 9;
    ConsoleCapture console;
    EXPECT_EQ(split(std::string(1023, 'a'), &status).size(), 1u);
    EXPECT_EQ(status, kSplitOk);
    EXPECT_TRUE(split(std::string(1024, 'a'), &status).empty());
    EXPECT_EQ(status, kSplitTooLong);
    EXPECT_EQ(console.text(),
              "ERROR: Invalid command specified. Unknown command or invalid length of the "
              "command.\n");
}

TEST(Dispatch, EmptyAndUnknownCommandsLeaveTheirCodes) {
    ConsoleCapture console;
    EXPECT_EQ(dispatchCommand(0, nullptr), 1u);
    EXPECT_EQ(lastCommandError(), 0x2020003u);
    char show[] = "show";
    char* words[] = {show, nullptr};
    EXPECT_EQ(dispatchCommand(1, words), 1u);  // no target: only common commands exist
    EXPECT_EQ(lastCommandError(), 0x2030004u);
    char help[] = "help";
    char* helpWords[] = {help, show, nullptr};
    EXPECT_EQ(dispatchCommand(2, helpWords), 1u);
    EXPECT_EQ(lastCommandError(), 0u);
    EXPECT_EQ(console.text(),
              "ERROR: Invalid or unknown command. Command string is empty.\n"
              "ERROR: Invalid or unknown command 'show'\n"
              "ERROR: Invalid or unknown command 'show'\n");
}

TEST(Dispatch, HelpListsAndUsage) {
    ConsoleCapture console;
    char help[] = "help", a[] = "a", b[] = "b", quit[] = "quit";
    char* list[] = {help, nullptr};
    char* many[] = {help, a, b, nullptr};
    char* usage[] = {help, quit, nullptr};
    setCurrentExecutionMode(ExecutionMode::Interactive);
    EXPECT_EQ(dispatchCommand(1, list), 0u);
    EXPECT_EQ(dispatchCommand(3, many), 0u);
    EXPECT_EQ(dispatchCommand(2, usage), 0u);
    setCurrentExecutionMode(ExecutionMode::OneLine);
    EXPECT_EQ(dispatchCommand(1, list), 0u);
    setCurrentExecutionMode(ExecutionMode::None);
    const std::string common =
        "list     - Lists all the compatible HBA/Expander\n"
        "help     - Lists the available commands\n"
        "quit     - Quits from the application\n";
    const std::string select =
        "select   - Select a Compatible HBA/Expander from the discovered list\n";
    EXPECT_EQ(console.text(),
              common + select + "ERROR: Invalid 'help' syntax specified.\n" +
                  "Following is the list of commands that are available.\n" + common + select +
                  "Quit Command:\nQuits the application.\nExample : quit\n" + common);
}

class ScriptTest : public ::testing::Test {
  protected:
    std::string write(const std::string& contents) {
        char pattern[] = "/tmp/quarlen-script-XXXXXX";
        const int fd = mkstemp(pattern);
        EXPECT_GE(fd, 0);
        close(fd);
        std::ofstream(pattern, std::ios::binary) << contents;
        paths_.push_back(pattern);
        return pattern;
    }
    void TearDown() override {
        for (const auto& p : paths_)
            std::remove(p.c_str());
    }
    std::vector<std::string> paths_;
};

TEST_F(ScriptTest, LoaderSkipsEmptyLinesKeepsCarriageReturnsAndLastLine) {
    std::vector<std::string> lines;
    ConsoleCapture console;
    ASSERT_EQ(loadScript(write("\n\nhelp\r\n# note\n  #x\n\nquit").c_str(), &lines), 0u);
    EXPECT_EQ(lines, (std::vector<std::string>{"help\r", "# note", "  #x", "quit"}));
    ASSERT_EQ(loadScript(write("").c_str(), &lines), 0u);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(console.text(), "");
}

TEST_F(ScriptTest, LoaderLineLengthLimit) {
    std::vector<std::string> lines;
    ConsoleCapture console;
    ASSERT_EQ(loadScript(write(std::string(1024, 'a') + "\n").c_str(), &lines), 0u);
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(loadScript(write("\nhelp\n\n" + std::string(1025, 'a') + "\n").c_str(), &lines), 1u);
    EXPECT_EQ(loadScript("/nonexistent/script", &lines), 1u);
    EXPECT_EQ(console.text(),
              "ERROR: Invalid command at line no '2'. Command statement length should not be "
              "more than 1024.\n"
              "ERROR: Unable to open the file pointer.\n");
}

TEST_F(ScriptTest, ReadErrorIsAFailureNotALoop) {
    std::vector<std::string> lines;
    ConsoleCapture console;
    // Reading a directory as a stream fails with EISDIR.
    EXPECT_NE(loadScript("/tmp", &lines), 0u);
}

TEST(ScriptLine, CommentsAndBlankLinesAreSkippedSilently) {
    ConsoleCapture console;
    EXPECT_EQ(runScriptLine(""), 3u);
    EXPECT_EQ(runScriptLine("# comment"), 3u);
    EXPECT_EQ(runScriptLine("   "), 3u);
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(runScriptLine("help x y"), 0u);
    EXPECT_EQ(console.text().substr(0, 36), "\nExecuting command : 'help x y'\nERRO");
}

namespace {

void runLoop(const char* outPath, const std::string& input) {
    FILE* out = std::fopen(outPath, "w");
    FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    setConsoleStreams(out, in);
    char program[] = "quarlencli";
    char* argv[] = {program, nullptr};
    uint32_t code = 0;
    parseArguments(1, argv, &code);
    setCurrentExecutionMode(ExecutionMode::Interactive);
    interactiveLoop();
}

}  // namespace

// The loop itself never returns, so it runs in a child process whose console
// goes to a file.
TEST(InteractiveLoop, HelpOverlongLineQuitNowAndEndOfInput) {
    char pattern[] = "/tmp/quarlen-loop-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string input = "help\n" + std::string(2000, 'h') + "\nquit now\n";
    EXPECT_EXIT(runLoop(pattern, input), ::testing::ExitedWithCode(0), "");
    std::ifstream file(pattern);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    std::remove(pattern);
    EXPECT_EQ(text,
              "\n     DeviceId/RevId   WWID                  FwVersion       \n\n"
              "Quarlen> "
              "list     - Lists all the compatible HBA/Expander\n"
              "help     - Lists the available commands\n"
              "quit     - Quits from the application\n"
              "select   - Select a Compatible HBA/Expander from the discovered list\n"
              "Quarlen> ERROR: Invalid command specified. Unknown command or invalid length of "
              "the command.\n"
              "Quarlen> ERROR: Invalid argument(s) specified.\n"
              "Quarlen> \n");
}

TEST(ExitStatus, LowByteOrOneForNonZeroCodes) {
    EXPECT_EQ(processExitStatus(0), 0);
    EXPECT_EQ(processExitStatus(0x2020003), 3);
    EXPECT_EQ(processExitStatus(0x2020002), 2);
    EXPECT_EQ(processExitStatus(0x2030004), 4);
    EXPECT_EQ(processExitStatus(0x2020000), 1);
    EXPECT_EQ(processExitStatus(0x4020000), 1);
    EXPECT_EQ(processExitStatus(0x5020100), 1);
    EXPECT_EQ(processExitStatus(0x5020022), 0x22);
}
