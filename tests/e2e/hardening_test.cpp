// Misbehaving devices, hostile files and a careless shell around the real
// binary: every case keeps the normal texts and statuses and ends quickly,
// with the failure visible.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

const char* const kHeader = "\n     DeviceId/RevId   WWID                  FwVersion       \n";

std::string controllerTopology(const std::string& adapters) {
    return writeTempFile(
        "topology.json",
        R"({"scsi": {"listing": [], "expanders": []}, "controllers": {"adapters": [)" + adapters +
            "]}}");
}

CliRun runOn(const std::string& topologyFile, std::vector<std::string> args,
             const std::string& input = "") {
    CliOptions options;
    options.emulated = true;
    options.topology = topologyFile;
    options.args = std::move(args);
    options.input = input;
    return runCli(options);
}

// Runs a shell command line under the default emulated host (the product is
// "$0"), with the emulator's request log written to logPath.
CliRun shellUnderEmu(const std::string& commandLine, const std::string& logPath) {
    return runCommand({emuPath(), "--state", makeTempDir(), "--log", logPath, "--", "/bin/sh", "-c",
                       commandLine, cliPath()},
                      "", "");
}

std::string readText(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

class Hardening : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

TEST_F(Hardening, BootRegionOfAnyClaimedSizeIsListed) {
    // Erased flash reports 0xFFFFFFFF bytes; the BIOS version is then unknown
    // but discovery, the table and selection go on.
    const std::string t = controllerTopology(
        R"({"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0631", "revision": 1,
            "wwid": "0x53C2A1F000080000", "firmwareVersion": "0x10000300",
            "faults": [{"kind": "uploadSize", "imageType": 2}]})");
    const CliRun r = runOn(t, {"--list"});
    EXPECT_EQ(r.out, std::string(kBanner) + kHeader +
                         "  1) QS-9400-16i      53c2a1f-0-0008-0000   16.00.03.00\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Hardening, StandardDescriptorsAreNeverGivenToDevices) {
    // Closed 0..2: console output must not land in the expander's node.
    const std::string log = makeTempDir() + "/emu.log";
    const CliRun r = shellUnderEmu("exec \"$0\" -i 3 show -rev <&- >&- 2>&-", log);
    EXPECT_EQ(r.status, 0);
    const std::string text = readText(log);
    size_t opens = 0;
    for (size_t at = text.find(" open -> "); at != std::string::npos;
         at = text.find(" open -> ", at + 1)) {
        ++opens;
        const int fd = std::atoi(text.c_str() + at + 9);
        EXPECT_GT(fd, 2) << text;
    }
    EXPECT_GT(opens, 0u);
}

TEST_F(Hardening, OutputThatCannotBeWrittenFailsTheRun) {
    const std::string log = makeTempDir() + "/emu.log";
    for (const char* args : {"-i 3 show", "--list", "-i 3 show -rev", "--help"}) {
        const CliRun r = shellUnderEmu(std::string("exec \"$0\" ") + args + " > /dev/full", log);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "") << args;
    }
    // A run that failed anyway keeps its own code (0x2020003).
    const CliRun r = shellUnderEmu("exec \"$0\" -i x > /dev/full", log);
    EXPECT_EQ(r.status, 3);
}

TEST_F(Hardening, ShortTransfersAreFailedReads) {
    // Discovery reads three registers and buffer 0; show -mfg then reads the
    // MAC page header and the page, which stops 4 bytes early: no zeros are
    // shown as an address.
    const std::string t = writeTempFile("short.json", R"({"scsi": {"expanders": [
        {"sg": 3, "family": 2, "sasAddress": "0x53C2A1F000000300", "mac": "00:1B:3F:00:10:00",
         "faults": {"shortRead": {"count": 1, "residual": 4, "skip": 4}}}]}})");
    const CliRun r = runOn(t, {"-i", "1", "show", "-mfg"});
    const std::string expected = expandersOnlyPreamble() +
                                 "ERROR: Unable to perform the IO header operation.\n"
                                 "MAC Address               :    Not Available\n"
                                 "IP Address                :    0.0.0.0\n";
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
    EXPECT_EQ(r.status, 0);
}

