// Decoding of the driver's event answers, free of I/O so that tests and
// fuzzers reach it directly.
#pragma once

#include <cstddef>
#include <cstdint>

// Records of an event report to hand to a caller with room for `wanted`:
// never more than the driver keeps (`entries`) nor than the `received`
// bytes hold after the 12-byte header.
uint32_t eventRecordsToCopy(uint32_t wanted, uint32_t entries, size_t received);
