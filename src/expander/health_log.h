// Prints expander health logs with no I/O: the 64-byte entries of buffer
// 0xE5 field by field, and the firmware's own text of buffer 0xEA. Only
// whole entries inside the bytes given are read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expander/text_sink.h"

inline constexpr size_t kHealthEntrySize = 64;

// Prints each entry until one whose time stamp words are both 0; a trailing
// partial entry is ignored.
void printHealthLogEntries(const uint8_t* data, size_t size, TextSink& sink);
// Prints the decoded log as text (zero bytes left out, others made safe for
// the terminal), then an empty line.
void printHealthLogText(const uint8_t* data, size_t size, TextSink& sink);
