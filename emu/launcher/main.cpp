// quarlen-emu: runs a command against emulated SAS hardware.
//
//   quarlen-emu [--topology FILE] [--state DIR] [--fresh] [--real-time]
//               [--log FILE] [--stats FILE] -- COMMAND [ARGS...]
//
// Checks the topology (exit 2 on any problem, before anything runs), prepares
// the state directory, passes the settings to libquarlen-emu.so through the
// environment and execs COMMAND with the library preloaded after any library
// the caller already preloads.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "request_stats.h"
#include "services.h"
#include "topology/loader.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kCannotExecute = 126;
constexpr int kCommandNotFound = 127;
constexpr const char* kLibraryName = "libquarlen-emu.so";

int fail(const std::string& message) {
    std::fprintf(stderr, "quarlen-emu: %s\n", message.c_str());
    return kUsageError;
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return path;
    return std::string(cwd) + "/" + path;
}

// ../lib/libquarlen-emu.so beside the launcher's own binary in the build tree;
// ../lib/quarlen-emu/libquarlen-emu.so once installed.
std::string libraryPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return {};
    self[n] = '\0';
    std::string dir(self);
    dir.erase(dir.rfind('/'));
    std::string first;
    for (const char* sub : {"/../lib/", "/../lib/quarlen-emu/"}) {
        const std::string candidate = dir + sub + kLibraryName;
        char resolved[PATH_MAX];
        if (realpath(candidate.c_str(), resolved) != nullptr)
            return resolved;
        if (first.empty())
            first = candidate;
    }
    return first;
}

bool containsWord(const std::string& list, const std::string& word) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of(": ", start);
        if (end == std::string::npos)
            end = list.size();
        if (list.compare(start, end - start, word) == 0 && end - start == word.size())
            return true;
        start = end + 1;
    }
    return false;
}

// The caller's preloads stay first, so they see every call before the emulator.
std::string preloadList(const std::string& library) {
    const char* existing = std::getenv("LD_PRELOAD");
    if (existing == nullptr || existing[0] == '\0')
        return library;
    if (containsWord(existing, library))
        return existing;
    return std::string(existing) + ":" + library;
}

// An AddressSanitizer program refuses to start when the runtime is not first
// in the library list; the emulator library is.
std::string asanOptions() {
    const char* existing = std::getenv("ASAN_OPTIONS");
    if (existing == nullptr || existing[0] == '\0')
        return "verify_asan_link_order=0";
    if (std::strstr(existing, "verify_asan_link_order") != nullptr)
        return existing;
    return std::string(existing) + ":verify_asan_link_order=0";
}

// One usage line that shows where the command goes (CLI11's own shows only the
// options).
class UsageFormatter : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return "Usage: quarlen-emu [OPTIONS] -- COMMAND [ARGS...]\n";
    }
};

