#include "shell/prompt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "shell/logger.h"
#include "shell/parse.h"

namespace {

// Bytes of one line we are willing to skip before deciding that the input
// will never end (a device or /dev/zero on standard input).
constexpr size_t kMaxSkippedBytes = 1u << 20;

}  // namespace

bool readConsoleLine(char* buf, size_t capacity, bool* overlong) {
    FILE* in = consoleIn();
    // Whatever was printed as a prompt must be visible before we block.
    std::fflush(consoleOut());
    consoleLineEnded();
    size_t used = 0;
    size_t skipped = 0;
    bool sawAny = false;
    *overlong = false;
    buf[0] = '\0';
    if (consoleInputAbandoned())
        return false;
    for (;;) {
        const int c = std::fgetc(in);
        if (c == EOF)
            break;
        sawAny = true;
        if (c == '\n')
            break;
        // A NUL would end the text early and hide the rest of the line.
        if (c != '\0' && used + 1 < capacity) {
            buf[used++] = static_cast<char>(c);
            continue;
        }
        *overlong = true;
        if (++skipped > kMaxSkippedBytes) {
            // Endless input without a line end: refuse this line and treat
            // the input as ended rather than spin on it.
            abandonConsoleInput();
            break;
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
