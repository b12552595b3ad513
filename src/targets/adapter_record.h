// The record of an HBA target: the adapter's handle word (first, so that
// &record->adapterHandle is what every library call takes), its number in the
// library's enumeration, and the blocks read at discovery.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "shell/byte_buffer.h"

struct AdapterRecord {
    uint32_t adapterHandle = 0;
    uint32_t adapterIndex = 0;
    ByteBuffer adapterInfo;  // 624 bytes, the library's adapter information block
    ByteBuffer iocFacts;     // 68 bytes, the IOC Facts reply
    uint8_t phyCount = 0;    // byte 4 of manufacturing page 5
};

// Library calls take the record's address as the adapter handle pointer.
static_assert(std::is_standard_layout_v<AdapterRecord> &&
              offsetof(AdapterRecord, adapterHandle) == 0);

// The adapter record of an HBA target; nullptr for any other target.
struct Target;
AdapterRecord* adapterOf(const Target* target);
