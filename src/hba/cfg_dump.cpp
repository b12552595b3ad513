// cfg -dumpall: the page printers, in the order an administrator reads them.
// Each reads current values, prints a heading and the page, and skips what
// the controller does not answer. Every walk ends at its first failure, at a
// page too short for the field it follows, and at an object seen before.
#include <cstdio>

#include "hba/cfg.h"
#include "hba/cfg_pages.h"
#include "hba/hba_page.h"
#include "hba/ioc_decode.h"
#include "shell/byte_buffer.h"
#include "shell/logger.h"
#include "shell/parse.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint8_t kExt = kPageTypeExtended;
constexpr uint8_t kTypeRaidVolume = 8;
constexpr uint8_t kTypeRaidPhysDisk = 10;
constexpr uint8_t kExtSasIoUnit = 0x10;
constexpr uint8_t kExtSasExpander = 0x11;
constexpr uint8_t kExtSasDevice = 0x12;
constexpr uint8_t kExtSasPhy = 0x13;
constexpr uint8_t kExtLog = 0x14;
constexpr uint8_t kExtEnclosure = 0x15;
constexpr uint8_t kExtRaidConfig = 0x16;
constexpr uint8_t kExtDriverMapping = 0x17;
constexpr uint8_t kExtSasPort = 0x18;
constexpr uint8_t kExtEthernet = 0x19;
constexpr uint8_t kExtPcieIoUnit = 0x1B;
constexpr uint8_t kExtPcieSwitch = 0x1C;
constexpr uint8_t kExtPcieDevice = 0x1D;
constexpr uint8_t kExtPcieLink = 0x1E;

constexpr uint32_t kByHandle = 0x20000000;
constexpr uint32_t kSecondForm = 0x10000000;
constexpr uint32_t kMappingForm = 0x10000;
constexpr size_t kHandleAt24 = 24;
constexpr size_t kEnclosureHandle = 22;
constexpr size_t kSasPortNumber = 8;
constexpr size_t kExpanderPhyCount = 32;
constexpr uint32_t kNumberWalkLimit = 256;

class Dumper final {
  public:
    explicit Dumper(const AdapterRecord* adapter) : handle_(&adapter->adapterHandle) {}

    // Reads a page; on success prints the heading (already formatted) and the page.
    bool dump(const char* heading, uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
              ByteBuffer* keep = nullptr) {
        ByteBuffer page;
        const HbaPageId id = {type, number, ext, address};
        if (fetchHbaPage(handle_, id, kPageSelectorCurrent, &page) != kXolStatusSuccess)
            return false;
        logPrintLine("%s", heading);
        hexDump(page.data(), static_cast<uint32_t>(page.size()));
        if (keep != nullptr)
            *keep = std::move(page);
        return true;
    }

    // Pages numbered first..last of one type, heading "<label> %d".
    void numbered(const char* label, uint8_t type, uint8_t ext, uint32_t last) {
        for (uint32_t n = 0; n <= last; ++n) {
            char heading[64];
            std::snprintf(heading, sizeof heading, "\n%s %u", label, n);
            dump(heading, type, ext, static_cast<uint8_t>(n), 0);
        }
    }

    // Next-handle walk of page 0 (heading: label and the handle): from 0xFFFF, the object's handle
    // at `handleAt` is the next start. visit(handle) prints the object's other pages.
    template <typename Visit>
    void walk(const char* label, uint8_t type, uint8_t ext, size_t handleAt, Visit visit) {
        WalkGuard guard;
        uint32_t previous = kPageWalkStartHandle;
        for (;;) {
            ByteBuffer page;
            const HbaPageId id = {type, 0, ext, previous};
            if (fetchHbaPage(handle_, id, kPageSelectorCurrent, &page) != kXolStatusSuccess)
                return;
            uint16_t h = 0;
            if (!pageU16(page.data(), page.size(), handleAt, &h) || !guard.firstVisit(h))
                return;
            logPrintLine("%s%04x", label, h);
            hexDump(page.data(), static_cast<uint32_t>(page.size()));
            visit(h, page);
            previous = h;
        }
    }

