#include "shell/logger.h"

#include <cstring>

namespace {

FILE* g_out = nullptr;
FILE* g_in = nullptr;
const Logger* g_logger = &kConsoleLogger;

// Formats into the fixed message buffer; vsnprintf cuts text that does not fit.
void emit(const char* prefix, const char* format, va_list args, bool newline) {
    char message[kLogMessageSize];
    std::memset(message, 0, sizeof message);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(message, sizeof message, format, args);
#pragma GCC diagnostic pop
    FILE* out = consoleOut();
    if (prefix != nullptr)
        std::fputs(prefix, out);
    std::fputs(message, out);
    if (newline)
        std::fputc('\n', out);
}

void consolePrint(const char* f, va_list a) {
    emit(nullptr, f, a, false);
}
void consolePrintLine(const char* f, va_list a) {
    emit(nullptr, f, a, true);
}
void consoleWarn(const char* f, va_list a) {
    emit("WARN!! ", f, a, true);
}
void consoleError(const char* f, va_list a) {
    emit("ERROR: ", f, a, true);
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

void setConsoleStreams(FILE* out, FILE* in) {
    g_out = out;
    g_in = in;
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
