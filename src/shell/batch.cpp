#include "shell/batch.h"

#include <memory>

#include "shell/command.h"
#include "shell/logger.h"
#include "shell/options.h"

uint32_t readScriptLine(FILE* stream, std::string* line) {
    line->clear();
    for (;;) {
        const int c = std::fgetc(stream);
        if (c == EOF) {
            if (std::ferror(stream))
                return kScriptStreamError;
            return line->empty() ? kScriptEnd : kScriptLine;
        }
        if (c == '\n')
            return line->empty() ? kScriptEmptyLine : kScriptLine;
        line->push_back(static_cast<char>(c));
    }
}

uint32_t loadScript(const char* path, std::vector<std::string>* lines) {
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file(std::fopen(path, "r"));
    if (!file) {
        logError("Unable to open the file pointer.");
        return 1;
    }
    lines->clear();
    std::string line;
    for (;;) {
        const uint32_t status = readScriptLine(file.get(), &line);
        if (status == kScriptEnd)
            return 0;
        // A read error ends loading as a failure rather than being retried.
        if (status == kScriptStreamError || status == kScriptNoMemory)
            return status;
        if (status == kScriptEmptyLine || line.empty())
            continue;
        if (line.size() > kMaxScriptLine) {
            logError(
                "Invalid command at line no '%d'. Command statement length should not be more "
                "than 1024.",
                static_cast<int>(lines->size() + 1));
            return 1;
        }
        lines->push_back(line);
    }
}

uint32_t runScriptLine(const std::string& line) {
    if (line.empty() || line[0] == '#')
        return 3;
    std::vector<std::vector<char>> words;
    const uint32_t split = splitCommandLine(line.c_str(), &words);
    if (split == kSplitEmpty)
        return 3;
    if (split != kSplitOk)
        return 1;
    logPrintLine("");
    logPrint("Executing command : '%s'", line.c_str());
    logPrintLine("");
    return dispatchSplitLine(words);
}

uint32_t runBatch(const char* path) {
    std::vector<std::string> lines;
    const uint32_t status = loadScript(path, &lines);
    if (status != 0) {
        logError("Batch failed in parsing the script file.");
        return status;
    }
    for (const std::string& line : lines) {
        const uint32_t result = runScriptLine(line);
        if (result != 0 && result != 3) {
            const uint32_t code = lastCommandError();
            terminate(code != 0 ? code : kExitSyntaxError);
        }
    }
    return 0;
}
