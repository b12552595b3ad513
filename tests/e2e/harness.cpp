#include "harness.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

const char* const kBanner =
    "\n"
    "-------------------------------------------------------------\n"
    "Quarlen CLI v16.2.0.0 - Copyright (c) 2026 Quarlen Storage Systems\n"
    "-------------------------------------------------------------\n"
    "\n";

std::string cliPath() {
    return std::string(QUARLEN_BIN_DIR) + "/quarlencli";
}
std::string emuPath() {
    return std::string(QUARLEN_BIN_DIR) + "/quarlen-emu";
}

namespace {

// Every directory a test process makes lives in one parent, removed when the
// process exits, whether its tests passed or failed.
std::string g_tempParent;
pid_t g_tempOwner = 0;

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}

void removeTempParent() {
    // A forked child that exits normally must not remove its parent's files.
    if (!g_tempParent.empty() && getpid() == g_tempOwner)
        nftw(g_tempParent.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

const std::string& tempParent() {
    if (g_tempParent.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                              "/quarlen-test-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            return g_tempParent;
        g_tempParent = pattern;
        g_tempOwner = getpid();
        std::atexit(removeTempParent);
    }
    return g_tempParent;
}

}  // namespace

std::string makeTempDir() {
    std::string pattern = tempParent() + "/dir-XXXXXX";
    if (tempParent().empty() || mkdtemp(pattern.data()) == nullptr)
        return "/tmp";
    return pattern;
}

std::string writeTempFile(const std::string& name, const std::string& contents) {
    const std::string path = makeTempDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

namespace {

// Feeds input and drains both outputs without deadlocking on full pipes.
void pump(int inFd, const std::string& input, int outFd, int errFd, CliRun* run) {
    size_t written = 0;
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    char buf[65536];
    while (outFd >= 0 || errFd >= 0) {
        struct pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outFd >= 0) {
            fds[n] = {outFd, POLLIN, 0};
            outIdx = n++;
        }
        if (errFd >= 0) {
            fds[n] = {errFd, POLLIN, 0};
            errIdx = n++;
        }
        if (inFd >= 0) {
            fds[n] = {inFd, POLLOUT, 0};
            inIdx = n++;
        }
        if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (inIdx >= 0 && fds[inIdx].revents != 0) {
            const ssize_t w = write(inFd, input.data() + written, input.size() - written);
            if (w > 0)
                written += static_cast<size_t>(w);
            if (w < 0 || written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
        struct Sink {
            int idx;
            int* fd;
            std::string* text;
        };
        for (const Sink& sink :
             {Sink{outIdx, &outFd, &run->out}, Sink{errIdx, &errFd, &run->err}}) {
            if (sink.idx < 0 || fds[sink.idx].revents == 0)
                continue;
            const ssize_t r = read(*sink.fd, buf, sizeof buf);
            if (r > 0) {
                sink.text->append(buf, static_cast<size_t>(r));
            } else if (r == 0 || errno != EINTR) {
                close(*sink.fd);
                *sink.fd = -1;
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
}

}  // namespace

CliRun runCommand(const std::vector<std::string>& argv, const std::string& input,
                  const std::string& workDir) {
    CliRun run;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(126);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    pump(in[1], input, out[0], err[0], &run);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

namespace {

std::vector<std::string> emuPrefix(const std::string& topology, const std::string& stateDir,
                                   const std::vector<std::string>& extra) {
    std::vector<std::string> argv{emuPath()};
    if (!topology.empty()) {
        argv.push_back("--topology");
        argv.push_back(topology);
    }
    argv.push_back("--state");
    argv.push_back(stateDir.empty() ? makeTempDir() : stateDir);
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("--");
    return argv;
}

}  // namespace

CliRun runCli(const CliOptions& options) {
    std::vector<std::string> argv;
    if (options.emulated)
        argv = emuPrefix(options.topology, options.stateDir, options.emuArgs);
    argv.push_back(cliPath());
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    return runCommand(argv, options.input, options.workDir);
}

CliRun runPlain(std::vector<std::string> args, const std::string& input) {
    CliOptions options;
    options.args = std::move(args);
    options.input = input;
    return runCli(options);
}

CliRun runUnderEmu(const std::vector<std::string>& command, const std::string& input,
                   const std::string& topology, const std::string& stateDir) {
    std::vector<std::string> argv = emuPrefix(topology, stateDir, {});
    argv.insert(argv.end(), command.begin(), command.end());
    return runCommand(argv, input, "");
}
