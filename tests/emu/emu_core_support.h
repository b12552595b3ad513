// Shared helpers of the emulator core tests: running the launcher with a
// chosen environment, and the client helper's location.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

namespace emutest {

inline std::string sgclient() {
    return EMU_SGCLIENT;
}
inline std::string markerLibrary() {
    return EMU_MARKER_LIB;
}
inline std::string libraryPath() {
    return std::string(QUARLEN_LIB_DIR) + "/libquarlen-emu.so";
}

// env [ENV...] quarlen-emu [OPTIONS...] -- COMMAND...; ENV entries are
// "NAME=value" to set or "-u NAME" pairs to unset.
inline CliRun runEmu(const std::vector<std::string>& options,
                     const std::vector<std::string>& command,
                     const std::vector<std::string>& env = {}, const std::string& workDir = "") {
    std::vector<std::string> argv{"/usr/bin/env"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(emuPath());
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
    return runCommand(argv, "", workDir);
}

// The client run under the launcher with a fresh state directory.
inline CliRun runClient(const std::vector<std::string>& args,
                        const std::vector<std::string>& options = {}) {
    std::vector<std::string> command{sgclient()};
    command.insert(command.end(), args.begin(), args.end());
    std::vector<std::string> all{"--state", makeTempDir()};
    all.insert(all.end(), options.begin(), options.end());
    return runEmu(all, command);
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace emutest
