// Expander `trace`: reads the trace buffer and prints its records with the
// firmware's own format strings.
#pragma once

#include <cstdint>

// 0 after decoding; 1 for arguments, without an expander, for an empty or
// unreadable buffer, or a header the decoder refuses.
uint32_t expanderTraceCommand(uint32_t count, char** words);
uint32_t expanderTraceUsage();
