#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "console_capture.h"
#include "shell/prompt.h"

TEST(AskYesNo, AcceptsAnyCaseOfYesAndNo) {
    for (const char* yes : {"yes\n", "Yes\n", "YES"}) {
        ConsoleCapture console(yes);
        EXPECT_EQ(askYesNo(), 0u) << yes;
        EXPECT_EQ(console.text(), "");
    }
    ConsoleCapture console("nO\n");
    EXPECT_EQ(askYesNo(), 1u);
}

TEST(AskYesNo, RejectsShortLongAndMissingAnswers) {
    struct Case {
        const char* input;
        const char* output;
    } cases[] = {
        {"y\n", "Invalid input specified.\n"},
        {"\n", "Invalid input specified.\n"},
        {" yes\n", "Invalid input string specified.\n"},
        {"", "Invalid input string specified.\n"},  // end of input is never a stale yes
    };
    for (const Case& c : cases) {
        ConsoleCapture console(c.input);
        EXPECT_EQ(askYesNo(), 2u) << c.input;
        EXPECT_EQ(console.text(), c.output) << c.input;
    }
    // An answer far longer than the buffer is consumed whole and refused.
    ConsoleCapture console(std::string(1000, 'y') + "\nyes\n");
    EXPECT_EQ(askYesNo(), 2u);
    EXPECT_EQ(askYesNo(), 0u);
}

TEST(ReadNumberLine, WidthRangeAndEmptyRules) {
    uint32_t out = 99;
    {
        ConsoleCapture console("7\n007\n13\n0\n\n");
        EXPECT_EQ(readNumberLine(&out, 1, 12, 0), 0u);
        EXPECT_EQ(out, 7u);
        EXPECT_EQ(readNumberLine(&out, 1, 12, 0), 1u);  // three digits for a two-digit max
        EXPECT_EQ(readNumberLine(&out, 1, 12, 0), 1u);  // above max
        EXPECT_EQ(readNumberLine(&out, 1, 12, 0), 1u);  // below min
        EXPECT_EQ(readNumberLine(&out, 1, 12, 0), 1u);  // empty not allowed
        EXPECT_EQ(readNumberLine(&out, 1, 12, 0), 1u);  // end of input
    }
    {
        out = 42;
        ConsoleCapture console("\n+5\n 5\n");
        EXPECT_EQ(readNumberLine(&out, 0, 9, 1), 3u);
        EXPECT_EQ(out, 42u);  // untouched by an empty answer
        EXPECT_EQ(readNumberLine(&out, 0, 9, 1), 1u);
        EXPECT_EQ(readNumberLine(&out, 0, 9, 1), 1u);
    }
}

TEST(AskNumber, RetriesWithTheInvalidTextAndStopsAtEndOfInput) {
    uint32_t out = 0;
    const PromptSpec question = makePromptSpec(&out, "Index : ", "Bad index.", 1, 12, 0);
    {
        ConsoleCapture console("13\nx\n12\n");
        EXPECT_EQ(askNumber(question, 1), 0u);
        EXPECT_EQ(out, 12u);
        EXPECT_EQ(console.text(), "Index : ERROR: Bad index.\nIndex : ERROR: Bad index.\nIndex : ");
    }
    {
        ConsoleCapture console("13\n");
        EXPECT_EQ(askNumber(question, 1), 1u);
        EXPECT_EQ(console.text(), "Index : ERROR: Bad index.\nIndex : ERROR: Bad index.\n");
    }
    {
        ConsoleCapture console("13\n");
        EXPECT_EQ(askNumber(question, 0), 1u);
        EXPECT_EQ(console.text(), "Index : ");
    }
    {
        ConsoleCapture console("");
        const PromptSpec broken = makePromptSpec(&out, "x", "y", 5, 4, 0);
        EXPECT_EQ(askNumber(broken, 1), 1u);
        EXPECT_EQ(console.text(), "FATAL: Invalid user parameter information. Code error.\n");
    }
}

class WholeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quarlen-unit-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    std::string dir_;
};

TEST_F(WholeFileTest, RoundTripAndFailures) {
    const std::string path = dir_ + "/image.bin";
    const uint8_t data[5] = {1, 2, 0, 4, 5};
    {
        ConsoleCapture console;
        ASSERT_EQ(writeWholeFile(path.c_str(), data, sizeof data), 0u);
        ByteBuffer read;
        ASSERT_EQ(readWholeFile(path.c_str(), &read), 0u);
        ASSERT_EQ(read.size(), 5u);
        EXPECT_EQ(std::memcmp(read.data(), data, 5), 0);
        EXPECT_EQ(console.text(), "");
    }
    {
        std::ofstream(dir_ + "/empty");
        ConsoleCapture console;
        ByteBuffer read;
        EXPECT_EQ(readWholeFile((dir_ + "/empty").c_str(), &read), 1u);
        EXPECT_EQ(readWholeFile((dir_ + "/missing").c_str(), &read), 1u);
        EXPECT_EQ(writeWholeFile((dir_ + "/no/such/dir").c_str(), data, 1), 1u);
        EXPECT_EQ(console.text(),
                  "ERROR: File length is not sufficent, size is less than 1\n"
                  "ERROR: Failed to open the specified file, please check the path or name of "
                  "the file\n"
                  "ERROR: Unable to open the file.\n");
    }
}