    void sasPorts() {
        WalkGuard guard;
        uint32_t previous = 0xFF;
        for (;;) {
            ByteBuffer page;
            if (fetchHbaPage(handle_, {kExt, 0, kExtSasPort, previous}, kPageSelectorCurrent,
                             &page) != kXolStatusSuccess)
                return;
            uint8_t port = 0;
            if (!pageU8(page.data(), page.size(), kSasPortNumber, &port) || !guard.firstVisit(port))
                return;
            logPrintLine("\nSAS Port Page 0 / %02x", port);
            hexDump(page.data(), static_cast<uint32_t>(page.size()));
            previous = port;
        }
    }

    // Pages addressed by number from 0 to the first failure.
    void byNumber(const char* label, uint8_t type, uint8_t ext, uint8_t pageNumber) {
        for (uint32_t n = 0; n < kNumberWalkLimit; ++n) {
            char heading[64];
            std::snprintf(heading, sizeof heading, "%s%u", label, n);
            if (!dump(heading, type, ext, pageNumber, n))
                return;
        }
    }

    const uint32_t* handle_;
};

void dumpSasPages(Dumper& d, const AdapterRecord* adapter) {
    d.sasPorts();
    d.walk("\nSAS Device Page 0 / Handle ", kExt, kExtSasDevice, kHandleAt24,
           [&](uint16_t h, const ByteBuffer&) {
               char heading[64];
               std::snprintf(heading, sizeof heading, "\nSAS Device Page 1 / Handle %04x", h);
               d.dump(heading, kExt, kExtSasDevice, 1, kByHandle + h);
           });
    d.walk("\nSAS Enclosure Page 0 / ", kExt, kExtEnclosure, kEnclosureHandle,
           [](uint16_t, const ByteBuffer&) {});
    d.walk("\nSAS Expander Page 0 / ", kExt, kExtSasExpander, kHandleAt24,
           [&](uint16_t h, const ByteBuffer& page0) {
               uint8_t phys = 0;
               pageU8(page0.data(), page0.size(), kExpanderPhyCount, &phys);
               for (uint32_t phy = 0; phy < phys; ++phy) {
                   char heading[80];
                   std::snprintf(heading, sizeof heading,
                                 "\nSAS Expander Page 1 / Handle %04x / Phy %u", h, phy);
                   d.dump(heading, kExt, kExtSasExpander, 1, kSecondForm + (phy << 16) + h);
               }
           });
    for (uint32_t phy = 0; phy < adapter->phyCount; ++phy) {
        for (uint8_t n = 0; n <= 4; ++n) {
            char heading[64];
            std::snprintf(heading, sizeof heading, "\nSAS Phy Page %u / Phy %02x", n, phy);
            d.dump(heading, kExt, kExtSasPhy, n, phy);
        }
    }
}

void dumpRaidPages(Dumper& d) {
    d.walk("\nRAID Volume Page 0 / ", kTypeRaidVolume, 0, kHandleAt24,
           [&](uint16_t h, const ByteBuffer&) {
               char heading[64];
               std::snprintf(heading, sizeof heading, "\nRAID Volume Page 1 / %04x", h);
               d.dump(heading, kTypeRaidVolume, 0, 1, kSecondForm + h);
           });
    d.byNumber("\nRAID PhysDisk Page 0 / ", kTypeRaidPhysDisk, 0, 0);
    d.byNumber("\nRAID PhysDisk Page 1 / ", kTypeRaidPhysDisk, 0, 1);
    d.byNumber("\nRAID Configuration Page 0 / ", kExt, kExtRaidConfig, 0);
}

