// Splits arbitrary bytes as a command line and as a batch script.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "shell/batch.h"
#include "shell/command.h"
#include "shell/logger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* sink = std::fopen("/dev/null", "w");
    setConsoleStreams(sink, nullptr);

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::vector<char>> words;
    splitCommandLine(text.c_str(), &words);

    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (stream == nullptr)
        return 0;
    std::string line;
    for (int i = 0; i < 100000; ++i) {
        const uint32_t status = readScriptLine(stream, &line);
        if (status == kScriptEnd || status == kScriptStreamError)
            break;
        if (status == kScriptLine && line.size() <= kMaxScriptLine && !line.empty() &&
            line[0] != '#') {
            splitCommandLine(line.c_str(), &words);
        }
    }
    std::fclose(stream);
    return 0;
}
