// Expander trace and healthlogs under the emulator: decoded records of every
// argument count, format strings found and not, buffers that lie about their
// lengths, empty and unreadable buffers, the health log fields and text, and
// how many requests a read takes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

struct LogsRun {
    std::string out;  // after the discovery lines
    std::string log;  // the emulator's request log
    int status = -1;
};

LogsRun runLogs(const std::string& topology, const std::string& index,
                std::vector<std::string> args) {
    const std::string dir = makeTempDir();
    CliOptions options;
    options.emulated = true;
    options.topology = expanderTopology(topology);
    options.stateDir = dir;
    options.emuArgs = {"--log", dir + "/requests.log"};
    options.args = {"-i", index};
    options.args.insert(options.args.end(), args.begin(), args.end());
    const CliRun run = runCli(options);
    LogsRun result;
    result.status = run.status;
    result.out = run.out;
    const std::string preamble = expandersOnlyPreamble();
    EXPECT_EQ(result.out.substr(0, preamble.size()), preamble);
    result.out.erase(0, preamble.size());
    std::ifstream in(dir + "/requests.log");
    std::stringstream text;
    text << in.rdbuf();
    result.log = text.str();
    return result;
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const char* const kFailed = "ERROR: ERROR CODE 02020000\n";
const char* const kEmpty = "Trace buffer is empty or not valid trace entries are available.\n";

class ExpanderLogs : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

TEST_F(ExpanderLogs, TraceDecodesEveryRecordKind) {
    const LogsRun run = runLogs("expanders-trace.json", "1", {"trace"});
    const std::string expected =
        "Total trace buffer size '2748'\n\n"
        // n = 0 found: the format as a line; n = 1..4 found: no line end added.
        "Boot\n\n"
        "One 5\n"
        "Two 7 ab\n"
        "Three 1 10 FF\n"
        "Four -1 -1 +3    42|\n"
        // The time stamp form, then a %s and a %p as expander addresses.
        "<00:01:02:03.004> Addr 0x12 0x0\n"
        // Not found: nothing for n = 0 (string 51), raw words for 1..4 and for
        // string field 0.
        "0x1\n0x1 0x2\n0x1 0x2 0x3\n0xA 0xB 0xC 0xDEADBEEF\n0x6\n"
        // A count of 5 skips one word only: the next record decodes.
        "One 99\n"
        // Module 2's only record has count 0: skipped, yet the table goes on.
        "0x3\n"
        // Module 3's strings continue in its second record.
        "Split b 2\n"
        // A record gives at most its count of strings.
        "Counted 1\n0x1\n"
        // The 33rd module's record is loaded.
        "Module 33\n" +
        // A 1100-character format is cut to 1023: its %d goes with the cut.
        std::string(1023, 'A') + "\n" +
        "Bad %n %f 42\n"
        "Two 1 %d\n"
        // Device control characters never reach the terminal.
        "Esc .[2J A.\n";
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(countOf(run.log, "cdb 3c 03 e7"), 1u);
    EXPECT_EQ(countOf(run.log, "cdb 3c 02 e7"), 1u);
}

TEST_F(ExpanderLogs, TraceBuffersThatCannotBeDecoded) {
    const struct {
        const char* index;
        std::string out;
        int status;
    } cases[] = {
        {"2",
         "ERROR: Invalid Trace header version. Only version '1' is supported.\n"
         "ERROR:   Found version '2'\n" +
             std::string(kFailed),
         1},
        // String table size beyond the buffer.
        {"3",
         "ERROR: Invalid Trace header data. String length is greater than the data size.\n" +
             std::string(kFailed),
         1},
        // Capacity 8, capacity 0 and the empty descriptor: nothing is read.
        {"4", std::string(kEmpty) + kFailed, 1},
        {"5", std::string(kEmpty) + kFailed, 1},
        {"6", std::string(kEmpty) + kFailed, 1},
        // A string record and a trace record longer than the 59-byte buffer.
        {"7",
         "Total trace buffer size '59'\n\n"
         "WARN!! Trace string record at offset 16 does not fit in the buffer.\n"
         "WARN!! Trace record at offset 52 does not fit in the buffer.\n",
         0},
        // The descriptor read fails; then a data chunk.
        {"8", std::string(kEmpty) + kFailed, 1},
        {"9", "ERROR: Unable to read the log values.\n" + std::string(kEmpty) + kFailed, 1},
        // A data chunk that stops 16 bytes early: its zero tail is no data.
        {"11", "ERROR: Unable to read the log values.\n" + std::string(kEmpty) + kFailed, 1},
    };
    for (const auto& c : cases) {
        const LogsRun run = runLogs("expanders-trace.json", c.index, {"trace"});
        EXPECT_EQ(run.out, c.out) << "expander " << c.index;
        EXPECT_EQ(run.status, c.status) << "expander " << c.index;
        if (std::string("456").find(c.index) != std::string::npos) {
            EXPECT_EQ(countOf(run.log, "cdb 3c 02 e7"), 0u) << "expander " << c.index;
        }
    }
    // Arguments are refused.
    const LogsRun extra = runLogs("expanders-trace.json", "1", {"trace", "-x"});
    EXPECT_EQ(extra.out, "ERROR: Invalid command. Command does not require any arguments.\n" +
                             std::string(kFailed));
}

TEST_F(ExpanderLogs, TraceReadsInHalfMegabyteChunks) {
    const LogsRun run = runLogs("expanders-trace.json", "10", {"trace"});
    EXPECT_EQ(run.out, "Total trace buffer size '1048577'\n\nBoot\n\n");
    EXPECT_EQ(countOf(run.log, "cdb 3c 02 e7 00 00 00 08 00 00"), 1u);
    EXPECT_EQ(countOf(run.log, "cdb 3c 02 e7 08 00 00 08 00 00"), 1u);
    EXPECT_EQ(countOf(run.log, "cdb 3c 02 e7 10 00 00 00 00 01"), 1u);
    EXPECT_EQ(countOf(run.log, "cdb 3c 02 e7"), 3u);
}

TEST_F(ExpanderLogs, HealthLogEntriesAndText) {
    const LogsRun run = runLogs("expanders-healthlogs.json", "1", {"healthlogs"});
    // One whole entry in a 100-byte buffer: the partial one is not read.
    EXPECT_EQ(run.out,
              "Timestamp           : 0x11223344 : 0x55667788 \n"
              "Log Sequence        : 0xa1b2\n"
              "Log Entry Qualifier : 0xc3d4\n"
              "Log Code            : 0x0badf00d\n"
              "Locale              : 0x1357\n"
              "Argument Type       : 0x9a\n"
              "Log Class           : 0xbc\n"
              "Log Specific Data   : 0xc3422041 AB\n"
              "                    : 0x7f7e2120 !~\n"
              "                    : 0x0a090d00 \n"
              "                    : 0x80ff3130 01\n"
              "                    : 0x00000001 \n"
              "                    : 0x00000002 \n"
              "                    : 0x00000003 \n"
              "                    : 0x00000004 \n"
              "                    : 0x00000005 \n"
              "                    : 0xffffffff \n"
              "----------------------------------------------\n");
    EXPECT_EQ(run.status, 0);
    // Zero bytes left out, high and control bytes made safe, then "\n\n".
    const LogsRun text = runLogs("expanders-healthlogs.json", "1", {"healthlogs", "-decode"});
    EXPECT_EQ(text.out, "Hi\n....A.\n\n");
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(countOf(text.log, "cdb 3c 02 ea"), 1u);
}

TEST_F(ExpanderLogs, HealthLogsEmptyUnreadableAndArguments) {
    const std::string chunk =
        "ERROR: Unable to read the health log values.\n" + std::string(kFailed);
    const struct {
        const char* index;
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        // Capacity 0 and empty descriptors print nothing and succeed.
        {"2", {"healthlogs"}, "", 0},
        {"3", {"healthlogs"}, "", 0},
        {"3", {"healthlogs", "-decode"}, "", 0},
        // A failed descriptor is silent; a failed chunk is not.
        {"4", {"healthlogs"}, kFailed, 1},
        {"4", {"healthlogs", "-decode"}, kFailed, 1},
        {"5", {"healthlogs"}, chunk, 1},
        {"5", {"healthlogs", "-decode"}, chunk, 1},
        {"1",
         {"healthlogs", "-Decode"},
         "Invalid arguments specified. Command 'healthlogs -decode' is the valid argument.\n" +
             std::string(kFailed),
         1},
        {"1",
         {"healthlogs", "-decode", "x"},
         "Invalid arguments specified.\n" + std::string(kFailed),
         1},
    };
    for (const auto& c : cases) {
        const LogsRun run = runLogs("expanders-healthlogs.json", c.index, c.args);
        EXPECT_EQ(run.out, c.out) << c.index << " " << c.args.back();
        EXPECT_EQ(run.status, c.status) << c.index << " " << c.args.back();
    }
    // 0x60001 bytes: the descriptor and two chunks.
    const LogsRun big = runLogs("expanders-healthlogs.json", "6", {"healthlogs"});
    EXPECT_EQ(big.out, "");
    EXPECT_EQ(countOf(big.log, "cdb 3c 03 e5"), 1u);
    EXPECT_EQ(countOf(big.log, "cdb 3c 02 e5"), 2u);
}

}  // namespace
