// I/O-free readers of the bytes `ioc` gets from the controller: IOC and Port
// Facts replies, SAS IO Unit page 0 discovery entries, PCIe IO Unit link
// entries, Manufacturing page 5 phy entries, and the two encodings `ioc`
// writes (the WWID sequence of the phys, the device-missing report delay).
// Every count a page carries is bounded here by the bytes actually received.
#pragma once

#include <cstddef>
#include <cstdint>

// ------------------------------------------------------------- IOC Facts

struct IocFactsFields {
    uint8_t iocNumber;
    uint16_t iocExceptions;
    uint8_t maxChainDepth;
    uint8_t whoInit;
    uint8_t numberOfPorts;
    uint8_t maxMsixVectors;
    uint16_t requestCredit;
    uint16_t productId;
    uint32_t iocCapabilities;
    uint16_t requestFrameSize;
    uint16_t maxChainSegmentSize;
    uint16_t maxInitiators;
    uint16_t maxTargets;
    uint16_t maxSasExpanders;
    uint16_t maxEnclosures;
    uint16_t protocolFlags;
    uint16_t highPriorityCredit;
    uint16_t maxReplyDescriptorQueue;
    uint8_t replyFrameSize;
    uint8_t maxVolumes;
    uint16_t maxDevHandles;
    uint16_t maxPersistentEntries;
    uint16_t minDevHandle;
};
// Bytes a reply must hold for every decoded field.
inline constexpr size_t kIocFactsDecodedSize = 62;
inline constexpr size_t kIocFactsNumberOfPorts = 22;
inline constexpr size_t kIocFactsCapabilities = 28;
inline constexpr size_t kIocFactsMaxPersistentEntries = 58;
inline constexpr uint32_t kIocCapabilityIntegratedRaid = 0x1000;

// False (fields untouched) when the reply is shorter than the decoded fields.
bool decodeIocFacts(const uint8_t* reply, size_t length, IocFactsFields* out);

struct PortFactsFields {
    uint8_t portNumber;
    uint16_t iocStatus;
    uint32_t iocLogInfo;
    uint8_t portType;
    uint16_t maxPostedBuffers;
};
inline constexpr size_t kPortFactsDecodedSize = 26;
bool decodePortFacts(const uint8_t* reply, size_t length, PortFactsFields* out);

const char* whoInitName(uint8_t code);
const char* portTypeName(uint8_t code);

// ------------------------------------------------- SAS IO Unit page 0 entries

struct DiscoveryErrorBit {
    uint32_t mask;
    const char* text;
};
// In the order they are reported.
extern const DiscoveryErrorBit kDiscoveryErrorBits[];
extern const size_t kDiscoveryErrorBitCount;

struct DiscoveryEntry {
    bool inProgress;  // port flags bit 3
    uint32_t status;
};
// Phys whose 20-byte entries fit in the page: the page's count (byte 12)
// bounded by its length.
uint32_t discoveryPhyCount(const uint8_t* page, size_t length);
// False when entry `phy` lies beyond the page.
bool discoveryEntry(const uint8_t* page, size_t length, uint32_t phy, DiscoveryEntry* out);

// --------------------------------------------------------- PCIe IO Unit pages

inline constexpr size_t kPcieUnit1QueueDepth = 14;  // u16
inline constexpr size_t kPcieUnit1LinkCount = 16;
inline constexpr size_t kPcieUnit1Entries = 20;
inline constexpr size_t kPcieUnit1EntrySize = 12;
inline constexpr size_t kPcieUnit0LinkCount = 12;
inline constexpr size_t kPcieUnit0Entries = 16;
inline constexpr size_t kPcieUnit0EntrySize = 20;
inline constexpr size_t kPcieUnit0AttachedHandle = 8;  // u16 in the entry (page byte 24 + 20 i)

inline constexpr uint8_t kPcieLinkFlagDisabled = 0x08;
inline constexpr uint8_t kPcieLinkFlagEndpointOnly = 0x01;
inline constexpr uint32_t kPcieDeviceDirectAttached = 0x10;

struct PcieLinkEntry {
    uint8_t linkNumber;   // entry byte 0
    uint8_t flags;        // entry byte 2
    uint8_t maxRate;      // entry byte 3, code in bits 4-7
    uint32_t deviceInfo;  // entry +4
};
// Links whose entries fit in PCIe IO Unit page 1 (count at 16, bounded).
uint32_t pcieLinkCount(const uint8_t* page1, size_t length);
bool pcieLinkEntry(const uint8_t* page1, size_t length, uint32_t link, PcieLinkEntry* out);
// Entries of PCIe IO Unit page 0 that fit in the page (count at 12, bounded).
uint32_t pcieUnit0EntryCount(const uint8_t* page0, size_t length);
// False when the entry lies beyond the page; *handle 0: nothing attached.
bool pcieAttachedHandle(const uint8_t* page0, size_t length, uint32_t link, uint16_t* handle);
// "2.5", "5.0", "8.0", "16.0" or "-" for the code in bits 4-7 of the rate byte.
const char* pcieRateText(uint8_t rateByte);
// "EP" only for an endpoint-only link (flags bit 0); "RC" otherwise.
const char* pcieEndpointText(uint8_t flags);

// --------------------------------------------------- Manufacturing page 5

inline constexpr size_t kMfg5PhyCount = 4;
inline constexpr size_t kMfg5Entries = 16;
inline constexpr size_t kMfg5EntrySize = 16;
// Phy entries that fit in the page: the count (byte 4) bounded by the length.
uint32_t mfg5PhyCount(const uint8_t* page, size_t length);

// The SAS address after (high, low): low + 1; past 0xFFFFFFFF the low word
// wraps to 0 and the high word moves on: + 1 while its last hex digit is
// below F, else that digit is cleared.
void nextWwid(uint32_t* high, uint32_t* low);

// ------------------------------------------------- SAS IO Unit page 1 fields

inline constexpr size_t kSasUnit1NarrowDepth = 10;  // u16
inline constexpr size_t kSasUnit1WideDepth = 14;    // u16
inline constexpr size_t kSasUnit1SataDepth = 17;
inline constexpr size_t kSasUnit1ReportDelay = 18;
inline constexpr size_t kSasUnit1IoDelay = 19;
inline constexpr size_t kSasUnit1Entries = 20;
inline constexpr size_t kSasUnit1EntrySize = 12;
// Entries that fit in the page, at most `phys`.
uint32_t sasUnit1EntryCount(size_t length, uint32_t phys);

// Device-missing report delay byte: up to 127 seconds as they are; above,
// multiples of 16 as value / 16 with bit 7 set. False for a value that has no
// encoding (not a multiple of 16 above 127, or above 2032).
bool encodeReportDelay(uint32_t seconds, uint8_t* byte);
uint32_t decodeReportDelay(uint8_t byte);
