// The launcher: options, topology checks before anything runs, the state
// directory, and the environment handed to the program.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "emu_core_support.h"

namespace {

using emutest::runEmu;
using emutest::sgclient;

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

TEST(EmuLauncher, UsageErrorsExitTwoBeforeRunning) {
    const std::string state = makeTempDir();
    CliRun run = runCommand({emuPath(), "--state", state}, "", "");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("no command given"), std::string::npos) << run.err;

    run = runEmu({"--state", state, "--bogus"}, {sgclient(), "env", "HOME"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");

    run = runCommand({emuPath(), "--help"}, "", "");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--topology"), std::string::npos);
    EXPECT_NE(run.out.find("--real-time"), std::string::npos);
    // One usage line, naming where the command goes.
    const std::string usage = "Usage: quarlen-emu [OPTIONS] -- COMMAND [ARGS...]\n";
    EXPECT_NE(run.out.find(usage), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Usage:"), run.out.rfind("Usage:")) << run.out;

    // The version is the launcher's own, not a command to run.
    for (const char* flag : {"--version", "-V"}) {
        run = runCommand({emuPath(), flag}, "", "");
        EXPECT_EQ(run.status, 0) << flag;
        EXPECT_EQ(run.out, "quarlen-emu 16.2.0.0\n") << flag;
    }
}

TEST(EmuLauncher, BadTopologyIsRejectedWithItsName) {
    const std::string state = makeTempDir();
    struct Case {
        std::string contents;
        std::string expected;
    };
    const Case cases[] = {
        {"{\"scsi\": {", "parse error"},
        {"[1, 2, 3]", "JSON object"},
        {"{\"scsi\": {}, \"controlers\": {}}", "unknown topology member \"controlers\""},
        {"{\"scsi\": 7}", "\"scsi\" must be an object"},
    };
    for (const auto& c : cases) {
        const std::string file = writeTempFile("topology.json", c.contents);
        const CliRun run =
            runEmu({"--topology", file, "--state", state}, {sgclient(), "env", "HOME"});
        EXPECT_EQ(run.status, 2) << c.contents;
        EXPECT_EQ(run.out, "") << "the command must not run";
        EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    }
    const CliRun missing =
        runEmu({"--topology", "/nonexistent/t.json", "--state", state}, {"/bin/true"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("/nonexistent/t.json"), std::string::npos);
}

// The emulator's own input is hostile too: each refusal is a clear message
// naming the file and exit status 2, before anything runs.
TEST(EmuLauncher, RefusesTopologiesItCannotHoldSafely) {
    const std::string state = makeTempDir();
    const auto refused = [&](const std::string& file, const std::string& expected) {
        const CliRun run =
            runEmu({"--topology", file, "--state", state}, {sgclient(), "env", "HOME"});
        EXPECT_EQ(run.status, 2) << expected;
        EXPECT_EQ(run.out, "") << "the command must not run";
        EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    };

    // Files that are not regular ones: nothing is read from them (a FIFO
    // would block, /dev/zero would grow without bound).
    const std::string dir = makeTempDir();
    refused(dir, "not a regular file");
    refused("/dev/zero", "not a regular file");
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    refused(fifo, "not a regular file");
    const std::string huge = dir + "/huge.json";
    { std::ofstream out(huge); }
    ASSERT_EQ(truncate(huge.c_str(), (16 << 20) + 1), 0);
    refused(huge, "larger than 16777216 bytes");

    // Deep nesting is refused before parsing; 64 levels still parse.
    refused(writeTempFile("deep.json", "{\"scsi\": {}, \"faults\": " + std::string(100000, '[') +
                                           std::string(100000, ']') + "}"),
            "nested more than 64 levels deep");
    const std::string nested = "{\"faults\": " + std::string(63, '[') + std::string(63, ']') + "}";
    EXPECT_EQ(
        runEmu({"--topology", writeTempFile("ok.json", nested), "--state", state}, {"/bin/true"})
            .status,
        0);

    // Numbers are range-checked before they are narrowed, texts must fit
    // their page's 16-bit length, and dates must exist.
    const auto expander = [](const std::string& members) {
        return "{\"scsi\": {\"expanders\": [{\"sg\": 3, \"family\": 2, \"sasAddress\": "
               "\"0x53C2A1F000ABCDEF\", " +
               members + "}]}}";
    };
    const auto dated = [&](const std::string& date) {
        return expander("\"manufacturing\": {\"date\": \"" + date + "\"}");
    };
    struct Case {
        std::string topology;
        std::string expected;
    };
    const Case cases[] = {
        {expander("\"regions\": {\"0x81\": {\"capacity\": 8589934592}}"),
         "region capacity above 0xFFFFFF"},
        {expander("\"regions\": {\"0x81\": {\"capacity\": 16777216}}"),
         "region capacity above 0xFFFFFF"},
        {expander("\"trace\": {\"capacity\": \"0x100000000\"}"), "trace capacity above 0xFFFFFF"},
        {expander("\"healthLog\": {\"capacity\": -1}"), "must not be negative"},
        {expander("\"firmwareVersion\": \"0x100000000\""), "firmwareVersion above 0xFFFFFFFF"},
        {expander("\"manufacturing\": {\"platformName\": \"" + std::string(70000, 'P') + "\"}"),
         "platformName of 70000 characters does not fit"},
        {dated("2026-13-01 10:00"), "does not exist"},
        {dated("2026-01-01 99:00"), "does not exist"},
        {dated("2026-01-01 10:60"), "does not exist"},
        {dated("2023-02-29 10:00"), "does not exist"},
        {dated("2026-04-31 10:00"), "does not exist"},
        {dated("2026-00-10 10:00"), "does not exist"},
        {dated("2026-1-5 9:07"), "must read YYYY-MM-DD HH:MM"},
        {dated("2026-01-05 09:07 and more"), "must read YYYY-MM-DD HH:MM"},
        {"{\"controllers\": {\"adapters\": [{\"deviceId\": \"0x10630\"}]}}",
         "deviceId is out of range"},
        {"{\"controllers\": {\"adapters\": [{\"phys\": 8589934600}]}}", "phys is out of range"},
    };
    for (const Case& c : cases)
        refused(writeTempFile("topology.json", c.topology), c.expected);

    // A leap day and the longest page text that fits are accepted.
    for (const std::string& ok :
         {dated("2024-02-29 23:59"), expander("\"manufacturing\": {\"platformName\": \"" +
                                              std::string(0xFFFF - 34, 'P') + "\"}")}) {
        const CliRun run =
            runEmu({"--topology", writeTempFile("ok.json", ok), "--state", state}, {"/bin/true"});
        EXPECT_EQ(run.status, 0) << run.err;
    }
}

TEST(EmuLauncher, PrintsTheTopologyInEffect) {
    CliRun run = runCommand({emuPath(), "--print-topology"}, "", "");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto topology = nlohmann::json::parse(run.out);
    EXPECT_TRUE(topology["scsi"].is_object());
    EXPECT_TRUE(topology["controllers"].is_object());

    const std::string file = writeTempFile("t.json", "{\"scsi\": {}, \"description\": \"empty\"}");
    run = runCommand({emuPath(), "--topology", file, "--print-topology"}, "", "");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["description"], "empty");
}

TEST(EmuLauncher, PassesSettingsThroughTheEnvironment) {
    const std::string work = makeTempDir();
    std::ofstream(work + "/mine.json") << "{}";
    const std::vector<std::string> options{"--topology",  "mine.json", "--state", "st",
                                           "--real-time", "--log",     "req.log"};
    auto value = [&](const std::vector<std::string>& opts, const std::string& name) {
        const CliRun run = runEmu(opts, {sgclient(), "env", name}, {}, work);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    };
    EXPECT_EQ(value(options, "QUARLEN_EMU_TOPOLOGY"), work + "/mine.json\n");
    EXPECT_EQ(value(options, "QUARLEN_EMU_STATE"), work + "/st\n");
    EXPECT_EQ(value(options, "QUARLEN_EMU_REALTIME"), "1\n");
    EXPECT_EQ(value(options, "QUARLEN_EMU_LOG"), work + "/req.log\n");
    EXPECT_TRUE(exists(work + "/st"));

    // Defaults: built-in topology, virtual time, no log, even when the
    // caller's environment says otherwise.
    const std::vector<std::string> env{"QUARLEN_EMU_TOPOLOGY=/x", "QUARLEN_EMU_REALTIME=1",
                                       "QUARLEN_EMU_LOG=/y"};
    for (const char* name : {"QUARLEN_EMU_TOPOLOGY", "QUARLEN_EMU_REALTIME", "QUARLEN_EMU_LOG"}) {
        const CliRun run = runEmu({"--state", work + "/st"}, {sgclient(), "env", name}, env);
        EXPECT_EQ(run.out, "(unset)\n") << name;
    }
}

TEST(EmuLauncher, DefaultStateDirectory) {
    const std::string home = makeTempDir();
    CliRun run = runEmu({}, {sgclient(), "env", "QUARLEN_EMU_STATE"},
                        {"-u", "XDG_STATE_HOME", "HOME=" + home});
    EXPECT_EQ(run.out, home + "/.local/state/quarlen-emu\n") << run.err;
    EXPECT_TRUE(exists(home + "/.local/state/quarlen-emu"));

    const std::string xdg = makeTempDir();
    run = runEmu({}, {sgclient(), "env", "QUARLEN_EMU_STATE"},
                 {"XDG_STATE_HOME=" + xdg, "HOME=" + home});
    EXPECT_EQ(run.out, xdg + "/quarlen-emu\n") << run.err;
}

TEST(EmuLauncher, KeepsTheCallersPreloadFirst) {
    const std::string state = makeTempDir();
    const std::string marker = emutest::markerLibrary();
    // The sanitizer build's launcher is instrumented itself and starts with
    // the marker preloaded only when told not to check the library order.
    const std::vector<std::string> env{"LD_PRELOAD=" + marker,
                                       "ASAN_OPTIONS=verify_asan_link_order=0"};
    CliRun run = runEmu({"--state", state}, {sgclient(), "env", "LD_PRELOAD"}, env);
    EXPECT_EQ(run.out, marker + ":" + emutest::libraryPath() + "\n");

    // Both libraries act, the caller's first: the marker sees sleep(), then
    // the emulator turns the 30 s into virtual time.
    run = runEmu({"--state", state}, {sgclient(), "sleep", "30", "sleep"}, env);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("marker saw sleep"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.substr(0, 5), "rc 0 ");
    EXPECT_LT(std::stod(run.out.substr(run.out.find("elapsed") + 8)), 10.0);

    // Nested launchers do not preload the library twice.
    run = runEmu({"--state", state},
                 {emuPath(), "--state", state, "--", sgclient(), "env", "LD_PRELOAD"},
                 {"-u", "LD_PRELOAD"});
    EXPECT_EQ(run.out, emutest::libraryPath() + "\n");
}

TEST(EmuLauncher, AsanOptionsAllowTheLateRuntime) {
    const std::string state = makeTempDir();
    // printenv is not instrumented, so it starts even when the order is checked.
    auto asan = [&](const std::vector<std::string>& env) {
        return runEmu({"--state", state}, {"printenv", "ASAN_OPTIONS"}, env).out;
    };
    EXPECT_EQ(asan({"-u", "ASAN_OPTIONS"}), "verify_asan_link_order=0\n");
    EXPECT_EQ(asan({"ASAN_OPTIONS=detect_leaks=0"}), "detect_leaks=0:verify_asan_link_order=0\n");
    EXPECT_EQ(asan({"ASAN_OPTIONS=verify_asan_link_order=1"}), "verify_asan_link_order=1\n");
}

TEST(EmuLauncher, FreshDiscardsOnlySavedState) {
    const std::string state = makeTempDir();
    std::ofstream(state + "/exp-1-region-80.state") << "saved";
    std::ofstream(state + "/mine.txt") << "not ours";
    CliRun run = runEmu({"--state", state}, {"/bin/true"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(exists(state + "/exp-1-region-80.state"));
    run = runEmu({"--state", state, "--fresh"}, {"/bin/true"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(exists(state + "/exp-1-region-80.state"));
    EXPECT_TRUE(exists(state + "/mine.txt"));
}

TEST(EmuLauncher, ReportsCommandAndSetupFailures) {
    const std::string state = makeTempDir();
    CliRun run = runEmu({"--state", state}, {"/nonexistent/program"});
    EXPECT_EQ(run.status, 127);
    EXPECT_NE(run.err.find("/nonexistent/program"), std::string::npos);

    run = runEmu({"--state", state, "--log", "/nonexistent/dir/log"}, {"/bin/true"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("/nonexistent/dir/log"), std::string::npos);

    const std::string file = writeTempFile("not-a-dir", "x");
    run = runEmu({"--state", file}, {"/bin/true"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("state directory"), std::string::npos) << run.err;

    // The command's own exit status comes back unchanged; PATH is searched.
    run = runEmu({"--state", state}, {"sh", "-c", "exit 7"});
    EXPECT_EQ(run.status, 7);
}

}  // namespace
