#include "shell/prompt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "shell/logger.h"
#include "shell/parse.h"

bool readConsoleLine(char* buf, size_t capacity, bool* overlong) {
    FILE* in = consoleIn();
    // Whatever was printed as a prompt must be visible before we block.
    std::fflush(consoleOut());
    size_t used = 0;
    bool sawAny = false;
    *overlong = false;
    buf[0] = '\0';
    for (;;) {
        const int c = std::fgetc(in);
        if (c == EOF)
            break;
        sawAny = true;
        if (c == '\n')
            break;
        if (used + 1 < capacity) {
            buf[used++] = static_cast<char>(c);
        } else {
            *overlong = true;
        }
    }
    buf[used] = '\0';
    return sawAny;
}

uint32_t askYesNo() {
    char answer[256];
    bool overlong = false;
    if (!readConsoleLine(answer, sizeof answer, &overlong) || overlong ||
        std::strlen(answer) >= 4) {
        logPrintLine("Invalid input string specified.");
        return 2;
    }
    for (char* p = answer; *p != '\0'; ++p) {
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 'a' + 'A');
    }
    if (std::strcmp(answer, "YES") == 0)
        return 0;
    if (std::strcmp(answer, "NO") == 0)
        return 1;
    logPrintLine("Invalid input specified.");
    return 2;
}

PromptSpec makePromptSpec(uint32_t* out, const char* prompt, const char* invalid, uint32_t min,
                          uint32_t max, uint32_t allowEmpty) {
    return PromptSpec{out, prompt, invalid, min, max, allowEmpty};
}

namespace {

uint32_t decimalWidth(uint32_t value) {
    uint32_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// Shared by readNumberLine and askNumber so that the end of input is seen.
uint32_t readNumber(uint32_t* out, uint32_t min, uint32_t max, uint32_t allowEmpty, bool* atEnd) {
    char answer[kLogMessageSize];
    bool overlong = false;
    std::memset(answer, 0, sizeof answer);
    *atEnd = !readConsoleLine(answer, sizeof answer, &overlong);
    if (*atEnd || overlong)
        return kAnswerRejected;
    const size_t length = std::strlen(answer);
    if (length == 0)
        return allowEmpty != 0 ? kAnswerEmpty : kAnswerRejected;
    if (length > decimalWidth(max) || !isDecimalString(answer))
        return kAnswerRejected;
    const uint32_t value = parseDecimal(answer);
    if (value < min || value > max)
        return kAnswerRejected;
    *out = value;
    return kAnswerAccepted;
}

}  // namespace

uint32_t readNumberLine(uint32_t* out, uint32_t min, uint32_t max, uint32_t allowEmpty) {
    bool atEnd = false;
    return readNumber(out, min, max, allowEmpty, &atEnd);
}

uint32_t askNumber(const PromptSpec& question, uint32_t retry) {
    if (question.prompt == nullptr || question.invalid == nullptr || question.out == nullptr ||
        question.min > question.max) {
        logPrintLine("FATAL: Invalid user parameter information. Code error.");
        return 1;
    }
    for (;;) {
        logPrint("%s", question.prompt);
        bool atEnd = false;
        const uint32_t status =
            readNumber(question.out, question.min, question.max, question.allowEmpty, &atEnd);
        if (status != kAnswerRejected)
            return status;
        if (retry == 0)
            return kAnswerRejected;
        logError("%s", question.invalid);
        // Nobody is left to answer: stop instead of asking forever.
        if (atEnd)
            return kAnswerRejected;
    }
}

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

}  // namespace

uint32_t readWholeFile(const char* path, ByteBuffer* contents) {
    FilePtr file(path != nullptr ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        logError("Failed to open the specified file, please check the path or name of the file");
        return 1;
    }
    long size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0)
        size = std::ftell(file.get());
    if (size < 0) {
        logError("Unable to get the file handle");
        return 1;
    }
    if (size == 0) {
        logError("File length is not sufficent, size is less than 1");
        return 1;
    }
    ByteBuffer buffer;
    if (!buffer.allocate(static_cast<size_t>(size))) {
        logError("Unable to allocate memory.");
        return 1;
    }
    std::rewind(file.get());
    if (std::fread(buffer.data(), 1, buffer.size(), file.get()) != buffer.size()) {
        logError("File read operation failed");
        return 1;
    }
    *contents = std::move(buffer);
    return 0;
}

uint32_t writeWholeFile(const char* path, const uint8_t* data, size_t length) {
    FilePtr file(path != nullptr ? std::fopen(path, "wb+") : nullptr);
    if (!file) {
        logError("Unable to open the file.");
        return 1;
    }
    if (std::fwrite(data, 1, length, file.get()) != length) {
        logError("Unable to write the contents");
        return 1;
    }
    // A failed flush loses data just as a short write does.
    if (std::fclose(file.release()) != 0) {
        logError("Unable to write the contents");
        return 1;
    }
    return 0;
}

namespace {
SleepFunction g_sleep = nullptr;
}  // namespace

void setSleepFunction(SleepFunction sleep) {
    g_sleep = sleep;
}

void sleepMilliseconds(uint32_t ms) {
    if (g_sleep != nullptr) {
        g_sleep(ms);
        return;
    }
    struct timespec request;
    request.tv_sec = static_cast<time_t>(ms / 1000);
    request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    struct timespec remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
}
