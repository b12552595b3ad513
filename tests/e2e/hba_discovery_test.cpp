// HBA discovery end to end under the emulator: the table with HBAs first,
// board names and the fallback name, selection across HBAs and expanders,
// and the ways discovery ends the process.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

const char* const kHeader = "\n     DeviceId/RevId   WWID                  FwVersion       \n";

// A topology of the given controllers and no SCSI devices unless given.
std::string topology(const std::string& adapters,
                     const std::string& scsi = R"({"listing": [], "expanders": []})") {
    return writeTempFile(
        "topology.json",
        "{\"scsi\": " + scsi + ", \"controllers\": {\"adapters\": [" + adapters + "]}}");
}

CliRun run(const std::string& topologyFile, std::vector<std::string> args,
           const std::string& input = "") {
    CliOptions options;
    options.emulated = true;
    options.topology = topologyFile;
    options.args = std::move(args);
    options.input = input;
    return runCli(options);
}

class HbaDiscovery : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(emuPath().c_str(), X_OK) != 0)
            GTEST_SKIP() << "quarlen-emu not built";
    }
};

TEST_F(HbaDiscovery, DefaultHostListsHbasThenExpanders) {
    const CliRun r = run("", {"--list"});
    EXPECT_EQ(r.out, std::string(kBanner) + kHeader +
                         "  1) QS-9400-8i       53c2a1f-0-0001-0000   16.00.03.00\n"
                         "  2) QS-9305-24i      53c2a1f-0-0002-0000   15.00.02.00\n"
                         "  3) QX-E36 B0        53c2a1f-0-0000-1000   03.01.02.00\n"
                         "  4) QX2-E27V C0      53c2a1f-0-0000-2000   04.00.01.00\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(HbaDiscovery, UnknownBoardsGetTheDeviceAndRevisionName) {
    const std::string t = topology(
        R"({"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0632", "revision": 2,
            "wwid": "0x53C2A1F000050000", "firmwareVersion": "0x11000500"},
           {"node": "/dev/xol3ctl", "ioc": 4, "deviceId": "0x0630", "revision": 7,
            "wwid": "0x53C2A1F000060000", "firmwareVersion": "0x10000300"},
           {"node": "/dev/xol3ctl", "ioc": 9, "deviceId": "0x0528", "revision": 3,
            "wwid": "0x53C2A1F000070000", "firmwareVersion": "0x0E010009"})");
    const CliRun r = run(t, {"--list"});
    EXPECT_EQ(r.out, std::string(kBanner) + kHeader +
                         "  1) Dev 632 Rev 02   53c2a1f-0-0005-0000   17.00.05.00\n"
                         "  2) Dev 630 Rev 07   53c2a1f-0-0006-0000   16.00.03.00\n"
                         "  3) QS-9316-16e      53c2a1f-0-0007-0000   14.01.00.09\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(HbaDiscovery, ControllersOfOtherNodesAreNotListed) {
    // With the shell's option word /dev/xol2ctl and /dev/ovsactl are not opened;
    // the watchdog node is, and its first-generation chip is refused.
    const std::string t = topology(
        R"({"node": "/dev/xol2ctl", "ioc": 0, "deviceId": "0x0410", "revision": 1},
           {"node": "/dev/ovsactl", "ioc": 0, "deviceId": "0x0070", "revision": 1},
           {"node": "/dev/xol2ctl_wd", "ioc": 0, "deviceId": "0x0411", "revision": 2},
           {"node": "/dev/xol2ctl_wd", "ioc": 1, "deviceId": "0x0631", "revision": 1,
            "wwid": "0x53C2A1F000080000", "firmwareVersion": "0x10000300"})");
    const CliRun r = run(t, {"--list"});
    EXPECT_EQ(r.out, std::string(kBanner) + kHeader +
                         "  1) QS-9400-16i      53c2a1f-0-0008-0000   16.00.03.00\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(HbaDiscovery, SelectMovesAcrossHbasAndExpanders) {
    const CliRun r = run("", {"-i", "2"}, "select -i 3\nselect -i 1\nquit\n");
    EXPECT_EQ(r.out, std::string(kBanner) + "QS-9305-24i> QX-E36 B0> QS-9400-8i> ");
    EXPECT_EQ(r.status, 0);
}

TEST_F(HbaDiscovery, IocFactsFailureFailsDiscovery) {
    const std::string t = topology(
        R"({"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0630", "revision": 1,
            "faults": [{"kind": "passthroughErrno", "function": 3, "errno": 5}]})");
    const CliRun r = run(t, {"--list"});
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "ERROR: IOC Facts request failure. Status - 34.\n"
                         "ERROR: Unable to read IOC Facts reply.\n"
                         "ERROR: Discovery failed. Unable to get adapter information.\n"
                         "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(HbaDiscovery, IocStatusEndsTheProcessWithIt) {
    for (const auto& [status, code, exitStatus] :
         {std::tuple{"4", "05020004", 4}, std::tuple{"256", "05020100", 1}}) {
        const std::string t =
            topology(std::string(R"({"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0630",
                "revision": 1, "faults": [{"kind": "iocFactsStatus", "status": )") +
                     status + "}]}");
        const CliRun r = run(t, {"--list"});
        EXPECT_EQ(r.out, std::string(kBanner) + "ERROR: IOC Status failed.\nERROR: ERROR CODE " +
                             code + "\n");
        // An exit code whose low byte is 0 must not read as success.
        EXPECT_EQ(r.status, exitStatus) << code;
    }
}

TEST_F(HbaDiscovery, IocStatusWhenTheTableIsPrinted) {
    // The library and the enumeration read IOC Facts cleanly; the read for the
    // table row reports a status.
    const std::string t = topology(
        R"({"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0630", "revision": 1,
            "faults": [{"kind": "iocFactsStatus", "status": 7, "skip": 2}]})");
    const CliRun r = run(t, {"--list"});
    EXPECT_EQ(r.out, std::string(kBanner) + kHeader +
                         "ERROR: IOC Status failed.\nERROR: ERROR CODE 05020007\n");
    EXPECT_EQ(r.status, 7);
}

TEST_F(HbaDiscovery, AdapterWithoutPage5IsLeftOut) {
    const std::string t = topology(
        R"({"node": "/dev/xol3ctl", "ioc": 0, "deviceId": "0x0630", "revision": 1,
            "faults": [{"kind": "configStatus", "pageType": 9, "pageNumber": 5, "status": 34}]},
           {"node": "/dev/xol3ctl", "ioc": 1, "deviceId": "0x0521", "revision": 1,
            "wwid": "0x53C2A1F000020000", "firmwareVersion": "0x0F000200"})");
    const CliRun r = run(t, {"--list"});
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "Man Page 5 request failed 258.\n"
                         "ERROR: Discovery failed. Unable to get phy count.\n" +
                         kHeader + "  1) QS-9305-16i      53c2a1f-0-0002-0000   15.00.02.00\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(HbaDiscovery, NeitherHbasNorExpanders) {
    const CliRun r = run(topology(""), {"--list"});
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "ERROR: Unable to find any compatible devices in the list.\n"
                         "ERROR: Discovery failed. Unable to discover any supported device(s).\n"
                         "ERROR: ERROR CODE 02020000\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
