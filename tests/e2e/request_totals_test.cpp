// Request totals of one representative run of every command, counted by the
// emulator (--stats) and compared with the counts the commands promise. A
// change that adds a round trip fails here, whatever the machine's speed.
//
// Each run's totals are taken less those of `-i 1 help` on the same topology
// (discovery alone), so a row holds what the command itself sends. A row is
// "kind key=count" words: sg_io by operation code, buffer by READ/WRITE
// BUFFER and buffer ID, driver by ioctl number, xif by frame function, and
// passthrough as "xN=D": D devices got N SCSI IO frames each. Commands of
// other branches add rows to kRuns.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

struct TotalsRun {
    const char* name;
    const char* topology;  // under tests/e2e/topologies; "" for the built-in one
    std::vector<std::string> args;
    const char* input;
    size_t fileBytes;  // in.bin of that many bytes in the working directory first
    const char* expected;
};

using Totals = std::map<std::string, long long>;

Totals flatten(const nlohmann::json& stats) {
    Totals out;
    for (const char* kind : {"sg_io", "buffer", "sg_ioctl", "driver", "xif"}) {
        if (!stats.contains(kind))
            continue;
        for (const auto& [key, n] : stats[kind].items())
            out[std::string(kind) + " " + key] += n.get<long long>();
    }
    if (stats.contains("passthrough")) {
        for (const auto& [device, n] : stats["passthrough"].items())
            out["passthrough " + device] += n.get<long long>();
    }
    return out;
}

// run - base, zero entries dropped, per-device passthroughs grouped by count.
std::string difference(const Totals& run, const Totals& base) {
    Totals diff = run;
    for (const auto& [key, n] : base)
        diff[key] -= n;
    std::map<long long, int> perDevice;
    std::ostringstream text;
    for (const auto& [key, n] : diff) {
        if (n == 0)
            continue;
        if (key.rfind("passthrough ", 0) == 0) {
            ++perDevice[n];
            continue;
        }
        std::string word = key;
        for (char& c : word)
            c = c == ' ' ? '_' : c;
        text << word << "=" << n << " ";
    }
    for (const auto& [n, devices] : perDevice)
        text << "passthrough_x" << n << "=" << devices << " ";
    std::string out = text.str();
    if (!out.empty())
        out.pop_back();
    return out;
}

nlohmann::json runWithStats(const std::string& topology, const std::vector<std::string>& args,
                            const std::string& input, const std::string& dir, int* status) {
    const std::string stats = dir + "/stats.json";
    CliOptions options;
    options.emulated = true;
    options.topology = topology.empty() ? "" : expanderTopology(topology);
    options.stateDir = dir + "/state";
    options.workDir = dir;
    options.emuArgs = {"--stats", stats};
    options.args = args;
    options.input = input;
    *status = runCli(options).status;
    std::ifstream in(stats);
    return nlohmann::json::parse(in, nullptr, false);
}

