// The fleet topology (emu/topology/generate-fleet.py: 2 HBAs, 30 cascaded
// expanders of both generations, 720 drives per HBA) loads and lists: every
// target the list holds, HBAs first, and every drive counted once.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "expander_e2e_util.h"
#include "harness.h"

namespace {

TEST(FleetTopology, ListsTheThirtyTwoTargetsTheListHolds) {
    if (!emulatorBuilt())
        GTEST_SKIP() << "quarlen-emu not built";
    const std::string dir = makeTempDir();
    CliOptions options;
    options.emulated = true;
    options.topology = expanderTopology("fleet.json");
    options.stateDir = dir;
    options.emuArgs = {"--stats", dir + "/stats.json"};
    options.args = {"--list"};
    const CliRun r = runCli(options);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");

    std::istringstream lines(r.out);
    const std::regex row(R"(^ +(\d+)\) (\S+) )");
    int rows = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, row))
            continue;
        ++rows;
        EXPECT_EQ(std::stoi(m[1]), rows);
        // HBAs first, then the expanders of both generations.
        if (rows <= 2)
            EXPECT_EQ(m[2], "QS-9400-8i") << line;
        else
            EXPECT_TRUE(m[2] == "QX2-S48" || m[2] == "QX-S36") << line;
    }
    EXPECT_EQ(rows, 32);

    // Discovery asked every device of both HBAs: 720 drives (on cascaded
    // expanders, on HBA phys, NVMe) and 15 enclosure targets each.
    std::ifstream in(dir + "/stats.json");
    const nlohmann::json stats = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(stats.is_object());
    EXPECT_EQ(stats["processes"], 1);
    size_t devices[2] = {0, 0};
    for (const auto& [device, n] : stats["passthrough"].items())
        ++devices[device.rfind("ioc1 ", 0) == 0 ? 1 : 0];
    EXPECT_EQ(devices[0], 735u);
    EXPECT_EQ(devices[1], 735u);
}

}  // namespace
