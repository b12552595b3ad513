#include "hba/ioc_decode.h"

#include "shell/bytes.h"

namespace {

constexpr size_t kSasUnit0PhyCount = 12;
constexpr size_t kSasUnit0Entries = 16;
constexpr size_t kSasUnit0EntrySize = 20;
constexpr size_t kSasUnit0PortFlags = 1;
constexpr size_t kSasUnit0DiscoveryStatus = 12;
constexpr uint8_t kPortFlagDiscoveryInProgress = 0x08;

// Entries of `size` bytes from `first` that the page holds, at most `count`.
uint32_t entriesThatFit(size_t length, size_t first, size_t size, uint32_t count) {
    if (length < first)
        return 0;
    const size_t fit = (length - first) / size;
    return fit < count ? static_cast<uint32_t>(fit) : count;
}

struct CodeText {
    uint8_t code;
    const char* text;
};
constexpr CodeText kWhoInit[] = {
    {0, "Not Initialized"}, {1, "System BIOS"}, {2, "ROM BIOS"},
    {3, "PCI Peer"},        {4, "Host Driver"}, {5, "Manufacturing"},
};
constexpr CodeText kPortTypes[] = {
    {0x00, "Inactive"},     {0x10, "FC"},          {0x20, "iSCSI"},
    {0x30, "SAS Physical"}, {0x31, "SAS Virtual"}, {0x40, "Tri-Mode"},
};
constexpr CodeText kPcieRates[] = {{0x2, "2.5"}, {0x3, "5.0"}, {0x4, "8.0"}, {0x5, "16.0"}};

template <size_t N>
const char* textFor(const CodeText (&table)[N], uint8_t code, const char* other) {
    for (const CodeText& row : table) {
        if (row.code == code)
            return row.text;
    }
    return other;
}

}  // namespace

bool decodeIocFacts(const uint8_t* r, size_t length, IocFactsFields* out) {
    if (r == nullptr || length < kIocFactsDecodedSize)
        return false;
    out->iocNumber = r[6];
    out->iocExceptions = getLe16(r, 12);
    out->maxChainDepth = r[20];
    out->whoInit = r[21];
    out->numberOfPorts = r[kIocFactsNumberOfPorts];
    out->maxMsixVectors = r[23];
    out->requestCredit = getLe16(r, 24);
    out->productId = getLe16(r, 26);
    out->iocCapabilities = getLe32(r, kIocFactsCapabilities);
    out->requestFrameSize = getLe16(r, 36);
    out->maxChainSegmentSize = getLe16(r, 38);
    out->maxInitiators = getLe16(r, 40);
    out->maxTargets = getLe16(r, 42);
    out->maxSasExpanders = getLe16(r, 44);
    out->maxEnclosures = getLe16(r, 46);
    out->protocolFlags = getLe16(r, 48);
    out->highPriorityCredit = getLe16(r, 50);
    out->maxReplyDescriptorQueue = getLe16(r, 52);
    out->replyFrameSize = r[54];
    out->maxVolumes = r[55];
    out->maxDevHandles = getLe16(r, 56);
    out->maxPersistentEntries = getLe16(r, kIocFactsMaxPersistentEntries);
    out->minDevHandle = getLe16(r, 60);
    return true;
}

bool decodePortFacts(const uint8_t* r, size_t length, PortFactsFields* out) {
    if (r == nullptr || length < kPortFactsDecodedSize)
        return false;
    out->portNumber = r[6];
    out->iocStatus = getLe16(r, 14);
    out->iocLogInfo = getLe32(r, 16);
    out->portType = r[21];
    out->maxPostedBuffers = getLe16(r, 24);
    return true;
}

const char* whoInitName(uint8_t code) {
    return textFor(kWhoInit, code, "Unknown");
}

const char* portTypeName(uint8_t code) {
    return textFor(kPortTypes, code, "Unknown");
}

const DiscoveryErrorBit kDiscoveryErrorBits[] = {
    {0x00000001, "Loop Detected"},
    {0x80000000, "Maximum Enclosures Exceeded"},
    {0x40000000, "Maximum Expanders Exceeded"},
    {0x20000000, "Maximum Devices Exceeded"},
    {0x10000000, "Maximum Topology PHYs Exceeded"},
    {0x08000000, "Downstream Initiator detected in Simplified Routing mode"},
    {0x8000, "Multiple subtractive to subtractive ports detected"},
    {0x4000, "Multiple subtractive ports in an Expander detected"},
    {0x2000, "Multiple controller ports attached to the same doamin"},
    {0x1000, "Table to subtractive link detected"},
    {0x800, "Unsupported device detected"},
    {0x200, "Subtractive to Subtractive link detected"},
    {0x400, "Table to Table link detected"},
    {0x100, "SMP CRC Error"},
    {0x80, "SMP function failed"},
    {0x20, "Expander Route table out of entries"},
    {0x10, "SMP Timeout"},
    {0x04, "Multiple ports with same SAS Address detected"},
    {0x40, "Route Table Index does not exist"},
    {0x02, "Unaddressed Device found"},
};
const size_t kDiscoveryErrorBitCount = sizeof kDiscoveryErrorBits / sizeof kDiscoveryErrorBits[0];

