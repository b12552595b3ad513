// Decoders of the phy pages `phy` and `reset` read, free of I/O: SAS IO Unit
// page 1 (queue depths, missing delays, one 12-byte entry per phy) and SAS
// Phy page 2 (event codes and counters). Every count a page states is
// bounded by the bytes it came with; a page too short for a field reads as
// not having it.
#pragma once

#include <cstddef>
#include <cstdint>

// SAS IO Unit page 1.
inline constexpr size_t kIoUnit1NarrowQueueDepth = 10;  // u16
inline constexpr size_t kIoUnit1WideQueueDepth = 14;    // u16
inline constexpr size_t kIoUnit1SataQueueDepth = 17;
inline constexpr size_t kIoUnit1ReportMissingDelay = 18;
inline constexpr size_t kIoUnit1IoMissingDelay = 19;
inline constexpr size_t kIoUnit1Entries = 20;
inline constexpr size_t kIoUnit1EntrySize = 12;
inline constexpr size_t kIoUnit1EntryDeviceInfo = 4;  // u32 of the controller phy
inline constexpr uint32_t kPhyDisabledBit = 0x80000;  // of the entry word
inline constexpr uint32_t kAutoPortConfigBit = 0x100;

// The number of whole phy entries the page holds.
uint32_t ioUnit1EntryCount(size_t size);
// The entry word (port, port flags, phy flags, rates) and the device
// information of a phy; false when the page holds no entry for it.
bool ioUnit1Entry(const uint8_t* page, size_t size, uint32_t phy, uint32_t* word);
bool ioUnit1DeviceInfo(const uint8_t* page, size_t size, uint32_t phy, uint32_t* info);
// Seconds of the report-device-missing delay byte: bit 7 set means the low
// seven bits count units of 16 seconds.
uint32_t reportMissingDelaySeconds(uint8_t delay);
// "1.5", "3.0", "6.0", "12.0" of the max (high nibble) and min (low nibble)
// rates of an entry's rate byte.
const char* maxLinkRateName(uint8_t rates);
const char* minLinkRateName(uint8_t rates);

// SAS Phy page 2.
inline constexpr size_t kPhyEventCount = 12;
inline constexpr size_t kPhyEventEntries = 16;
inline constexpr size_t kPhyEventEntrySize = 8;
inline constexpr uint32_t kMaxPhyEvents = 255;

struct PhyEvent {
    uint8_t code;
    uint32_t counter;
};
struct PhyEventList {
    uint32_t count = 0;  // entries present, never more than the page holds
    bool configured = false;
    PhyEvent events[kMaxPhyEvents] = {};
};
// Decodes the stated event count, cut to the entries the page holds. A page
// too short for the first entry's code is not configured.
void decodePhyEvents(const uint8_t* page, size_t size, PhyEventList* out);
// Same count, and the same code in every entry.
bool sameEventConfiguration(const PhyEventList& a, const PhyEventList& b);
// The event's name; "Evnt" for a code not in the table.
const char* phyEventName(uint8_t code);
