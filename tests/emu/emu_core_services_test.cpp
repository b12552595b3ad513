// The emulator's services to the models: virtual clock, state store, log.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "services.h"

namespace {

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr)
        return names;
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(EmuVirtualClock, MovesOnlyWhenAdvanced) {
    qemu::VirtualClock clock;
    const uint64_t start = clock.nowNs();
    EXPECT_EQ(start, qemu::VirtualClock::kVirtualEpochNs);
    EXPECT_EQ(clock.nowNs(), start);
    clock.advance(2500000000ull);
    EXPECT_EQ(clock.nowNs(), start + 2500000000ull);
}

TEST(EmuVirtualClock, RealTimeFollowsTheMonotonicClock) {
    qemu::VirtualClock clock;
    clock.setRealTime(true);
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t real = static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + ts.tv_nsec;
    const uint64_t now = clock.nowNs();
    EXPECT_GE(now, real);
    EXPECT_LT(now - real, 5000000000ull);
}

TEST(EmuStateStore, KeysBecomeDistinctSafeFileNames) {
    EXPECT_EQ(qemu::stateFileName("exp-53c2a1f000001000-region-80"),
              "exp-53c2a1f000001000-region-80.state");
    EXPECT_EQ(qemu::stateFileName("a/b"), "a%2Fb.state");
    EXPECT_NE(qemu::stateFileName("a/b"), qemu::stateFileName("a_b"));
    EXPECT_EQ(qemu::stateFileName("..").substr(0, 3), "%2E");
    EXPECT_EQ(qemu::stateFileName("x.y"), "x.y.state");
    EXPECT_EQ(qemu::stateFileName(""), "");
    EXPECT_EQ(qemu::stateFileName(std::string(300, 'k')), "");
}

TEST(EmuStateStore, SavesAndLoadsAcrossInstances) {
    const std::string dir = makeTempDir() + "/nested/state";
    qemu::VirtualClock clock;
    {
        qemu::FileServices services(dir, "", clock);
        std::vector<uint8_t> bytes;
        EXPECT_FALSE(services.loadState("region-80", &bytes));
        ASSERT_TRUE(services.saveState("region-80", {1, 2, 3, 0, 255}));
        ASSERT_TRUE(services.saveState("odd key/with:chars", {}));
        ASSERT_TRUE(services.saveState("region-80", {9, 8, 7}));  // replaces
    }
    qemu::FileServices again(dir, "", clock);
    std::vector<uint8_t> bytes{42};
    ASSERT_TRUE(again.loadState("region-80", &bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{9, 8, 7}));
    ASSERT_TRUE(again.loadState("odd key/with:chars", &bytes));
    EXPECT_TRUE(bytes.empty());
    // No temporary files are left behind.
    EXPECT_EQ(listDir(dir),
              (std::vector<std::string>{"odd%20key%2Fwith%3Achars.state", "region-80.state"}));
}

TEST(EmuStateStore, LargeStateRoundTrips) {
    const std::string dir = makeTempDir();
    qemu::VirtualClock clock;
    qemu::FileServices services(dir, "", clock);
    std::vector<uint8_t> big(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 31 + (i >> 12));
    ASSERT_TRUE(services.saveState("flash", big));
    std::vector<uint8_t> back;
    ASSERT_TRUE(services.loadState("flash", &back));
    EXPECT_EQ(back, big);
}

TEST(EmuStateStore, RefusesUnusableKeysAndDirectories) {
    qemu::VirtualClock clock;
    const std::string file = writeTempFile("plain-file", "x");
    qemu::FileServices blocked(file + "/sub", "", clock);  // parent is a file
    EXPECT_FALSE(blocked.saveState("key", {1}));
    qemu::FileServices services(makeTempDir(), "", clock);
    EXPECT_FALSE(services.saveState("", {1}));
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(services.loadState("", &bytes));
}

TEST(EmuStateStore, DiscardRemovesOnlyEmulatorFiles) {
    const std::string dir = makeTempDir();
    qemu::VirtualClock clock;
    qemu::FileServices services(dir, "", clock);
    ASSERT_TRUE(services.saveState("one", {1}));
    ASSERT_TRUE(services.saveState("two", {2}));
    std::ofstream(dir + "/notes.txt") << "keep me";
    std::ofstream(dir + "/one.state.tmp.999") << "half-written";
    std::string error;
    ASSERT_TRUE(qemu::discardState(dir, &error)) << error;
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"notes.txt"});
    EXPECT_TRUE(qemu::discardState(dir + "/missing", &error));
}

TEST(EmuLog, AppendsOneLinePerCallWithPidAndVirtualTime) {
    const std::string dir = makeTempDir();
    const std::string log = dir + "/requests.log";
    qemu::VirtualClock clock;
    clock.advance(1500000);
    qemu::FileServices services(dir, log, clock);
    services.logLine("sg7 cdb 12 00 00 00 24 00 -> status 0x00");
    services.logLine("second");
    const std::string pid = std::to_string(getpid());
    EXPECT_EQ(readFile(log), pid + " 1000.001500 sg7 cdb 12 00 00 00 24 00 -> status 0x00\n" + pid +
                                 " 1000.001500 second\n");
    qemu::FileServices silent(dir, "", clock);
    silent.logLine("nothing");  // no log configured: no file, no failure
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"requests.log"});
}

}  // namespace
