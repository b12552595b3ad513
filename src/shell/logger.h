// Console logger: every line the program shows goes through the one installed
// Logger, printf-style, to standard output (errors included). Messages are
// formatted into a fixed 2048-byte buffer; longer text is cut, never overrun.
#pragma once

#include <cstdarg>
#include <cstdio>

#define QUARLEN_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// The seven operations, in slot order. Each takes a format and its arguments.
struct Logger {
    void (*print)(const char* format, va_list args);
    void (*printLine)(const char* format, va_list args);
    void (*warn)(const char* format, va_list args);
    void (*error)(const char* format, va_list args);
    void (*debug)(const char* format, va_list args);
    void (*verbose)(const char* format, va_list args);
    void (*info)(const char* format, va_list args);
};

inline constexpr size_t kLogMessageSize = 2048;

// The console logger writing to consoleOut().
extern const Logger kConsoleLogger;

void installLogger(const Logger* logger);
const Logger* currentLogger();

// Streams used by the logger and the prompts: stdout and stdin unless a test
// redirects them.
void setConsoleStreams(FILE* out, FILE* in);
FILE* consoleOut();
FILE* consoleIn();

// Whether the console's last line is still open (text without its line end).
// Errors and warnings of the console logger end such a line first. Reading an
// answer ends it too: the user's Enter did.
bool consoleLineOpen();
void consoleLineEnded();
// Input that never ends a line is given up once; from then on the console
// reads as ended. Changing the streams starts afresh.
bool consoleInputAbandoned();
void abandonConsoleInput();

// Checked front ends of the installed logger's slots.
void logPrint(const char* format, ...) QUARLEN_PRINTF(1, 2);
void logPrintLine(const char* format, ...) QUARLEN_PRINTF(1, 2);
void logWarn(const char* format, ...) QUARLEN_PRINTF(1, 2);
void logError(const char* format, ...) QUARLEN_PRINTF(1, 2);
void logDebug(const char* format, ...) QUARLEN_PRINTF(1, 2);
void logVerbose(const char* format, ...) QUARLEN_PRINTF(1, 2);
void logInfo(const char* format, ...) QUARLEN_PRINTF(1, 2);
