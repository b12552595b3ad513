// How the launcher hands its settings to the preloaded library: environment
// variables only, so that any program started under the launcher (and its
// children) sees the same emulated hardware.
#pragma once

#include <string>

namespace qemu {

// Absolute path of the topology file; unset: the built-in default topology.
inline constexpr const char* kEnvTopology = "QUARLEN_EMU_TOPOLOGY";
// Absolute path of the state directory; unset: defaultStateDir().
inline constexpr const char* kEnvState = "QUARLEN_EMU_STATE";
// "1": sleeps take real time and the device clock is the real monotonic clock.
inline constexpr const char* kEnvRealTime = "QUARLEN_EMU_REALTIME";
// Absolute path of the request log (appended to); unset: no log.
inline constexpr const char* kEnvLog = "QUARLEN_EMU_LOG";
// Absolute path of the request totals file (JSON, added into at exit); unset: none.
inline constexpr const char* kEnvStats = "QUARLEN_EMU_STATS";

struct EmuConfig {
    std::string topologyPath;  // empty: built-in default
    std::string stateDir;
    bool realTime = false;
    std::string logPath;    // empty: no log
    std::string statsPath;  // empty: no request totals
};

// $XDG_STATE_HOME/quarlen-emu, else $HOME/.local/state/quarlen-emu, else
// /tmp/quarlen-emu-<uid>.
std::string defaultStateDir();

// Reads the variables above (getenv only: safe before constructors run).
EmuConfig configFromEnvironment();

}  // namespace qemu
