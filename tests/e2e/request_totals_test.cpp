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

#include "controller/ctl_images.h"
#include "controller/ctl_setup.h"
#include "expander_e2e_util.h"
#include "harness.h"
#include "images/images.h"
#include "topology/loader.h"

namespace {

struct TotalsRun {
    const char* name;
    const char* topology;  // under tests/e2e/topologies; "" for the built-in one
    std::vector<std::string> args;
    const char* input;
    std::vector<uint8_t> (*inFile)();  // written to in.bin in the working directory first
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

// Files for in.bin. HBA images are what target 1 of the built-in topology
// holds in flash, so that they pass its compatibility checks.
std::vector<uint8_t> bufferImage() {
    return std::vector<uint8_t>(300000, 0x5a);
}

qemu::ctl::ControllerSetup builtInHba() {
    nlohmann::json topology;
    std::string error;
    EXPECT_TRUE(qemu::defaultTopology(&topology, &error)) << error;
    const std::vector<qemu::ctl::ControllerSetup> setups = qemu::ctl::parseControllers(topology);
    return setups.empty() ? qemu::ctl::ControllerSetup{} : setups[0];
}

std::vector<uint8_t> hbaFirmware() {
    const qemu::ctl::Bytes image = qemu::ctl::buildFirmwareImage(builtInHba());
    return std::vector<uint8_t>(image.begin(), image.end());
}

std::vector<uint8_t> hbaBios() {
    const qemu::ctl::Bytes image = qemu::ctl::buildBootImage(builtInHba());
    return std::vector<uint8_t>(image.begin(), image.end());
}

// 0x50000 bytes: two chunks of 0x40000 each way.
std::vector<uint8_t> expanderFirmware() {
    qemu::images::FirmwareImageOptions options;
    options.length = 0x50000;
    return qemu::images::buildFirmwareImage(options);
}

std::vector<uint8_t> expanderManufacturing() {
    qemu::images::PageImageOptions options;
    options.records.push_back({qemu::images::sasAddressPage(0xFE00, 0x53C2A1F000001000ull),
                               qemu::images::kRecordActive, false});
    return qemu::images::buildPageImage(options);
}

// Commands of target 1 (an HBA) and 3 (a first-generation expander, 36 phys)
// and 4 (a second-generation one, 27 phys) of the built-in topology.
const TotalsRun kRuns[] = {
    {"hba show -mfg",
     "",
     {"-i", "1", "show", "-mfg"},
     "",
     nullptr,
     "driver_0xc0484c14=2 xif_0x04=2"},
    {"hba show -temp",
     "",
     {"-i", "1", "show", "-temp"},
     "",
     nullptr,
     "driver_0xc0484c14=2 xif_0x04=2"},
    {"hba show -fwheader",
     "",
     {"-i", "1", "show", "-fwheader"},
     "",
     nullptr,
     "driver_0xc0484c14=1 xif_0x12=1"},
    {"hba show -rev",
     "",
     {"-i", "1", "show", "-rev"},
     "",
     nullptr,
     "driver_0xc0484c14=9 xif_0x03=1 xif_0x04=4 xif_0x12=4"},
    {"hba scan",
     "",
     {"-i", "1", "scan"},
     "",
     nullptr,
     "driver_0xc0184c1f=33 driver_0xc0484c14=766 xif_0x00=322 xif_0x04=444 passthrough_x6=2 "
     "passthrough_x10=31"},
    {"hba ul -img 1",
     "",
     {"-i", "1", "ul", "-img", "1", "fw.bin"},
     "",
     nullptr,
     "driver_0xc0484c14=4 xif_0x12=4"},
    {"hba erase",
     "",
     {"-i", "1", "erase", "-s", "-boot"},
     "",
     nullptr,
     "driver_0xc0484c14=1 xif_0x17=1"},
    // An enabled phy: read 3, write 2, read back 3.
    {"hba phy -off",
     "",
     {"-i", "1", "phy", "-off", "1"},
     "",
     nullptr,
     "driver_0xc0484c14=8 xif_0x04=8"},
    {"hba reset -pl",
     "",
     {"-i", "1", "reset", "-pl", "2-5"},
     "",
     nullptr,
     "driver_0xc0484c14=4 xif_0x1b=4"},
    // Handle c is a SAS drive: its device page (header, read), then the slot
    // status read and write.
    {"hba locate -on",
     "",
     {"-i", "1", "locate", "-on", "c"},
     "",
     nullptr,
     "driver_0xc0484c14=4 xif_0x04=2 xif_0x18=2"},
    {"hba cli",
     "",
     {"-i", "1", "cli", "iop", "show", "ver"},
     "",
     nullptr,
     "driver_0xc0484c14=1 xif_0x17=1"},
    {"hba logs", "", {"-i", "1", "logs"}, "", nullptr, "driver_0xc0484c14=3 xif_0x04=3"},
    {"hba cfg",
     "",
     {"-i", "1", "cfg", "-t", "1", "-n", "1"},
     "",
     nullptr,
     "driver_0xc0484c14=3 xif_0x04=3"},
    {"hba ioc -diserr",
     "",
     {"-i", "1", "ioc", "-diserr"},
     "",
     nullptr,
     "driver_0xc0484c14=3 xif_0x04=3"},
    // Register, then query.
    {"hba db -register",
     "",
     {"-i", "1", "db", "-register", "-trace"},
     "",
     nullptr,
     "driver_0xc0784c1a=1 driver_0xc07c4c1d=1"},
    // 70000 bytes in flash and in the file: 1 + 3 uploads of region 1, one
    // download, 1 + 3 uploads of region 5, a hard reset and IOC Facts.
    {"hba dl -fw",
     "",
     {"-i", "1", "dl", "-s", "-fw", "in.bin"},
     "",
     hbaFirmware,
     "driver_0xc00c4c18=1 driver_0xc0484c14=10 xif_0x03=1 xif_0x09=1 xif_0x12=8"},
    // 21504 bytes in flash and merged: 1 + 1 uploads, a download, 1 + 1 uploads.
    {"hba dl -bios",
     "",
     {"-i", "1", "dl", "-s", "-bios", "in.bin"},
     "",
     hbaBios,
     "driver_0xc0484c14=5 xif_0x09=1 xif_0x12=4"},
    {"expander show",
     "",
     {"-i", "3", "show"},
     "",
     nullptr,
     "buffer_0x3b_0xc2=5 buffer_0x3c_0xc2=7 buffer_0x3c_0xe6=8 sg_io_0x3b=5 sg_io_0x3c=15"},
    {"expander phy -da",
     "",
     {"-i", "3", "phy", "-da"},
     "",
     nullptr,
     "buffer_0x3c_0xc2=145 sg_io_0x3c=145"},
    {"expander phy -err",
     "",
     {"-i", "3", "phy", "-err"},
     "",
     nullptr,
     "buffer_0x3c_0xc2=37 sg_io_0x3c=37"},
    {"expander phy -edfb",
     "",
     {"-i", "3", "phy", "-edfb"},
     "",
     nullptr,
     "buffer_0x3c_0xc2=179 buffer_0x3c_0xe6=2 sg_io_0x3c=181"},
    {"expander phy -speed",
     "",
     {"-i", "3", "phy", "-speed"},
     "",
     nullptr,
     "buffer_0x3c_0xc2=181 sg_io_0x3c=181"},
    {"expander phy -speed gen2",
     "",
     {"-i", "4", "phy", "-speed"},
     "",
     nullptr,
     "buffer_0x3c_0xc2=109 sg_io_0x3c=109"},
    {"expander reset -pla",
     "",
     {"-i", "3", "reset", "-pla"},
     "",
     nullptr,
     "buffer_0x3b_0xc2=36 buffer_0x3c_0xc2=37 sg_io_0x3b=36 sg_io_0x3c=37"},
    {"expander reset -perrall",
     "",
     {"-i", "3", "reset", "-perrall"},
     "",
     nullptr,
     "buffer_0x3b_0xc2=36 buffer_0x3c_0xc2=1 sg_io_0x3b=36 sg_io_0x3c=1"},
    {"expander reset -pl 2-4",
     "",
     {"-i", "3", "reset", "-pl", "2-4"},
     "",
     nullptr,
     "buffer_0x3b_0xc2=3 buffer_0x3c_0xc2=6 sg_io_0x3b=3 sg_io_0x3c=6"},
    {"expander scan",
     "",
     {"-i", "3", "scan"},
     "",
     nullptr,
     "driver_0xc0184c1f=33 driver_0xc0484c14=760 xif_0x00=322 xif_0x04=438 passthrough_x6=2 "
     "passthrough_x10=31"},
    {"expander encl", "", {"-i", "3", "encl"}, "", nullptr, "driver_0xc0484c14=9 xif_0x04=9"},
    {"expander trace", "", {"-i", "3", "trace"}, "", nullptr, "buffer_0x3c_0xe7=2 sg_io_0x3c=2"},
    {"expander healthlogs",
     "",
     {"-i", "3", "healthlogs"},
     "",
     nullptr,
     "buffer_0x3c_0xe5=2 sg_io_0x3c=2"},
    {"expander cfg",
     "",
     {"-i", "3", "cfg", "-n", "0xFE00"},
     "",
     nullptr,
     "buffer_0x3c_0xe6=3 sg_io_0x3c=3"},
    {"expander sasaddr",
     "",
     {"-i", "3", "sasaddr"},
     "",
     nullptr,
     "buffer_0x3c_0xe6=2 sg_io_0x3c=2"},
    {"expander route",
     "",
     {"-i", "4", "route"},
     "",
     nullptr,
     "buffer_0x3b_0xc2=4096 buffer_0x3c_0xc2=2049 sg_io_0x3b=4096 sg_io_0x3c=2049"},
    {"expander ul",
     "",
     {"-i", "3", "ul", "-fw", "out.bin"},
     "",
     nullptr,
     "buffer_0x3c_0x00=3 sg_io_0x3c=3"},
    {"expander dl -buffer",
     "",
     {"-i", "3", "dl", "-buffer", "in.bin", "0x82", "-s"},
     "",
     bufferImage,
     "buffer_0x3b_0x82=2 sg_io_0x3b=2"},
    {"expander erase",
     "",
     {"-i", "3", "erase", "-s", "-logs"},
     "",
     nullptr,
     "buffer_0x3b_0x86=1 buffer_0x3b_0x87=1 buffer_0x3c_0x86=1 buffer_0x3c_0x87=1 sg_io_0x3b=2 "
     "sg_io_0x3c=2"},
    // Two WRITE BUFFER chunks; the reset (away 5 s) and three rescans, 2 s
    // apart, the last finding it again (its first read meets the reset's unit
    // attention and is retried); post validation reads the descriptor, the
    // header and two chunks.
    {"expander dl -fw",
     "",
     {"-i", "3", "dl", "-fw", "in.bin", "-s"},
     "",
     expanderFirmware,
     "buffer_0x3b_0x00=2 buffer_0x3b_0xe9=1 buffer_0x3c_0x00=8 buffer_0x3c_0xc2=10 sg_io_0x3b=3 "
     "sg_io_0x3c=18 sg_ioctl_0x2276=7"},
    // One WRITE BUFFER, then the same reset and rescans.
    {"expander dl -mfg",
     "",
     {"-i", "3", "dl", "-mfg", "in.bin", "-s"},
     "",
     expanderManufacturing,
     "buffer_0x3b_0x83=1 buffer_0x3b_0xe9=1 buffer_0x3c_0x00=4 buffer_0x3c_0xc2=10 sg_io_0x3b=2 "
     "sg_io_0x3c=14 sg_ioctl_0x2276=7"},
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
    if (row.inFile != nullptr) {
        const std::vector<uint8_t> bytes = row.inFile();
        std::ofstream(dir + "/in.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
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
