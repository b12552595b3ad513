#include "shell/logger.h"

#include <cstring>

namespace {

FILE* g_out = nullptr;
FILE* g_in = nullptr;
const Logger* g_logger = &kConsoleLogger;
// True while the last text written did not end its line (a label waiting for
// its value, a prompt waiting for an answer).
bool g_lineOpen = false;
// Set once the input proved endless; it stays ended for the rest of the run.
bool g_inputAbandoned = false;

// Formats into the fixed message buffer; vsnprintf cuts text that does not fit.
// An error or warning never lands behind a label: it starts on a line of its own.
void emit(const char* prefix, const char* format, va_list args, bool newline,
          bool ownLine = false) {
    char message[kLogMessageSize];
    std::memset(message, 0, sizeof message);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(message, sizeof message, format, args);
#pragma GCC diagnostic pop
    FILE* out = consoleOut();
    if (ownLine && g_lineOpen)
        std::fputc('\n', out);
    if (prefix != nullptr)
        std::fputs(prefix, out);
    std::fputs(message, out);
    if (newline)
        std::fputc('\n', out);
    const size_t length = std::strlen(message);
    if (newline)
        g_lineOpen = false;
    else if (length > 0 || prefix != nullptr)
        g_lineOpen = length == 0 || message[length - 1] != '\n';
}

void consolePrint(const char* f, va_list a) {
    emit(nullptr, f, a, false);
}
void consolePrintLine(const char* f, va_list a) {
    emit(nullptr, f, a, true);
}
void consoleWarn(const char* f, va_list a) {
    emit("WARN!! ", f, a, true, true);
}
void consoleError(const char* f, va_list a) {
    emit("ERROR: ", f, a, true, true);
}
void consoleDebug(const char* f, va_list a) {
    emit("DEBUG: ", f, a, true);
}
void consoleVerbose(const char* f, va_list a) {
    emit("VERBOSE: ", f, a, true);
}
void consoleInfo(const char* f, va_list a) {
    emit(nullptr, f, a, true);
}

}  // namespace

const Logger kConsoleLogger = {consolePrint, consolePrintLine, consoleWarn, consoleError,
                               consoleDebug, consoleVerbose,   consoleInfo};

void installLogger(const Logger* logger) {
    g_logger = logger != nullptr ? logger : &kConsoleLogger;
}
const Logger* currentLogger() {
    return g_logger;
}

bool consoleLineOpen() {
    return g_lineOpen;
}
void consoleLineEnded() {
    g_lineOpen = false;
}
bool consoleInputAbandoned() {
    return g_inputAbandoned;
}
void abandonConsoleInput() {
    g_inputAbandoned = true;
}

void setConsoleStreams(FILE* out, FILE* in) {
    g_out = out;
    g_in = in;
    g_lineOpen = false;
    g_inputAbandoned = false;
}
FILE* consoleOut() {
    return g_out != nullptr ? g_out : stdout;
}
FILE* consoleIn() {
    return g_in != nullptr ? g_in : stdin;
}

#define QUARLEN_LOG_FRONT(name, slot)        \
    void name(const char* format, ...) {     \
        va_list args;                        \
        va_start(args, format);              \
        currentLogger()->slot(format, args); \
        va_end(args);                        \
    }

QUARLEN_LOG_FRONT(logPrint, print)
QUARLEN_LOG_FRONT(logPrintLine, printLine)
QUARLEN_LOG_FRONT(logWarn, warn)
QUARLEN_LOG_FRONT(logError, error)
QUARLEN_LOG_FRONT(logDebug, debug)
QUARLEN_LOG_FRONT(logVerbose, verbose)
QUARLEN_LOG_FRONT(logInfo, info)
#undef QUARLEN_LOG_FRONT
