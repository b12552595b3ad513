// Splitting a command line into words and dispatching it through the common
// table and the current target's table.
#include <cstring>

#include "shell/command.h"
#include "shell/logger.h"
#include "targets/target_list.h"

namespace {
uint32_t g_lastCommandError = 0;
}  // namespace

uint32_t lastCommandError() {
    return g_lastCommandError;
}

uint32_t findCommand(const char* word, const CommandEntry* table, const CommandEntry** entry) {
    if (word == nullptr || table == nullptr)
        return 1;
    for (const CommandEntry* row = table; row->name != nullptr; ++row) {
        if (std::strcmp(row->name, word) == 0) {
            *entry = row;
            return 0;
        }
    }
    return 1;
}

uint32_t lookupCommand(const char* word, const CommandEntry** entry) {
    if (findCommand(word, kCommonCommands, entry) == 0)
        return 0;
    const Target* target = currentTarget();
    if (target != nullptr && findCommand(word, target->commands, entry) == 0)
        return 0;
    return 1;
}

uint32_t splitCommandLine(const char* text, std::vector<std::vector<char>>* words) {
    words->clear();
    if (text == nullptr)
        return kSplitEmpty;
    const size_t length = std::strlen(text);
    if (length > kMaxCommandLength) {
        logError("Invalid command specified. Unknown command or invalid length of the command.");
        return kSplitTooLong;
    }
    if (length == 0 || std::strcmp(text, "\n") == 0)
        return kSplitEmpty;
    const char* p = text;
    while (*p != '\0') {
        while (*p == ' ')
            ++p;
        if (*p == '\0')
            break;
        const char* start = p;
        while (*p != '\0' && *p != ' ')
            ++p;
        std::vector<char> word(start, p);
        word.push_back('\0');
        words->push_back(std::move(word));
    }
    return words->empty() ? kSplitEmpty : kSplitOk;
}

uint32_t dispatchSplitLine(std::vector<std::vector<char>>& words) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return dispatchCommand(static_cast<uint32_t>(words.size()), argv.data());
}

uint32_t dispatchCommand(uint32_t count, char** words) {
    g_lastCommandError = 0;
    if (count == 0 || words == nullptr) {
        g_lastCommandError = kExitSyntaxError;
        logError("Invalid or unknown command. Command string is empty.");
        return 1;
    }
    const CommandEntry* entry = nullptr;
    if (lookupCommand(words[0], &entry) == 0)
        return entry->exec(count, words);
    g_lastCommandError = kExitUnknownCommand;
    logError("Invalid or unknown command '%s'", words[0]);
    return 1;
}
