#include "expander/trace.h"

#include "expander/expander_access.h"
#include "expander/region_transfer.h"
#include "expander/text_sink.h"
#include "expander/trace_decoder.h"
#include "shell/byte_buffer.h"
#include "shell/logger.h"
#include "targets/expander_device.h"

namespace {

constexpr uint8_t kBufferIdTrace = 0xE7;
constexpr uint32_t kTraceReadChunk = 0x80000;

// The whole buffer, or false after the messages of the read. A buffer too
// small for its header is not read at all.
bool readTraceBuffer(Target* target, ByteBuffer* buffer) {
    uint32_t descriptor = 0;
    if (readBufferDescriptor(target, kBufferIdTrace, &descriptor) != 0)
        return false;
    if (descriptorIsEmpty(descriptor))
        return false;
    const uint32_t size = descriptorCapacity(descriptor);
    if (size < kTraceHeaderSize)
        return false;
    if (!buffer->allocate(size)) {
        logError("Error in allocating memory.");
        return false;
    }
    if (readRegionBytes(target, kBufferIdTrace, size, kTraceReadChunk, buffer->data()) != 0) {
        buffer->reset();
        logError("Unable to read the log values.");
        return false;
    }
    return true;
}

}  // namespace

uint32_t expanderTraceCommand(uint32_t count, char** /*words*/) {
    if (count > 1) {
        logError("Invalid command. Command does not require any arguments.");
        return 1;
    }
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("Invalid device selected.");
        return 1;
    }
    ByteBuffer buffer;
    if (!readTraceBuffer(target, &buffer)) {
        logPrintLine("%s", kTraceEmptyMessage);
        return 1;
    }
    LoggerSink sink;
    return decodeTraceBuffer(buffer.data(), buffer.size(), sink);
}

uint32_t expanderTraceUsage() {
    logPrintLine("Expander Trace Details");
    logPrintLine("The command is to display the traces of the expander");
    logPrintLine("Example : trace");
    return 0;
}
