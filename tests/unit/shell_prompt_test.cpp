#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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

TEST_F(WholeFileTest, WriterReplacesAtomically) {
    const std::string path = dir_ + "/upload.bin";
    const std::string victim = dir_ + "/victim";
    const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    auto contents = [](const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto temporaries = [this] {
        size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            n += e.path().filename().string()[0] == '.' ? 1 : 0;
        return n;
    };
    ConsoleCapture console;
    // An existing file is replaced whole, keeping its permissions.
    std::ofstream(path) << "a much longer old content";
    chmod(path.c_str(), 0640);
    ASSERT_EQ(writeWholeFile(path.c_str(), data, sizeof data), 0u);
    EXPECT_EQ(contents(path), std::string("\xDE\xAD\xBE\xEF"));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // A symlink at the path is replaced by the file; its target is untouched.
    std::ofstream(victim) << "precious";
    const std::string link = dir_ + "/link.bin";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(writeWholeFile(link.c_str(), data, sizeof data), 0u);
    EXPECT_EQ(contents(victim), "precious");
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    // A write that fails half-way (file size limit) leaves the old file and
    // no temporary behind.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 2;
    setrlimit(RLIMIT_FSIZE, &small);
    const uint32_t failed = writeWholeFile(path.c_str(), data, sizeof data);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(contents(path), std::string("\xDE\xAD\xBE\xEF"));
    EXPECT_EQ(temporaries(), 0u);
    // A device node is written in place, never replaced.
    ASSERT_EQ(writeWholeFile("/dev/null", data, sizeof data), 0u);
    ASSERT_EQ(lstat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(console.text(), "ERROR: Unable to write the contents\n");
}

TEST_F(WholeFileTest, ReaderTakesOnlyRegularFiles) {
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ConsoleCapture console;
    ByteBuffer read;
    // A FIFO without a writer must not block; a directory and a device are no image.
    for (const std::string& p : {fifo, dir_, std::string("/dev/zero")})
        EXPECT_EQ(readWholeFile(p.c_str(), &read), 1u) << p;
    EXPECT_TRUE(read.empty());
    const std::string open =
        "ERROR: Failed to open the specified file, please check the path or name of the file\n";
    EXPECT_EQ(console.text(), open + open + open);
}
