// The preloaded library seen from programs: virtual time, untouched real
// files, the emulated listing and nodes, the driver's checks and the log.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emu_core_support.h"

namespace {

using emutest::lines;
using emutest::runClient;
using emutest::runEmu;
using emutest::sgclient;

double elapsed(const CliRun& run) {
    const size_t at = run.out.find("elapsed ");
    return at == std::string::npos ? -1.0 : std::stod(run.out.substr(at + 8));
}

// The sg numbers the default topology lists, in listing order.
std::vector<std::string> listedNodes() {
    const CliRun run = runClient({"list"});
    std::vector<std::string> nodes;
    for (const auto& line : lines(run.out)) {
        if (line.rfind("entry sg", 0) == 0)
            nodes.push_back(line.substr(8));
    }
    return nodes;
}

TEST(EmuVirtualTime, SleepsReturnAtOnce) {
    for (const char* kind : {"nanosleep", "clock", "usleep", "sleep"}) {
        const CliRun run = runClient({"sleep", "60", kind});
        EXPECT_EQ(run.status, 0) << kind << run.err;
        EXPECT_EQ(run.out.substr(0, 5), "rc 0 ") << kind << run.out;
        EXPECT_GE(elapsed(run), 0.0) << kind;
        EXPECT_LT(elapsed(run), 10.0) << kind;
    }
}

TEST(EmuVirtualTime, RealTimeHonoursSleeps) {
    const CliRun run = runClient({"sleep", "1.5", "nanosleep"}, {"--real-time"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GE(elapsed(run), 1.0) << run.out;
}

TEST(EmuInterposer, LeavesRealFilesAlone) {
    const std::string dir = makeTempDir();
    std::ofstream(dir + "/data.bin", std::ios::binary) << std::string("\x01\x02hello\xff", 8);
    std::ofstream(dir + "/b.txt") << "b";
    mkdir((dir + "/sub").c_str(), 0755);
    symlink("data.bin", (dir + "/link").c_str());
    const std::vector<std::string> args{
        "files",     dir,        dir + "/data.bin", dir + "/link", dir + "/nope",
        "/dev/null", "/dev/sgx", "/dev/zero",       "/sys/class",  "/nonexistent"};
    std::vector<std::string> plain{sgclient()};
    plain.insert(plain.end(), args.begin(), args.end());
    const CliRun without = runCommand(plain, "", "");
    const CliRun with = runClient(args);
    ASSERT_EQ(without.status, 0);
    EXPECT_EQ(with.status, 0) << with.err;
    EXPECT_EQ(with.out, without.out);
    EXPECT_NE(without.out.find("data.bin read 8 01 02 68"), std::string::npos) << without.out;
    EXPECT_NE(without.out.find("/nope stat -1 errno 2"), std::string::npos);
}

TEST(EmuInterposer, ListingIsADirectoryOfTheTopologysNodes) {
    const CliRun run = runClient({"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("stat 0 dir 1"), std::string::npos) << run.out;
    const CliRun fs = runClient({"fslist"});
    ASSERT_EQ(fs.status, 0) << fs.err;
    EXPECT_NE(fs.out.find("is_directory 1"), std::string::npos) << fs.out;
    // std::filesystem (openat + fdopendir) sees the same entries in the same order.
    std::vector<std::string> a, b;
    for (const auto& line : lines(run.out)) {
        if (line.rfind("entry ", 0) == 0)
            a.push_back(line);
    }
    for (const auto& line : lines(fs.out)) {
        if (line.rfind("entry ", 0) == 0)
            b.push_back(line);
    }
    EXPECT_EQ(a, b);
    EXPECT_EQ(fs.out.find("error"), std::string::npos) << fs.out;
}

TEST(EmuInterposer, AbsentNodesDoNotExist) {
    const CliRun run = runClient({"probe", "4000"});
    EXPECT_NE(run.out.find("stat -1"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("open errno 2"), std::string::npos) << run.out;
}

TEST(EmuInterposer, EveryListedNodeAnswersLikeTheSgDriver) {
    const auto nodes = listedNodes();
    if (nodes.empty())
        GTEST_SKIP() << "the default topology lists no SCSI generic nodes";
    for (const auto& n : nodes) {
        const CliRun run = runClient({"probe", n});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("stat 0\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("chr 1 major 21 minor " + n + "\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("version 0 30536\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("scsi_id 0 type "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("close 0\n"), std::string::npos) << run.out;
    }
    const CliRun checks = runClient({"checks", nodes.front()});
    EXPECT_EQ(checks.out,
              "bad_interface -1 errno 38\n"
              "short_cdb -1 errno 90\n"
              "long_cdb -1 errno 90\n"
              "unknown_ioctl -1 errno 22\n"
              "good 0 errno 1234\n"
              "after_close -1 errno 9\n")
        << checks.err;
}

TEST(EmuInterposer, ListingKeepsTheTopologysOrderAndGaps) {
    const std::string topology = writeTempFile("disks.json",
                                               R"({"scsi": {"listing": [12, 2, 40],
                     "disks": [{"sg": 2}, {"sg": 40, "type": 5}, {"sg": 12}]}})");
    for (const char* how : {"list", "fslist"}) {
        const CliRun run = runClient({how}, {"--topology", topology});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.substr(0, run.out.find("\n", run.out.find("sg40")) + 1),
                  "entry sg12\nentry sg2\nentry sg40\n")
            << how;
    }
    const CliRun cdrom = runClient({"probe", "40"}, {"--topology", topology});
    EXPECT_NE(cdrom.out.find("minor 40\n"), std::string::npos) << cdrom.out;
    EXPECT_NE(cdrom.out.find("type 5 "), std::string::npos) << cdrom.out;
    EXPECT_NE(runClient({"probe", "3"}, {"--topology", topology}).out.find("open errno 2"),
              std::string::npos);
}

TEST(EmuInterposer, ReusedDescriptorNumbersAreNotEmulated) {
    const auto nodes = listedNodes();
    if (nodes.empty())
        GTEST_SKIP() << "the default topology lists no SCSI generic nodes";
    const CliRun run = runClient({"stale", nodes.front()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "dup2 -1 errno 25\nfclose same 1 rc -1 errno 25\n");
}

TEST(EmuInterposer, LogsOneLinePerRequest) {
    const auto nodes = listedNodes();
    if (nodes.empty())
        GTEST_SKIP() << "the default topology lists no SCSI generic nodes";
    const std::string log = makeTempDir() + "/requests.log";
    const CliRun run = runClient(
        {"cdb", nodes.front(), "from", "36", "12", "00", "00", "00", "24", "00"}, {"--log", log});
    EXPECT_EQ(run.status, 0) << run.err;
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(
        text.str().find("sg" + nodes.front() + " cdb 12 00 00 00 24 00 dir -3 len 36 -> status 0x"),
        std::string::npos)
        << text.str();
}

// The kernel's device list through fopen (libc opens it without the open
// wrappers) and lstat, as a file, a symbolic link and absent.
TEST(EmuInterposer, ProcScsiThroughStdioAndLstat) {
    const struct {
        const char* mode;
        const char* out;
    } cases[] = {
        {"file",
         "fopen 0 errno 0\nline Attached devices:\n"
         "line Host: scsi3 Channel: 00 Id: 00 Lun: 00\n"
         "line   Vendor: QUARLEN  Model: QD12 SAS HDD     Rev: Q101\n"
         "line   Type:   Direct-Access                    ANSI  SCSI revision: 06\n"
         "stat 0 errno 0 file\nlstat 0 errno 0 file\n"},
        {"link",
         "fopen 0 errno 0\nline Attached devices:\n"
         "line Host: scsi3 Channel: 00 Id: 00 Lun: 00\n"
         "line   Vendor: QUARLEN  Model: QD12 SAS HDD     Rev: Q101\n"
         "line   Type:   Direct-Access                    ANSI  SCSI revision: 06\n"
         "stat 0 errno 0 file\nlstat 0 errno 0 link\n"},
        {"missing", "fopen -1 errno 2\nstat -1 errno 2 -\nlstat -1 errno 2 -\n"},
    };
    for (const auto& c : cases) {
        const std::string topology = makeTempDir() + "/topology.json";
        std::ofstream(topology) << R"({"scsi": {"expanders": []}, "controllers": {"procScsi": ")"
                                << c.mode << R"(", "adapters": [{"node": "/dev/xol3ctl", "ioc": 3,
            "deviceId": "0x0521", "revision": 2, "phys": 1,
            "devices": [{"phy": 0, "type": "end"}]}]}})";
        const CliRun run = runClient({"procscsi"}, {"--topology", topology});
        EXPECT_EQ(run.status, 0) << c.mode << run.err;
        EXPECT_EQ(run.out, c.out) << c.mode;
    }
}

}  // namespace