TEST_F(Hardening, TransientErrorsDuringDiscoveryKeepOrShowTheNumbering) {
    // sg1 is busy once (retried), sg2 cuts its chip ID short, sg3 is always
    // busy, sg4 is a chip we do not know (silent), sg5 is clean; sg6 and sg7
    // send their unit attentions in descriptor-format sense (2 retried, 3 too many).
    const std::string t = writeTempFile("numbering.json", R"({"scsi": {"expanders": [
        {"sg": 1, "family": 1, "sasAddress": "0x53C2A1F000000100", "faults": {"busy": 1}},
        {"sg": 2, "family": 2, "sasAddress": "0x53C2A1F000000200",
         "faults": {"shortRead": {"count": 1, "residual": 2}}},
        {"sg": 3, "family": 3, "sasAddress": "0x53C2A1F000000300", "faults": {"busy": -1}},
        {"sg": 4, "deviceId": "0x0C00", "sasAddress": "0x53C2A1F000000400"},
        {"sg": 5, "family": 8, "sasAddress": "0x53C2A1F000000500"},
        {"sg": 6, "family": 9, "sasAddress": "0x53C2A1F000000600",
         "faults": {"unitAttention": 2, "descriptorSense": true}},
        {"sg": 7, "family": 9, "sasAddress": "0x53C2A1F000000700",
         "faults": {"unitAttention": 3, "descriptorSense": true}}]}})");
    const CliRun r = runOn(t, {"-i", "3", "show", "-rev"});
    EXPECT_EQ(r.out, expandersOnlyPreamble() +
                         "ERROR: Unable to perform the IO header operation.\n"
                         "WARN!! Device '/dev/sg2' not added: identification failed.\n"
                         "ERROR: Read CDB Failed (Too many retries...)\n"
                         "WARN!! Device '/dev/sg3' not added: identification failed.\n"
                         "ERROR: Read CDB Failed (Too many retries...)\n"
                         "WARN!! Device '/dev/sg7' not added: identification failed.\n"
                         "Firmware Version          :    01.00.00.00\n"
                         "SAS Address               :    53c2a1f-0-0000-0600\n"
                         "Product Id                :    QX2-S36 A0\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Hardening, DeviceTextNeverReachesTheTerminalRaw) {
    const std::string t = writeTempFile("text.json", R"({"scsi": {"expanders": [
        {"sg": 3, "family": 2, "sasAddress": "0x53C2A1F000000300", "serial": "\u001b[2J",
         "ipAddress": "10.0.0.9", "dhcp": true, "managementAddress": "10.1.2.3\u001b[5m",
         "manufacturing": {"productName": "\u001b]0;pwn\u0007XY",
                           "platformName": "A\u0000B\r\nERROR: forged\u009b",
                           "date": "2026-03-09 14:05"}}]}})");
    const CliRun r = runOn(t, {"-i", "1", "show", "-mfg"});
    EXPECT_EQ(r.out, expandersOnlyPreamble() +
                         "MAC Address               :    00-00-00-00-00-00\n"
                         "IP Address                :    10.1.2.3.[5m \n"
                         "Mfg. Associated FW Rev    :    01:00:00:00\n"
                         "Mfg. Revision             :    01:00:00:00\n"
                         "Product Name              :    .]0;pwn.XY    \n"
                         "Platform Name             :AB..ERROR: forged..\n"
                         "TimeStamp                 :    03/09/26  14:05\n"
                         "Platform Serial           :    .[2J      \n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Hardening, EndlessOrBrokenInputLines) {
    const std::string log = makeTempDir() + "/emu.log";
    // Endless bytes without a line end: refused once, then the input counts as ended.
    CliRun r = shellUnderEmu("exec \"$0\" -i 3 < /dev/zero", log);
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "QX-E36 B0> ERROR: Invalid command specified. Unknown command or invalid "
                         "length of the command.\n"
                         "QX-E36 B0> \n");
    EXPECT_EQ(r.status, 0);
    // A NUL byte does not cut a line short: the line is refused whole.
    r = runOn("", {"-i", "3"}, std::string("show -rev\0; quit now\n", 21) + "quit\n");
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "QX-E36 B0> ERROR: Invalid command specified. Unknown command or invalid "
                         "length of the command.\n"
                         "QX-E36 B0> ");
    const std::string script =
        writeTempFile("nul.txt", std::string("show -rev\0 -temp\nshow -rev\n", 27));
    r = runOn("", {"-i", "3", "--batch", script});
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "ERROR: Invalid command specified. Unknown command or invalid length of "
                         "the command.\n"
                         "ERROR: ERROR CODE 02020003\n");
    EXPECT_EQ(r.status, 3);
}

TEST_F(Hardening, HugeScriptLineWithBoundedMemory) {
    if (QUARLEN_SANITIZED)
        GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
    const std::string dir = makeTempDir();
    const std::string script = dir + "/huge.txt";
    {
        FILE* f = std::fopen(script.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string block(1 << 20, 'a');
        for (int i = 0; i < 100; ++i)
            std::fwrite(block.data(), 1, block.size(), f);
        std::fputs("\nshow -rev\n", f);
        std::fclose(f);
    }
    // 100 MB of one line under an address space far below what storing it needs.
    const CliRun r =
        runCommand({"/bin/sh", "-c",
                    "ulimit -v 90000 && exec \"$0\" --state \"$1\" -- \"$2\" -i 3 --batch \"$3\"",
                    emuPath(), dir, cliPath(), script},
                   "", "");
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "ERROR: Invalid command at line no '1'. Command statement length should "
                         "not be more than 1024.\n"
                         "ERROR: Batch failed in parsing the script file.\n"
                         "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
