// The SAS address patch of a manufacturing region image, with no I/O: the
// page records of the region are walked within its bytes and every active
// SAS address (0xFE00) and report general (0xFE01) record gets the new
// address and a checksum to match.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expander/text_sink.h"

inline constexpr uint16_t kPageSasAddress = 0xFE00;
inline constexpr uint16_t kPageReportGeneral = 0xFE01;
inline constexpr uint16_t kPageListEnd = 0xFFFF;
inline constexpr uint8_t kRecordMarkerActive = 0xF9;

// Patches the region in place. Returns true when an address was written.
// A record whose 16 bytes do not fit ends the walk with a warning; a region
// below 4 bytes has no records; an active address record whose page is
// shorter than 12 bytes is left unchanged. Every other active record
// reached gets the marker 0xF9.
bool patchSasAddress(uint8_t* region, size_t size, uint64_t address, TextSink& sink);