bool loadTopology(const std::string& path, nlohmann::json* topology, std::string* error) {
    if (path.empty() ? !qemu::defaultTopology(topology, error)
                     : !qemu::readTopologyFile(path, topology, error)) {
        return false;
    }
    const std::string where = path.empty() ? "built-in topology: " : "topology " + path + ": ";
    if (!qemu::checkTopologyShape(*topology, error)) {
        *error = where + *error;
        return false;
    }
    // The models check their own sections; nothing is saved while checking.
    qemu::NullServices services;
    qemu::Models models;
    if (!qemu::buildModels(*topology, services, &models, error)) {
        *error = where + *error;
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Everything after the first "--" is the command, untouched by the parser.
    std::vector<const char*> options{argv[0]};
    std::vector<std::string> command;
    bool separator = false;
    for (int i = 1; i < argc; ++i) {
        if (!separator && std::strcmp(argv[i], "--") == 0) {
            separator = true;
        } else if (separator) {
            command.emplace_back(argv[i]);
        } else {
            options.push_back(argv[i]);
        }
    }

    CLI::App app{"Runs COMMAND with emulated SAS HBAs, expanders and drives.", "quarlen-emu"};
    app.formatter(std::make_shared<UsageFormatter>());
    app.set_version_flag("-V,--version", "quarlen-emu " QUARLEN_VERSION);
    std::string topologyFile, stateDir, logFile, statsFile;
    bool fresh = false, realTime = false, printTopology = false;
    app.add_option("--topology", topologyFile, "Topology file (JSON); default: the built-in one")
        ->type_name("FILE");
    app.add_option("--state", stateDir,
                   "State directory; default: $XDG_STATE_HOME/quarlen-emu or "
                   "~/.local/state/quarlen-emu")
        ->type_name("DIR");
    app.add_flag("--fresh", fresh, "Discard the saved device state first");
    app.add_flag("--real-time", realTime, "Honour sleeps (device delays take real time)");
    app.add_option("--log", logFile, "Append one line per emulated request to FILE")
        ->type_name("FILE");
    app.add_option("--stats", statsFile,
                   "Write the request totals of every emulated process to FILE (JSON)")
        ->type_name("FILE");
    app.add_flag("--print-topology", printTopology,
                 "Print the topology in effect as JSON and exit");
    if (!separator)
        app.prefix_command();
    try {
        app.parse(static_cast<int>(options.size()), options.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageError;
    }
    if (!separator)
        command = app.remaining();

    std::string error;
    nlohmann::json topology;
    if (!topologyFile.empty())
        topologyFile = absolutePath(topologyFile);
    if (!loadTopology(topologyFile, &topology, &error))
        return fail(error);
    if (printTopology) {
        std::printf("%s\n", topology.dump(2).c_str());
        return 0;
    }
    if (command.empty())
        return fail("no command given (usage: quarlen-emu [OPTIONS] -- COMMAND)");

    const std::string library = libraryPath();
    if (library.empty() || access(library.c_str(), R_OK) != 0) {
        return fail("cannot find the emulator library " + library);
    }

    stateDir = absolutePath(stateDir.empty() ? qemu::defaultStateDir() : stateDir);
    if (!qemu::makeDirectories(stateDir, &error))
        return fail("state directory: " + error);
    if (fresh && !qemu::discardState(stateDir, &error))
        return fail("--fresh: " + error);

    if (!logFile.empty()) {
        logFile = absolutePath(logFile);
        FILE* log = std::fopen(logFile.c_str(), "a");
        if (log == nullptr) {
            return fail("log " + logFile + ": " + std::strerror(errno));
        }
        std::fclose(log);
    }

    // Each process adds its totals at exit: the file starts at zero.
    if (!statsFile.empty()) {
        statsFile = absolutePath(statsFile);
        FILE* stats = std::fopen(statsFile.c_str(), "w");
        if (stats == nullptr)
            return fail("stats " + statsFile + ": " + std::strerror(errno));
        const std::string zero = qemu::emptyStats().dump(1) + "\n";
        const bool written = std::fputs(zero.c_str(), stats) >= 0;
        if (std::fclose(stats) != 0 || !written)
            return fail("stats " + statsFile + ": " + std::strerror(errno));
        setenv(qemu::kEnvStats, statsFile.c_str(), 1);
    } else {
        unsetenv(qemu::kEnvStats);
    }

    if (topologyFile.empty()) {
        unsetenv(qemu::kEnvTopology);
    } else {
        setenv(qemu::kEnvTopology, topologyFile.c_str(), 1);
    }
    setenv(qemu::kEnvState, stateDir.c_str(), 1);
    if (realTime) {
        setenv(qemu::kEnvRealTime, "1", 1);
    } else {
        unsetenv(qemu::kEnvRealTime);
    }
    if (logFile.empty()) {
        unsetenv(qemu::kEnvLog);
    } else {
        setenv(qemu::kEnvLog, logFile.c_str(), 1);
    }
    setenv("LD_PRELOAD", preloadList(library).c_str(), 1);
    setenv("ASAN_OPTIONS", asanOptions().c_str(), 1);

    std::vector<char*> args;
    for (auto& word : command)
        args.push_back(word.data());
    args.push_back(nullptr);
    execvp(args[0], args.data());
    const int error_number = errno;
    std::fprintf(stderr, "quarlen-emu: cannot run %s: %s\n", args[0], std::strerror(error_number));
    return error_number == ENOENT ? kCommandNotFound : kCannotExecute;
}
