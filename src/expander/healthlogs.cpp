#include "expander/healthlogs.h"

#include <cstring>

#include "expander/expander_access.h"
#include "expander/health_log.h"
#include "expander/region_transfer.h"
#include "expander/text_sink.h"
#include "shell/byte_buffer.h"
#include "shell/logger.h"

namespace {

constexpr uint8_t kBufferIdHealthEntries = 0xE5;
constexpr uint8_t kBufferIdHealthText = 0xEA;
constexpr uint32_t kHealthReadChunk = 0x60000;

// 0 with the buffer (empty for an empty log); 1 after the read's message
// (a failed descriptor read is silent).
uint32_t readHealthBuffer(Target* target, uint8_t bufferId, ByteBuffer* buffer) {
    BufferReadStep step = BufferReadStep::Done;
    if (readWholeBuffer(target, bufferId, kHealthReadChunk, buffer, &step) == 0)
        return 0;
    switch (step) {
        case BufferReadStep::Empty:
            buffer->reset();
            return 0;
        case BufferReadStep::Allocation:
            logError("Error in allocating memory.");
            return 1;
        case BufferReadStep::Chunk:
            logError("Unable to read the health log values.");
            return 1;
        default:
            return 1;
    }
}

}  // namespace

uint32_t expanderHealthLogsCommand(uint32_t count, char** words) {
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return 1;
    }
    if (count >= 3) {
        logPrintLine("Invalid arguments specified.");
        return 1;
    }
    const bool decode = count == 2;
    if (decode && std::strcmp(words[1], "-decode") != 0) {
        logPrintLine(
            "Invalid arguments specified. Command 'healthlogs -decode' is the valid argument.");
        return 1;
    }
    ByteBuffer buffer;
    if (readHealthBuffer(target, decode ? kBufferIdHealthText : kBufferIdHealthEntries, &buffer) !=
        0) {
        return 1;
    }
    if (buffer.empty())
        return 0;
    LoggerSink sink;
    if (decode)
        printHealthLogText(buffer.data(), buffer.size(), sink);
    else
        printHealthLogEntries(buffer.data(), buffer.size(), sink);
    return 0;
}

uint32_t expanderHealthLogsUsage() {
    logPrintLine("");
    logPrintLine("Expander Health Logs");
    logPrintLine("The command is to display the health logs of the expander");
    logPrintLine("%4s %s", " ", "healthlogs");
    logPrintLine("%8s %s", " ", "-Prints the logs in binary format or partially decoded format");
    logPrintLine("%4s %s", " ", "healthlogs -decode");
    logPrintLine("%8s %s", " ", "-decode : Prints the logs in string format or decoded format.");
    logPrintLine("%8s %s", " ", "This mode prints the logs in the format that firmware uploads.");
    logPrintLine("Example : healthlogs");
    return 0;
}
