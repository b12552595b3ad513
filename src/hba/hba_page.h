// The HBA commands' one way to fetch and store a whole configuration page:
// ask the controller for the page's length, read it into a zeroed buffer of
// exactly that length, and write a (modified) page back the same way. The
// buffer always holds the whole page the controller described, never less.
#pragma once

#include <cstdint>

#include "shell/byte_buffer.h"

// A page as the library addresses it: page type, number, extended type
// (page type 15 only) and page address.
struct HbaPageId {
    uint8_t type;
    uint8_t number;
    uint8_t extType;
    uint32_t address;
};

// Where a fetch stopped: callers with their own wording per step use it.
enum class HbaPageStep {
    None,
    Header,    // the size query failed
    Allocate,  // the buffer could not be allocated
    Read,      // the read failed or returned less than the size query said
};

// Quiet: reports nothing. 0 with *page holding the whole page; 18 selector
// outside 1..3 (nothing sent); 16 no memory; 1 when the read described a
// page shorter than the size query (the page shrank: no zero tail is taken
// for data); any library status of the size query or the read. *step (when
// given) names the step that failed.
uint32_t fetchHbaPage(const uint32_t* handle, const HbaPageId& id, uint32_t selector,
                      ByteBuffer* page, HbaPageStep* step = nullptr);

// As fetchHbaPage, and reports the two failures that are its own:
// "ASSERT!! Invalid page action." for a selector outside 1..3 and "Unable to
// allocate memory."; the caller reports every other status in its words.
uint32_t readHbaPage(const uint32_t* handle, const HbaPageId& id, uint32_t selector,
                     ByteBuffer* page);

// Writes the whole buffer as the page (write selector 1 current, 2 default,
// 3 NVRAM; 18 otherwise, nothing sent). Quiet; the library's status.
uint32_t writeHbaPage(const uint32_t* handle, const HbaPageId& id, uint32_t selector,
                      ByteBuffer* page);

// The pages more than one HBA command reads.
inline constexpr HbaPageId kSasIoUnitPage1Id = {15, 1, 16, 0};
inline constexpr HbaPageId kLogPage0Id = {15, 0, 20, 0};
inline constexpr HbaPageId kIocPage1Id = {1, 1, 0, 0};
