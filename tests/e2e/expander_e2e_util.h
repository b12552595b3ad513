// Helpers shared by the expander end-to-end tests: topology files of
// tests/e2e/topologies and runs of the product under the emulator.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

#include "harness.h"

inline std::string expanderTopology(const std::string& name) {
    return std::string(QUARLEN_SOURCE_DIR) + "/tests/e2e/topologies/" + name;
}

inline bool emulatorBuilt() {
    return access(emuPath().c_str(), X_OK) == 0;
}

inline CliRun runOnTopology(const std::string& topology, std::vector<std::string> args,
                            const std::string& input = "") {
    CliOptions options;
    options.emulated = true;
    options.topology = topology.empty() ? "" : expanderTopology(topology);
    options.args = std::move(args);
    options.input = input;
    return runCli(options);
}

// What discovery prints before the table when no controller is present.
inline std::string expandersOnlyPreamble() {
    return std::string(kBanner) + "ERROR: Unable to find any compatible devices in the list.\n";
}

inline const char* const kTableHeader =
    "\n     DeviceId/RevId   WWID                  FwVersion       \n";
