// Whole commands under the emulator: CPU time and peak RSS of the process
// that runs quarlencli (the preloaded emulator answers inside it), on the
// fleet topology and on generated topologies of 256 to 2048 drives; and the
// product's CPU per device request against a bare SG_IO client on the same
// emulated expander in the same run.
//
// The emulator's share is measured apart: the same launcher and topology
// running a client that only opens a node (the models are built, nothing is
// asked), reported as emu_cpu_s / emu_rss_mib.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kBin = QUARLEN_BIN_DIR;
const std::string kSource = QUARLEN_SOURCE_DIR;
std::string g_self;

struct Usage {
    double cpuSeconds = 0;
    double rssMiB = 0;
    int status = -1;
};

// Runs argv with standard output discarded; the child's own CPU and peak RSS.
Usage runMeasured(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    Usage usage;
    int status = 0;
    struct rusage ru {};
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid)
        return usage;
    usage.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                       static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    usage.rssMiB = static_cast<double>(ru.ru_maxrss) / 1024.0;
    usage.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return usage;
}

std::string stateDir() {
    static std::string dir;
    if (dir.empty()) {
        char pattern[] = "/tmp/quarlen-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        dir = made != nullptr ? made : "/tmp";
    }
    return dir;
}

std::vector<std::string> underEmu(const std::string& topology, std::vector<std::string> command) {
    std::vector<std::string> argv{kBin + "/quarlen-emu", "--state", stateDir()};
    if (!topology.empty()) {
        argv.push_back("--topology");
        argv.push_back(topology);
    }
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

std::vector<std::string> cli(std::vector<std::string> args) {
    args.insert(args.begin(), kBin + "/quarlencli");
    return args;
}

// The bare client: N identical READ BUFFER requests (the chip register the
// product reads for the phy count) on one node. `bench_commands --bare-client
// NODE N` runs it; main() dispatches before the benchmarks start.
int bareClient(const char* node, long count) {
    const int fd = open(node, O_RDWR | O_NONBLOCK);
    if (fd < 0)
        return 1;
    unsigned char cdb[10] = {0x3C, 0x01, 0xC2, 0xC3, 0x80, 0x01, 0x04, 0x00, 0x04, 0x00};
    unsigned char data[4], sense[32];
    for (long i = 0; i < count; ++i) {
        sg_io_hdr_t h{};
        h.interface_id = 'S';
        h.cmd_len = sizeof cdb;
        h.cmdp = cdb;
        h.dxfer_direction = SG_DXFER_FROM_DEV;
        h.dxferp = data;
        h.dxfer_len = sizeof data;
        h.sbp = sense;
        h.mx_sb_len = sizeof sense;
        h.timeout = 600000;
        if (ioctl(fd, SG_IO, &h) != 0 || h.status != 0)
            return 1;
    }
    close(fd);
    return 0;
}

std::string fleet() {
    return kSource + "/tests/e2e/topologies/fleet.json";
}

// A generated topology of one HBA with that many drives, made once.
std::string drivesTopology(long drives) {
    const std::string path = stateDir() + "/drives-" + std::to_string(drives) + ".json";
    if (access(path.c_str(), R_OK) != 0) {
        const std::string command =
            "python3 " + kSource + "/emu/topology/generate-fleet.py --hbas 1 --expanders " +
            std::to_string(drives / 40 + 2) + " --drives " + std::to_string(drives) + " > " + path;
        if (std::system(command.c_str()) != 0)
            return {};
    }
    return path;
}

void report(benchmark::State& state, const std::vector<std::string>& argv,
            const std::vector<std::string>& emulatorOnly) {
    Usage run, emu;
    for (auto _ : state) {
        run = runMeasured(argv);
        if (run.status != 0) {
            state.SkipWithError("the command failed");
            return;
        }
    }
    emu = runMeasured(emulatorOnly);
    state.counters["cpu_s"] = run.cpuSeconds;
    state.counters["rss_mib"] = run.rssMiB;
    state.counters["emu_cpu_s"] = emu.cpuSeconds;
    state.counters["emu_rss_mib"] = emu.rssMiB;
}

// The emulator alone on a topology: the launcher's check, the models, one open.
std::vector<std::string> emulatorOnly(const std::string& topology) {
    return underEmu(topology, {g_self, "--bare-client", "/dev/sg0", "0"});
}

void fleetCommand(benchmark::State& state, std::vector<std::string> args) {
    report(state, underEmu(fleet(), cli(args)), emulatorOnly(fleet()));
}

void scanDrives(benchmark::State& state) {
    const std::string topology = drivesTopology(state.range(0));
    if (topology.empty()) {
        state.SkipWithError("cannot generate the topology");
        return;
    }
    report(state, underEmu(topology, cli({"-i", "1", "scan"})), emulatorOnly(topology));
}

// CPU per request of `-i 4 route` (6145 register requests beyond discovery)
// and of the bare client issuing as many, each less its own run without them.
void requestCost(benchmark::State& state) {
    constexpr long kRequests = 6145;
    double product = 0, bare = 0;
    for (auto _ : state) {
        const Usage route = runMeasured(underEmu("", cli({"-i", "4", "route"})));
        const Usage help = runMeasured(underEmu("", cli({"-i", "4", "help"})));
        const Usage client = runMeasured(
            underEmu("", {g_self, "--bare-client", "/dev/sg3", std::to_string(kRequests)}));
        const Usage idle = runMeasured(underEmu("", {g_self, "--bare-client", "/dev/sg3", "0"}));
        if (route.status != 0 || client.status != 0) {
            state.SkipWithError("a run failed");
            return;
        }
        product = (route.cpuSeconds - help.cpuSeconds) / kRequests;
        bare = (client.cpuSeconds - idle.cpuSeconds) / kRequests;
    }
    state.counters["product_us_per_request"] = product * 1e6;
    state.counters["bare_us_per_request"] = bare * 1e6;
    state.counters["ratio"] = bare > 0 ? product / bare : 0;
}

// One sg_raw process per request: its whole cost, start-up included, for
// reference beside the bare client.
void sgRawRequest(benchmark::State& state) {
    if (access("/usr/bin/sg_raw", X_OK) != 0) {
        state.SkipWithError("sg_raw (sg3_utils) not installed");
        return;
    }
    Usage run;
    for (auto _ : state) {
        run = runMeasured(underEmu("", {"/usr/bin/sg_raw", "-r", "4", "/dev/sg3", "3c", "01", "c2",
                                        "c3", "80", "01", "04", "00", "04", "00"}));
        if (run.status != 0) {
            state.SkipWithError("sg_raw failed");
            return;
        }
    }
    const Usage idle = runMeasured(underEmu("", {g_self, "--bare-client", "/dev/sg3", "0"}));
    state.counters["cpu_s"] = run.cpuSeconds;
    state.counters["emu_cpu_s"] = idle.cpuSeconds;
}

}  // namespace

BENCHMARK_CAPTURE(fleetCommand, list, std::vector<std::string>{"--list"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fleetCommand, scan, std::vector<std::string>{"-i", "1", "scan"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fleetCommand, show_sys, std::vector<std::string>{"-i", "1", "show", "-sys"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fleetCommand, phy_da, std::vector<std::string>{"-i", "3", "phy", "-da"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(scanDrives)
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(2048)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(requestCost)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(sgRawRequest)->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    g_self = argv[0];
    if (argc == 4 && std::strcmp(argv[1], "--bare-client") == 0)
        return bareClient(argv[2], std::strtol(argv[3], nullptr, 10));
    char resolved[4096];
    if (realpath(argv[0], resolved) != nullptr)
        g_self = resolved;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
