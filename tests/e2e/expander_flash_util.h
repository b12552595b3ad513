// Fixture of the expander flash tests (dl, ul, erase): one expander on a
// topology written per test (regions and faults vary), a state directory
// shared by the runs of one test, the emulator's request log, and image
// files made with the emulator's builders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"

class ExpanderFlashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!emulatorBuilt())
            GTEST_SKIP() << "quarlen-emu not built";
        dir_ = makeTempDir();
        state_ = dir_ + "/state";
        log_ = dir_ + "/requests.log";
    }

    // The expander: sg3, firmware 03.01.02.00; `regions` and `faults` are
    // JSON object members (without braces) added to its entry.
    void setTopology(const std::string& regions, const std::string& faults = "") {
        std::ostringstream json;
        json << "{\"scsi\": {\"expanders\": [{\"sg\": 3, \"family\": 2, \"revision\": 1, "
             << "\"sasAddress\": \"0x53C2A1F000000300\", \"firmwareVersion\": \"0x03010200\", "
             << "\"resetMs\": 3000, \"regions\": {" << regions << "}, \"faults\": {" << faults
             << "}}]}}";
        topology_ = dir_ + "/topology.json";
        std::ofstream(topology_) << json.str();
    }

    // Runs `-i 1 args...` and strips the discovery lines (checked once here).
    CliRun run(std::vector<std::string> args, const std::string& input = "",
               const std::string& workDir = "") {
        if (topology_.empty())
            setTopology("");
        CliOptions options;
        options.emulated = true;
        options.topology = topology_;
        options.stateDir = state_;
        options.emuArgs = {"--log", log_};
        options.workDir = workDir;
        options.input = input;
        options.args = {"-i", "1"};
        options.args.insert(options.args.end(), args.begin(), args.end());
        CliRun result = runCli(options);
        const std::string preamble = expandersOnlyPreamble();
        EXPECT_EQ(result.out.substr(0, preamble.size()), preamble);
        result.out.erase(0, std::min(preamble.size(), result.out.size()));
        return result;
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::string writeFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }

    static std::vector<uint8_t> readFile(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    // The request log so far; cleared so that the next run starts afresh.
    std::string takeLog() {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        std::ofstream(log_, std::ios::trunc);
        return text.str();
    }

    // Lines of the log containing `what`, and the device clock (seconds) of each.
    static std::vector<std::string> linesWith(const std::string& log, const std::string& what) {
        std::vector<std::string> lines;
        std::istringstream in(log);
        for (std::string line; std::getline(in, line);) {
            if (line.find(what) != std::string::npos)
                lines.push_back(line);
        }
        return lines;
    }
    static double clockOf(const std::string& line) {
        const size_t space = line.find(' ');
        return std::stod(line.substr(space + 1));
    }

    std::string dir_;
    std::string state_;
    std::string log_;
    std::string topology_;
};
