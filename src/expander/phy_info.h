// What the phy displays know about one expander phy (PhyInfoRecord), the
// I/O-free decoders that fill it from device bytes, and the collectors that
// read those bytes through the expander access layer. Decoders never read
// past the length they are given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shell/byte_buffer.h"

struct Target;

inline constexpr uint32_t kLinkBlockLength = 52;
inline constexpr uint32_t kPhyRecordBlockLength = 16;
inline constexpr uint32_t kEdfbTimingLength = 12;
inline constexpr uint32_t kEdfbWordCount = 4;
inline constexpr uint16_t kPageEdfb = 0xFF15;
inline constexpr uint32_t kEdfbWordsAddress = 0xC3800054;

// Attached device types of link block word 1.
inline constexpr uint8_t kAttachedNone = 0;
inline constexpr uint8_t kAttachedEndDevice = 1;

// Routing attributes of link block byte 39.
inline constexpr uint8_t kRoutingDirect = 0;
inline constexpr uint8_t kRoutingSubtractive = 1;
inline constexpr uint8_t kRoutingTable = 2;

// The eight protocol flag columns of -da, in display order.
inline constexpr size_t kProtocolFlagCount = 8;

struct PhyInfoRecord {
    uint32_t phy = 0;
    bool enabled = false;
    bool isVirtual = false;
    bool zoningEnabled = false;
    uint8_t zoneGroup = 0;
    uint8_t attachedType = kAttachedNone;
    uint8_t negotiatedRate = 0;
    uint64_t attachedSasAddress = 0;
    uint8_t attachedPhyId = 0;
    uint8_t routing = kRoutingDirect;
    bool protocolFlags[kProtocolFlagCount] = {};
    uint8_t hardwareMinRate = 0;
    uint8_t hardwareMaxRate = 0;
    uint8_t phyBlock[kPhyRecordBlockLength] = {};
    bool edfbEnabled = false;
    bool edfbCapable = false;  // second EDFB flag; not displayed
    bool errorLimit = false;
    uint8_t maxLatency = 0;
    uint16_t fastPathTimeout = 0;
    uint16_t switchTimeout = 0;
};

// Link block (52 bytes at status base + 0x40). False, record untouched, when
// fewer bytes are given.
bool decodeLinkBlock(const uint8_t* block, size_t length, PhyInfoRecord* record);
// Zoning word at status base + 0x154.
void decodeZoning(uint32_t word, PhyInfoRecord* record);
// EDFB enable words w0..w3 at 0xC3800054.
void decodeEdfbWords(const uint32_t words[kEdfbWordCount], PhyInfoRecord* record);
// Error-limit bit of the phy in page 0xFF15 (words L/4-4 and L/4-3). False
// when the page is too short to hold them.
bool decodeErrorLimit(const uint8_t* page, size_t length, PhyInfoRecord* record);
// EDFB timing block (12 bytes at status base + 0x1E0). False when shorter.
bool decodeEdfbTiming(const uint8_t* block, size_t length, PhyInfoRecord* record);

// Values read once per command and shared by every phy's collection.
struct PhyReadContext {
    Target* target = nullptr;
    uint32_t phyCount = 0;
    bool edfbLoaded = false;
    ByteBuffer edfbPage;
    uint32_t edfbPageLength = 0;
    uint32_t edfbWords[kEdfbWordCount] = {};
};

// Reads the phy count into the context. 0 ok, 1 when the register read fails.
uint32_t loadPhyContext(PhyReadContext* context);

// Collects one phy into a cleared record: link block, enabled, virtual,
// zoning, the phy block and, with edfb, the EDFB details. 0 ok; 1 when a read
// fails (the record may be partly filled; callers clear it before showing
// it). Messages of the collectors: "Failed to allocate memory." lines, and
// for EDFB "Unable to read config page." errors; read failures themselves
// are left to the caller.
uint32_t collectPhyInfo(PhyReadContext* context, uint32_t phy, bool edfb, PhyInfoRecord* record);
