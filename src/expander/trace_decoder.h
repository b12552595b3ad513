// Decodes an expander trace buffer (header, string table of the firmware's
// format strings by module, compact trace records) into text, with no I/O:
// every line goes to a TextSink. Every length and offset in the buffer is
// checked against the bytes given; formats are expanded by trace_format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expander/text_sink.h"

inline constexpr uint32_t kTraceHeaderSize = 16;
inline constexpr uint32_t kTraceVersion = 1;
// Longest format used; longer strings are cut.
inline constexpr size_t kTraceFormatMax = 1023;

inline constexpr const char* kTraceEmptyMessage =
    "Trace buffer is empty or not valid trace entries are available.";

// 0: decoded (records that do not fit are reported or skipped);
// 1: a buffer below the header, a header the decoder refuses, or memory
// for the string index ran out, each after its message.
uint32_t decodeTraceBuffer(const uint8_t* data, size_t size, TextSink& sink);
