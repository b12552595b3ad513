// The BIOS side of `dl`: validate an option ROM file, merge it with the
// images already in the controller's BIOS region, download and verify it.
#pragma once

#include <cstdint>

#include "targets/adapter_record.h"

// 0 flashed, skipped (FCODE not newer) or cancelled with No; 1 on any failure
// or when nobody answered the question.
uint32_t flashBios(AdapterRecord* adapter, const char* path, bool silent, bool noVerify);
