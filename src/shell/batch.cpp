#include "shell/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "shell/command.h"
#include "shell/logger.h"
#include "shell/options.h"

uint32_t readScriptLine(FILE* stream, std::string* line) {
    line->clear();
    for (;;) {
        const int c = getc_unlocked(stream);
        if (c == EOF) {
            if (std::ferror(stream))
                return kScriptStreamError;
            return line->empty() ? kScriptEnd : kScriptLine;
        }
        if (c == '\n')
            return line->empty() ? kScriptEmptyLine : kScriptLine;
        // Nothing longer than the limit is ever kept: a line of gigabytes
        // ends here instead of in memory.
        if (line->size() == kMaxScriptLine)
            return kScriptLineTooLong;
        line->push_back(static_cast<char>(c));
    }
}

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using ScriptFile = std::unique_ptr<FILE, FileCloser>;

// Opens the script through one descriptor and checks that very descriptor:
// a regular file (never a FIFO or a device that could block or never end).
ScriptFile openScript(const char* path) {
    const int fd =
        path != nullptr ? ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) : -1;
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "r");
    if (file == nullptr)
        ::close(fd);
    return ScriptFile(file);
}

uint32_t reportTooLong(size_t lineNumber) {
    logError(
        "Invalid command at line no '%d'. Command statement length should not be more than "
        "1024.",
        static_cast<int>(lineNumber));
    return 1;
}

}  // namespace

uint32_t loadScript(const char* path, std::vector<std::string>* lines) {
    ScriptFile file = openScript(path);
    if (!file) {
        logError("Unable to open the file pointer.");
        return 1;
    }
    lines->clear();
    std::string line;
    // The longest line kept plus the one character that shows it is too long.
    line.reserve(kMaxScriptLine + 1);
    for (;;) {
        const uint32_t status = readScriptLine(file.get(), &line);
        if (status == kScriptEnd)
            return 0;
        // A read error ends loading as a failure rather than being retried.
        if (status == kScriptStreamError || status == kScriptNoMemory)
            return status;
        if (status == kScriptLineTooLong)
            return reportTooLong(lines->size() + 1);
        if (status == kScriptEmptyLine || line.empty())
            continue;
        // Lines are short, but a script of very many can still exhaust memory.
        try {
            lines->push_back(line);
        } catch (const std::bad_alloc&) {
            return kScriptNoMemory;
        }
    }
}

uint32_t runScriptLine(const std::string& line) {
    if (line.empty() || line[0] == '#')
        return 3;
    // A NUL byte would silently cut the line short: refuse it whole.
    if (line.find('\0') != std::string::npos) {
        logError("Invalid command specified. Unknown command or invalid length of the command.");
        return 1;
    }
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
