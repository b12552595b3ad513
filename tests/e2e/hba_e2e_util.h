// Runs of the product on an HBA topology of tests/e2e/topologies with a
// state directory shared by the runs of one test and a fresh emulator log per
// run, so that a test can follow state across processes and count requests.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expander_e2e_util.h"
#include "harness.h"

class HbaRuns : public ::testing::Test {
  protected:
    // One row of a table-driven run: the words after the program, the whole
    // output after the banner, the exit status.
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    // Runs the rows in order on one state directory.
    void runAll(const std::string& topology, const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            const CliRun r = run(topology, c.args);
            std::string words;
            for (const std::string& a : c.args)
                words += a + " ";
            EXPECT_EQ(r.out, c.out) << words;
            EXPECT_EQ(r.status, c.status) << words;
        }
    }
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
        dir_ = makeTempDir();
        state_ = makeTempDir();
    }
    // One run: the output after the banner and the status.
    CliRun run(const std::string& topology, std::vector<std::string> args,
               const std::string& input = "") {
        CliOptions options;
        options.emulated = true;
        options.topology = expanderTopology(topology);
        options.stateDir = state_;
        options.workDir = dir_;
        options.args = std::move(args);
        options.input = input;
        log_ = dir_ + "/emu" + std::to_string(++runs_) + ".log";
        options.emuArgs = {"--log", log_};
        CliRun r = runCli(options);
        EXPECT_EQ(r.out.substr(0, std::string(kBanner).size()), kBanner);
        r.out.erase(0, std::string(kBanner).size());
        return r;
    }
    // Lines of the last run's log that contain `what`.
    std::vector<std::string> logLines(const std::string& what) const {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) {
            const size_t at = line.find(what);
            if (at != std::string::npos)
                lines.push_back(line.substr(at));
        }
        return lines;
    }
    // How many lines of the last run's log contain `what`.
    size_t count(const std::string& what) const { return logLines(what).size(); }

    std::string dir_;
    std::string state_;
    std::string log_;
    int runs_ = 0;
};
