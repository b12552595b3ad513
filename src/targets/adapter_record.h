// The record of an HBA target: the adapter's handle word, its number in the
// library's enumeration, and the blocks read at discovery. Library calls take
// &record->adapterHandle as the adapter handle pointer (the handle is the
// first field, but the record holds owning buffers, so pass the field itself
// rather than casting the record).
#pragma once

#include <cstdint>

#include "shell/byte_buffer.h"

struct AdapterRecord {
    uint32_t adapterHandle = 0;
    uint32_t adapterIndex = 0;
    ByteBuffer adapterInfo;  // 624 bytes, the library's adapter information block
    ByteBuffer iocFacts;     // 68 bytes, the IOC Facts reply
    uint8_t phyCount = 0;    // byte 4 of manufacturing page 5
};

// The adapter record of an HBA target; nullptr for any other target.
struct Target;
AdapterRecord* adapterOf(const Target* target);