void dumpLogMappingEthernet(Dumper& d, const AdapterRecord* adapter) {
    d.dump("\nLOG Page 0", kExt, kExtLog, 0, 0);
    uint16_t entries = 0;
    pageU16(adapter->iocFacts.data(), adapter->iocFacts.size(), kIocFactsMaxPersistentEntries,
            &entries);
    for (uint32_t i = 0; i < entries; ++i) {
        ByteBuffer page;
        // An absent family or a failing entry ends the mapping walk.
        if (fetchHbaPage(d.handle_, {kExt, 0, kExtDriverMapping, kMappingForm + i},
                         kPageSelectorCurrent, &page) != kXolStatusSuccess)
            break;
        if (!mappingEntryUsed(page.data(), page.size()))
            continue;
        logPrintLine("\nDriver Mapping Page 0 / %04x", i);
        hexDump(page.data(), static_cast<uint32_t>(page.size()));
    }
    d.dump("\nEthernet Page 0 / 0000", kExt, kExtEthernet, 0, 0);
    d.dump("\nEthernet Page 1 / 0000", kExt, kExtEthernet, 1, 0);
}

void dumpPciePages(Dumper& d) {
    ByteBuffer unit0;
    for (uint32_t n = 0; n <= 4; ++n) {
        char heading[64];
        std::snprintf(heading, sizeof heading, "\nPCIe IO Unit Page %u", n);
        d.dump(heading, kExt, kExtPcieIoUnit, static_cast<uint8_t>(n), 0,
               n == 0 ? &unit0 : nullptr);
    }
    d.walk("\n PCIe Switch Page 0 / Handle ", kExt, kExtPcieSwitch, kHandleAt24,
           [&](uint16_t h, const ByteBuffer&) {
               char heading[64];
               std::snprintf(heading, sizeof heading, "\nPCIe Switch Page 1 / Handle %04x", h);
               d.dump(heading, kExt, kExtPcieSwitch, 1, kByHandle + h);
           });
    d.walk("\nPCIe Device Page 0 / Handle ", kExt, kExtPcieDevice, kHandleAt24,
           [&](uint16_t h, const ByteBuffer&) {
               char heading[64];
               std::snprintf(heading, sizeof heading, "\nPCIe Device Page 1 / Handle %04x", h);
               d.dump(heading, kExt, kExtPcieDevice, 1, kByHandle + h);
               std::snprintf(heading, sizeof heading, "\n PCIe Device Page 2 / Handle %04x", h);
               d.dump(heading, kExt, kExtPcieDevice, 2, kByHandle + h);
           });
    uint8_t links = 0;
    pageU8(unit0.data(), unit0.size(), kPcieUnit0LinkCount, &links);
    for (uint32_t link = 0; link < links; ++link) {
        char heading[64];
        std::snprintf(heading, sizeof heading, "\nPCIe Link Page 1 / Link %02x", link);
        d.dump(heading, kExt, kExtPcieLink, 1, kSecondForm + link);
        for (uint8_t n = 2; n <= 3; ++n) {
            std::snprintf(heading, sizeof heading, "\nPCIe Link Page %u", n);
            d.dump(heading, kExt, kExtPcieLink, n, kSecondForm + link);
        }
    }
}

}  // namespace

uint32_t dumpAllPages(const Target* target, const AdapterRecord* adapter) {
    Dumper d(adapter);
    d.numbered("Manufacturing Page", kPageTypeManufacturing, 0, 31);
    d.numbered("IOC Page", kPageTypeIoc, 0, 10);
    d.numbered("IO Unit Page", kPageTypeIoUnit, 0, 10);
    d.numbered("SAS IO Unit Page", kExt, kExtSasIoUnit, 16);
    d.numbered("BIOS Page", kPageTypeBios, 0, 4);
    dumpSasPages(d, adapter);
    uint32_t capabilities = 0;
    pageU32(adapter->iocFacts.data(), adapter->iocFacts.size(), kIocFactsCapabilities,
            &capabilities);
    if ((capabilities & kIocCapabilityIntegratedRaid) != 0)
        dumpRaidPages(d);
    dumpLogMappingEthernet(d, adapter);
    if (target->family >= 8 && target->family <= 10)
        dumpPciePages(d);
    return 0;
}
