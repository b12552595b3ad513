// The batch loader over arbitrary script bytes (long lines, NUL bytes, no
// final line feed), then every loaded line split as the runner would.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "shell/batch.h"
#include "shell/command.h"
#include "shell/logger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* sink = std::fopen("/dev/null", "w");
    static const int fd = memfd_create("fuzz-script", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    setConsoleStreams(sink, nullptr);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;

    std::vector<std::string> lines;
    loadScript(path.c_str(), &lines);
    // Whatever was loaded is within the line limit.
    for (const std::string& line : lines) {
        if (line.empty() || line.size() > kMaxScriptLine)
            __builtin_trap();
        std::vector<std::vector<char>> words;
        splitCommandLine(line.c_str(), &words);
    }
    return 0;
}
