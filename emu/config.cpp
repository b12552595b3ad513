#include "config.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qemu {

std::string defaultStateDir() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/quarlen-emu";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/state/quarlen-emu";
    return "/tmp/quarlen-emu-" + std::to_string(getuid());
}

EmuConfig configFromEnvironment() {
    EmuConfig config;
    if (const char* topology = std::getenv(kEnvTopology); topology != nullptr) {
        config.topologyPath = topology;
    }
    const char* state = std::getenv(kEnvState);
    config.stateDir = (state != nullptr && state[0] != '\0') ? state : defaultStateDir();
    const char* realTime = std::getenv(kEnvRealTime);
    config.realTime = realTime != nullptr && std::strcmp(realTime, "1") == 0;
    if (const char* log = std::getenv(kEnvLog); log != nullptr)
        config.logPath = log;
    if (const char* stats = std::getenv(kEnvStats); stats != nullptr)
        config.statsPath = stats;
    return config;
}

}  // namespace qemu
