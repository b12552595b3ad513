// Runs one expander command under the emulator and returns what it printed
// after discovery, with the number of SCSI commands it sent (from the
// emulator's request log, discovery excluded).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "expander_e2e_util.h"
#include "harness.h"

struct CommandRun {
    std::string out;  // output after the discovery lines
    int status = -1;
    size_t requests = 0;    // SCSI commands of the command itself
    std::string registers;  // the emulator's "registers" lines (words written)
};

// Where a command runs: a topology of tests/e2e/topologies ("" for the
// built-in machine) and a state directory shared between runs ("" for a fresh one).
struct Machine {
    std::string topology;
    std::string stateDir;
};

inline size_t countLines(const std::string& path, const std::string& marker, std::string* kept) {
    std::ifstream in(path);
    std::string line;
    size_t n = 0;
    while (std::getline(in, line)) {
        if (line.find(marker) == std::string::npos)
            continue;
        ++n;
        if (kept != nullptr)
            *kept += line.substr(line.find(marker) + marker.size()) + "\n";
    }
    return n;
}

inline CliRun runLogged(const Machine& machine, std::vector<std::string> args,
                        const std::string& log) {
    CliOptions options;
    options.emulated = true;
    options.topology = machine.topology.empty() ? "" : expanderTopology(machine.topology);
    options.stateDir = machine.stateDir;
    options.emuArgs = {"--log", log};
    options.args = std::move(args);
    return runCli(options);
}

// `-i index` followed by the command words.
inline CommandRun runExpanderCommand(const Machine& machine, const std::string& index,
                                     std::vector<std::string> words, bool countRequests = true) {
    const std::string dir = makeTempDir();
    // Discovery alone: the same run with a command that sends nothing.
    size_t discovery = 0;
    if (countRequests) {
        runLogged(machine, {"-i", index, "help", "help"}, dir + "/discovery.log");
        discovery = countLines(dir + "/discovery.log", " cdb ", nullptr);
    }

    std::vector<std::string> args{"-i", index};
    args.insert(args.end(), words.begin(), words.end());
    const CliRun run = runLogged(machine, args, dir + "/command.log");
    CommandRun result;
    result.status = run.status;
    result.out = run.out;
    // The banner, and without any HBA the line saying so.
    const std::string banner = kBanner;
    for (const std::string& preamble : {banner, expandersOnlyPreamble().substr(banner.size())}) {
        if (result.out.compare(0, preamble.size(), preamble) == 0)
            result.out.erase(0, preamble.size());
    }
    result.requests = countLines(dir + "/command.log", " cdb ", nullptr) - discovery;
    countLines(dir + "/command.log", " registers ", &result.registers);
    return result;
}

// One command of a table-driven scenario and what it must print.
struct Step {
    Machine machine;
    std::string index;
    std::vector<std::string> words;
    std::vector<std::string> shows;  // texts the output holds, in this order
    int status = 0;
    bool exact = false;               // the output is exactly the shows joined
    long requests = -1;               // SCSI commands of the command; -1: not checked
    const char* registers = nullptr;  // the words written, exactly; null: not checked
    long rows = -1;                   // lines starting with a two-digit phy number; -1: not checked
};

inline size_t countPhyRows(const std::string& out) {
    size_t rows = 0;
    for (size_t at = 0; at + 2 < out.size(); at = out.find('\n', at) + 1) {
        rows += isdigit(static_cast<unsigned char>(out[at])) &&
                isdigit(static_cast<unsigned char>(out[at + 1]));
        if (out.find('\n', at) == std::string::npos)
            break;
    }
    return rows;
}

inline const char* const kCommandFailed = "ERROR: ERROR CODE 02020000\n";

inline void runSteps(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        std::string label = "-i " + step.index;
        for (const std::string& word : step.words)
            label += " " + word;
        const CommandRun run =
            runExpanderCommand(step.machine, step.index, step.words, step.requests >= 0);
        size_t at = 0;
        std::string joined;
        for (const std::string& text : step.shows) {
            const size_t found = run.out.find(text, at);
            EXPECT_NE(found, std::string::npos) << label << "\nmissing: " << text << "\nin:\n"
                                                << run.out;
            if (found != std::string::npos)
                at = found + text.size();
            joined += text;
        }
        if (step.exact) {
            EXPECT_EQ(run.out, joined) << label;
        }
        EXPECT_EQ(run.status, step.status) << label;
        if (step.requests >= 0) {
            EXPECT_EQ(run.requests, static_cast<size_t>(step.requests)) << label;
        }
        if (step.rows >= 0) {
            EXPECT_EQ(countPhyRows(run.out), static_cast<size_t>(step.rows)) << label;
        }
        if (step.registers != nullptr) {
            EXPECT_EQ(run.registers, step.registers) << label;
        }
    }
}
