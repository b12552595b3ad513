// Runs one expander command under the emulator and returns what it printed
// after discovery, with the number of SCSI commands it sent (from the
// emulator's request log, discovery excluded).
#pragma once

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
                                     std::vector<std::string> words) {
    const std::string dir = makeTempDir();
    // Discovery alone: the same run with a command that sends nothing.
    runLogged(machine, {"-i", index, "help", "help"}, dir + "/discovery.log");
    const size_t discovery = countLines(dir + "/discovery.log", " cdb ", nullptr);

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