// Commands of target 1 (an HBA) and 3 (a first-generation expander, 36 phys)
// and 4 (a second-generation one, 27 phys) of the built-in topology.
const TotalsRun kRuns[] = {
    {"hba show -mfg", "", {"-i", "1", "show", "-mfg"}, "", 0, "driver_0xc0484c14=2 xif_0x04=2"},
    {"hba show -temp", "", {"-i", "1", "show", "-temp"}, "", 0, "driver_0xc0484c14=2 xif_0x04=2"},
    {"hba show -fwheader",
     "",
     {"-i", "1", "show", "-fwheader"},
     "",
     0,
     "driver_0xc0484c14=1 xif_0x12=1"},
    {"hba show -rev",
     "",
     {"-i", "1", "show", "-rev"},
     "",
     0,
     "driver_0xc0484c14=9 xif_0x03=1 xif_0x04=4 xif_0x12=4"},
    {"hba scan",
     "",
     {"-i", "1", "scan"},
     "",
     0,
     "driver_0xc0184c1f=33 driver_0xc0484c14=766 xif_0x00=322 xif_0x04=444 passthrough_x6=2 "
     "passthrough_x10=31"},
    {"hba ul -img 1",
     "",
     {"-i", "1", "ul", "-img", "1", "fw.bin"},
     "",
     0,
     "driver_0xc0484c14=4 xif_0x12=4"},
    {"hba erase", "", {"-i", "1", "erase", "-s", "-boot"}, "", 0, "driver_0xc0484c14=1 xif_0x17=1"},
    {"expander show",
     "",
     {"-i", "3", "show"},
     "",
     0,
     "buffer_0x3b_0xc2=5 buffer_0x3c_0xc2=7 buffer_0x3c_0xe6=8 sg_io_0x3b=5 sg_io_0x3c=15"},
    {"expander phy -da",
     "",
     {"-i", "3", "phy", "-da"},
     "",
     0,
     "buffer_0x3c_0xc2=145 sg_io_0x3c=145"},
    {"expander phy -err",
     "",
     {"-i", "3", "phy", "-err"},
     "",
     0,
     "buffer_0x3c_0xc2=37 sg_io_0x3c=37"},
    {"expander phy -edfb",
     "",
     {"-i", "3", "phy", "-edfb"},
     "",
     0,
     "buffer_0x3c_0xc2=179 buffer_0x3c_0xe6=2 sg_io_0x3c=181"},
    {"expander phy -speed",
     "",
     {"-i", "3", "phy", "-speed"},
     "",
     0,
     "buffer_0x3c_0xc2=181 sg_io_0x3c=181"},
    {"expander phy -speed gen2",
     "",
     {"-i", "4", "phy", "-speed"},
     "",
     0,
     "buffer_0x3c_0xc2=109 sg_io_0x3c=109"},
    {"expander reset -pla",
     "",
     {"-i", "3", "reset", "-pla"},
     "",
     0,
     "buffer_0x3b_0xc2=36 buffer_0x3c_0xc2=37 sg_io_0x3b=36 sg_io_0x3c=37"},
    {"expander reset -perrall",
     "",
     {"-i", "3", "reset", "-perrall"},
     "",
     0,
     "buffer_0x3b_0xc2=36 buffer_0x3c_0xc2=1 sg_io_0x3b=36 sg_io_0x3c=1"},
    {"expander reset -pl 2-4",
     "",
     {"-i", "3", "reset", "-pl", "2-4"},
     "",
     0,
     "buffer_0x3b_0xc2=3 buffer_0x3c_0xc2=6 sg_io_0x3b=3 sg_io_0x3c=6"},
    {"expander scan",
     "",
     {"-i", "3", "scan"},
     "",
     0,
     "driver_0xc0184c1f=33 driver_0xc0484c14=760 xif_0x00=322 xif_0x04=438 passthrough_x6=2 "
     "passthrough_x10=31"},
    {"expander encl", "", {"-i", "3", "encl"}, "", 0, "driver_0xc0484c14=9 xif_0x04=9"},
    {"expander trace", "", {"-i", "3", "trace"}, "", 0, "buffer_0x3c_0xe7=2 sg_io_0x3c=2"},
    {"expander healthlogs",
     "",
     {"-i", "3", "healthlogs"},
     "",
     0,
     "buffer_0x3c_0xe5=2 sg_io_0x3c=2"},
    {"expander cfg",
     "",
     {"-i", "3", "cfg", "-n", "0xFE00"},
     "",
     0,
     "buffer_0x3c_0xe6=3 sg_io_0x3c=3"},
    {"expander sasaddr", "", {"-i", "3", "sasaddr"}, "", 0, "buffer_0x3c_0xe6=2 sg_io_0x3c=2"},
    {"expander route",
     "",
     {"-i", "4", "route"},
     "",
     0,
     "buffer_0x3b_0xc2=4096 buffer_0x3c_0xc2=2049 sg_io_0x3b=4096 sg_io_0x3c=2049"},
    {"expander ul",
     "",
     {"-i", "3", "ul", "-fw", "out.bin"},
     "",
     0,
     "buffer_0x3c_0x00=3 sg_io_0x3c=3"},
    {"expander dl -buffer",
     "",
     {"-i", "3", "dl", "-buffer", "in.bin", "0x82", "-s"},
     "",
     300000,
     "buffer_0x3b_0x82=2 sg_io_0x3b=2"},
    {"expander erase",
     "",
     {"-i", "3", "erase", "-s", "-logs"},
     "",
     0,
     "buffer_0x3b_0x86=1 buffer_0x3b_0x87=1 buffer_0x3c_0x86=1 buffer_0x3c_0x87=1 sg_io_0x3b=2 "
     "sg_io_0x3c=2"},
};

// Discovery's own totals, once per topology.
const Totals& baseline(const std::string& topology) {
    static std::map<std::string, Totals> baselines;
    auto found = baselines.find(topology);
    if (found == baselines.end()) {
        int status = 0;
        const nlohmann::json help =
            runWithStats(topology, {"-i", "1", "help"}, "", makeTempDir(), &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(help.value("processes", 0), 1);
        found = baselines.emplace(topology, flatten(help)).first;
    }
    return found->second;
}

class RequestTotals : public ::testing::TestWithParam<TotalsRun> {};

TEST_P(RequestTotals, MatchWhatTheCommandPromises) {
    if (!emulatorBuilt())
        GTEST_SKIP() << "quarlen-emu not built";
    const TotalsRun& row = GetParam();
    const Totals& base = baseline(row.topology);
    const std::string dir = makeTempDir();
    if (row.fileBytes > 0)
        std::ofstream(dir + "/in.bin", std::ios::binary) << std::string(row.fileBytes, '\x5a');
    int status = 0;
    const nlohmann::json run = runWithStats(row.topology, row.args, row.input, dir, &status);
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(run.is_object());
    EXPECT_EQ(difference(flatten(run), base), row.expected);
}

std::string rowName(const ::testing::TestParamInfo<TotalsRun>& info) {
    std::string name;
    for (const char* c = info.param.name; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Commands, RequestTotals, ::testing::ValuesIn(kRuns), rowName);

}  // namespace
