// I/O-free pieces of `cfg`: how a requested page type is sent, which write
// offsets each page type accepts, the write range check, the word-by-word
// comparison of two copies of a page, and bounded field reads for the dump
// walks. Pages come from the controller: every read here stays inside the
// bytes received.
#pragma once

#include <cstddef>
#include <cstdint>

// A requested type above 15 travels as type 15 with it as extended type.
struct SentPageType {
    uint8_t type;
    uint8_t ext;
};
SentPageType sentPageType(uint8_t requested);

// Types 0-9 refuse offset 0 (the header); 10 takes any; 11 and above (and the
// extended types) refuse offsets up to 8 (the extended header).
bool writeOffsetAllowed(uint32_t requestedType, uint32_t offset);
// True when `count` words from `offset` fit a page of `pageLength` bytes.
bool writeRangeFits(uint32_t pageLength, uint32_t offset, uint32_t count);

// Calls visit(offset, default word, nvram word) for each differing 32-bit
// word over the whole words both copies hold; returns the number of
// differences.
using MismatchVisitor = void (*)(void* context, uint32_t offset, uint32_t def, uint32_t nvram);
uint32_t comparePages(const uint8_t* def, size_t defLength, const uint8_t* nvram,
                      size_t nvramLength, MismatchVisitor visit, void* context);

// Bounded field reads: false when the field does not lie inside the page.
bool pageU8(const uint8_t* page, size_t length, size_t offset, uint8_t* out);
bool pageU16(const uint8_t* page, size_t length, size_t offset, uint16_t* out);
bool pageU32(const uint8_t* page, size_t length, size_t offset, uint32_t* out);

// A Driver Mapping page 0 entry is shown when either word at 16 or 20 is set;
// a page too short for them is not.
bool mappingEntryUsed(const uint8_t* page, size_t length);

// Remembers the handles, ports or numbers a dump walk has visited, so that a
// device answering the same object again ends the walk.
class WalkGuard final {
  public:
    // False when `key` was seen before (the walk must end).
    bool firstVisit(uint32_t key);

  private:
    static constexpr size_t kWords = 65536 / 32;
    uint32_t seen_[kWords] = {};
};