uint32_t discoveryPhyCount(const uint8_t* page, size_t length) {
    if (page == nullptr || length <= kSasUnit0PhyCount)
        return 0;
    return entriesThatFit(length, kSasUnit0Entries, kSasUnit0EntrySize, page[kSasUnit0PhyCount]);
}

bool discoveryEntry(const uint8_t* page, size_t length, uint32_t phy, DiscoveryEntry* out) {
    if (page == nullptr || phy >= entriesThatFit(length, kSasUnit0Entries, kSasUnit0EntrySize, 256))
        return false;
    const size_t e = kSasUnit0Entries + kSasUnit0EntrySize * phy;
    out->inProgress = (page[e + kSasUnit0PortFlags] & kPortFlagDiscoveryInProgress) != 0;
    out->status = getLe32(page, e + kSasUnit0DiscoveryStatus);
    return true;
}

uint32_t pcieLinkCount(const uint8_t* page1, size_t length) {
    if (page1 == nullptr || length <= kPcieUnit1LinkCount)
        return 0;
    return entriesThatFit(length, kPcieUnit1Entries, kPcieUnit1EntrySize,
                          page1[kPcieUnit1LinkCount]);
}

bool pcieLinkEntry(const uint8_t* page1, size_t length, uint32_t link, PcieLinkEntry* out) {
    if (page1 == nullptr ||
        link >= entriesThatFit(length, kPcieUnit1Entries, kPcieUnit1EntrySize, 256))
        return false;
    const size_t e = kPcieUnit1Entries + kPcieUnit1EntrySize * link;
    out->linkNumber = page1[e];
    out->flags = page1[e + 2];
    out->maxRate = page1[e + 3];
    out->deviceInfo = getLe32(page1, e + 4);
    return true;
}

uint32_t pcieUnit0EntryCount(const uint8_t* page0, size_t length) {
    if (page0 == nullptr || length <= kPcieUnit0LinkCount)
        return 0;
    return entriesThatFit(length, kPcieUnit0Entries, kPcieUnit0EntrySize,
                          page0[kPcieUnit0LinkCount]);
}

bool pcieAttachedHandle(const uint8_t* page0, size_t length, uint32_t link, uint16_t* handle) {
    if (page0 == nullptr ||
        link >= entriesThatFit(length, kPcieUnit0Entries, kPcieUnit0EntrySize, 256))
        return false;
    *handle =
        getLe16(page0, kPcieUnit0Entries + kPcieUnit0EntrySize * link + kPcieUnit0AttachedHandle);
    return true;
}

const char* pcieRateText(uint8_t rateByte) {
    return textFor(kPcieRates, static_cast<uint8_t>(rateByte >> 4), "-");
}

const char* pcieEndpointText(uint8_t flags) {
    return (flags & kPcieLinkFlagEndpointOnly) != 0 ? "EP" : "RC";
}

uint32_t mfg5PhyCount(const uint8_t* page, size_t length) {
    if (page == nullptr || length <= kMfg5PhyCount)
        return 0;
    return entriesThatFit(length, kMfg5Entries, kMfg5EntrySize, page[kMfg5PhyCount]);
}

void nextWwid(uint32_t* high, uint32_t* low) {
    if (*low != 0xFFFFFFFF) {
        ++*low;
        return;
    }
    *low = 0;
    *high = (*high & 0xF) < 0xF ? *high + 1 : *high & ~0xFu;
}

uint32_t sasUnit1EntryCount(size_t length, uint32_t phys) {
    return entriesThatFit(length, kSasUnit1Entries, kSasUnit1EntrySize, phys);
}

bool encodeReportDelay(uint32_t seconds, uint8_t* byte) {
    if (seconds <= 127) {
        *byte = static_cast<uint8_t>(seconds);
        return true;
    }
    if (seconds % 16 != 0 || seconds / 16 > 127)
        return false;
    *byte = static_cast<uint8_t>(0x80 | (seconds / 16));
    return true;
}

uint32_t decodeReportDelay(uint8_t byte) {
    return (byte & 0x80) != 0 ? (byte & 0x7Fu) * 16 : byte;
}
