// HBA phy; see phy.h.
#include "hba/phy.h"

#include <cstring>

#include "hba/command_target.h"
#include "hba/hba_page.h"
#include "hba/phy_args.h"
#include "hba/phy_pages.h"
#include "hba/scan.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint8_t kExtPageTypePcieIoUnit = 0x1B;
constexpr uint8_t kExtPageTypePcieLink = 0x1E;
constexpr uint32_t kPcieLinkByNumber = 0x10000000;
constexpr size_t kPcieIoUnitLinks = 12;
constexpr size_t kPcieIoUnitEntries = 16;
constexpr size_t kPcieIoUnitEntrySize = 20;

constexpr uint32_t kPhyPage1Size = 28;
constexpr uint32_t kPhyPage0Size = 36;
constexpr size_t kPhyPage0OwnHandle = 8;
constexpr size_t kPhyPage0AttachedHandle = 12;
constexpr size_t kPhyPage0AttachedPhy = 14;
constexpr uint32_t kDevicePage0Size = 56;
constexpr size_t kDevicePageSasAddress = 12;
constexpr size_t kDevicePageDeviceInfo = 28;
constexpr size_t kDevicePagePort = 34;
constexpr uint32_t kIocPage1Size = 32;
constexpr size_t kIocPage1Flags = 4;
constexpr size_t kIocPage1Timeout = 8;
constexpr size_t kIocPage1Depth = 12;

constexpr uint32_t kVendorTagBit = 0x1000;
constexpr char kVendorTag[] = "QRL";

struct PhySelection {
    int first;
    int last;  // kSinglePhy: the first phy alone
    uint32_t code;
};

struct PhyContext {
    const uint32_t* handle;
    uint32_t phyCount;
    uint32_t family;
};

using PhyHandler = uint32_t (*)(const PhyContext& context, PhySelection selection);

uint32_t directAttached(const PhyContext& context, PhySelection selection);
uint32_t portDisplay(const PhyContext& context, PhySelection selection);
uint32_t phyOn(const PhyContext& context, PhySelection selection);
uint32_t phyOff(const PhyContext& context, PhySelection selection);
uint32_t errorCounters(const PhyContext& context, PhySelection selection);
uint32_t eventCounters(const PhyContext& context, PhySelection selection);

enum class PhyArgument { None, Required, Optional };

struct PhyOption {
    uint32_t code;
    const char* word;
    PhyHandler handler;
    PhyArgument argument;
};

const PhyOption kPhyOptions[] = {
    {1, "-da", directAttached, PhyArgument::None},
    {2, "-port", portDisplay, PhyArgument::None},
    {3, "-on", phyOn, PhyArgument::Required},
    {4, "-off", phyOff, PhyArgument::Required},
    {5, "-err", errorCounters, PhyArgument::None},
    {6, "-evnt", eventCounters, PhyArgument::Optional},
};

const PhyOption* findOption(const char* word) {
    for (const PhyOption& row : kPhyOptions) {
        if (std::strcmp(word, row.word) == 0)
            return &row;
    }
    return nullptr;
}

const char* enabledWord(bool disabled) {
    return disabled ? "Disabled" : "Enabled";
}

// ------------------------------------------------------------ -on / -off

void reportIoUnit1Failure(uint32_t status) {
    logError("Error in getting SAS IO Unit Page 1 ERROR CODE = %08x .", status);
}

// Reads SAS IO Unit page 1 and the entry word of `phy`. 0 or 1 (reported).
uint32_t readPhyEntry(const uint32_t* handle, int phy, ByteBuffer* page, uint32_t* word) {
    const uint32_t status = readHbaPage(handle, kSasIoUnitPage1Id, kPageSelectorCurrent, page);
    if (status != kXolStatusSuccess) {
        if (status != kXolStatusInvalidArgument && status != kXolStatusNoMemory)
            reportIoUnit1Failure(status);
        return 1;
    }
    if (!ioUnit1Entry(page->data(), page->size(), static_cast<uint32_t>(phy), word)) {
        reportIoUnit1Failure(kXolStatusFailure);  // the page has no entry for this phy
        return 1;
    }
    return 0;
}

// A phy control is done only when the page read back shows the new state.
uint32_t setPhyState(const PhyContext& context, int phy, bool disable) {
    ByteBuffer page;
    uint32_t word = 0;
    if (readPhyEntry(context.handle, phy, &page, &word) != 0)
        return 1;
    const bool disabled = (word & kPhyDisabledBit) != 0;
    logPrintLine("Current State : %s", enabledWord(disabled));
    if (disable && disabled) {
        logPrintLine("Phy already disabled");
        return 0;
    }
    if (!disable && !disabled) {
        logPrintLine("Phy already enabled");
        return 0;
    }
    word = disable ? (word | kPhyDisabledBit) : (word & ~kPhyDisabledBit);
    putLe32(page.data(), kIoUnit1Entries + kIoUnit1EntrySize * static_cast<size_t>(phy), word);
    const uint32_t status =
        writeHbaPage(context.handle, kSasIoUnitPage1Id, kPageSelectorCurrent, &page);
    if (status != kXolStatusSuccess) {
        logError("Error in setting the new values ERROR CODE : %08x", status);
        return 1;
    }
    page.reset();
    if (readPhyEntry(context.handle, phy, &page, &word) != 0)
        return 1;
    const bool nowDisabled = (word & kPhyDisabledBit) != 0;
    logPrintLine("Changed State : %s", enabledWord(nowDisabled));
    if (nowDisabled != disable) {
        logError("Phy state is not changed.");
        return 1;
    }
    return 0;
}

uint32_t phyOn(const PhyContext& context, PhySelection selection) {
    return setPhyState(context, selection.first, false);
}

uint32_t phyOff(const PhyContext& context, PhySelection selection) {
    return setPhyState(context, selection.first, true);
}

// ------------------------------------------------------------------ -err

uint32_t pcieErrorCounters(const PhyContext& context) {
    logPrintLine("Displaying PCIe Error Counters...");
    logPrintLine("%-5s %-22s %-17s %-16s", "Link", "CorrectableErrorCount ", "NFatalErrorCount ",
                 "FatalErrorCount ");
    ByteBuffer ioUnit;
    const HbaPageId ioUnitId = {kPageTypeExtended, 0, kExtPageTypePcieIoUnit, 0};
    HbaPageStep step = HbaPageStep::None;
    uint32_t status = fetchHbaPage(context.handle, ioUnitId, kPageSelectorCurrent, &ioUnit, &step);
    if (status != kXolStatusSuccess) {
        logError("Unable to get the PCIe IO Unit page.");
        return 1;
    }
    uint32_t links = ioUnit.size() > kPcieIoUnitLinks ? ioUnit[kPcieIoUnitLinks] : 0;
    const size_t room = ioUnit.size() > kPcieIoUnitEntries
                            ? (ioUnit.size() - kPcieIoUnitEntries) / kPcieIoUnitEntrySize
                            : 0;
    if (links > room)
        links = static_cast<uint32_t>(room);
    for (uint32_t link = 0; link < links; ++link) {
        ByteBuffer page;
        const HbaPageId id = {kPageTypeExtended, 1, kExtPageTypePcieLink, kPcieLinkByNumber + link};
        status = fetchHbaPage(context.handle, id, kPageSelectorCurrent, &page, &step);
        if (status == kXolStatusSuccess && page.size() < 24)
            status = kXolStatusFailure;  // too short for the three counters
        if (step == HbaPageStep::Allocate) {
            logError("Error in allocating memory for PCIe Link Page 1.");
            return 1;
        }
        if (status != kXolStatusSuccess) {
            logError("Error in getting page header for PCIe Link Page 1 ERROR CODE : %08x .",
                     status);
            return 1;
        }
        logPrintLine("%02d    0x%08x             0x%08x        0x%08x        ",
                     static_cast<int>(link), getLe32(page.data(), 12), getLe32(page.data(), 16),
                     getLe32(page.data(), 20));
    }
    return 0;
}

bool newestFamily(uint32_t family) {
    return family >= 8 && family <= 10;
}

uint32_t errorCounters(const PhyContext& context, PhySelection /*selection*/) {
    logPrintLine("%-5s %-18s %-30s %-15s %-18s", "Phy", "InvalidDWordCount",
                 "RunningDisparityErrorCounters", "LossSyncCount", "ResetSeqFailCount");
    for (uint32_t phy = 0; phy < context.phyCount; ++phy) {
        uint8_t page[kPhyPage1Size] = {};
        uint32_t size = sizeof page;
        uint32_t status =
            XolLib2ReadSasPhyPage1(context.handle, kPageFormNext, static_cast<uint16_t>(phy), page,
                                   &size, kPageSelectorCurrent);
        if (status == kXolStatusSuccess && size < kPhyPage1Size)
            status = kXolStatusFailure;  // the counters were not all sent
        if (status != kXolStatusSuccess) {
            logError("Error in getting SAS Phy page 1 ERROR CODE %08x .", status);
            return 1;
        }
        logPrintLine("%02d    0x%08x         0x%08x                     0x%08x      0x%08x       ",
                     static_cast<int>(phy), getLe32(page, 12), getLe32(page, 16), getLe32(page, 20),
                     getLe32(page, 24));
    }
    if (newestFamily(context.family))
        return pcieErrorCounters(context);
    return 0;
}

// ----------------------------------------------------------------- -evnt

uint32_t readEvents(const PhyContext& context, int phy, PhyEventList* events) {
    ByteBuffer page;
    const HbaPageId id = {kPageTypeExtended, 2, kExtPageTypeSasPhy, static_cast<uint32_t>(phy)};
    const uint32_t status = fetchHbaPage(context.handle, id, kPageSelectorCurrent, &page);
    if (status != kXolStatusSuccess)
        return status;
    decodePhyEvents(page.data(), page.size(), events);
    return kXolStatusSuccess;
}

void printEventList(int phy, const PhyEventList& events) {
    if (!events.configured) {
        logWarn("Phy #%02d: Events are not configured.", phy);
        return;
    }
    for (uint32_t i = 0; i < events.count; ++i) {
        logPrintLine("%-20s: 0x%08X", phyEventName(events.events[i].code),
                     events.events[i].counter);
    }
}

uint32_t singlePhyEvents(const PhyContext& context, int phy) {
    PhyEventList events;
    const uint32_t status = readEvents(context, phy, &events);
    if (status != kXolStatusSuccess) {
        logError("Error in getting SAS Phy page 2 ERROR CODE %08x .", status);
        return 1;
    }
    printEventList(phy, events);
    return 0;
}

uint32_t eventCounters(const PhyContext& context, PhySelection selection) {
    if (selection.last == kSinglePhy)
        return singlePhyEvents(context, selection.first);
    // Page 2 of every phy of the range: one table when they count the same events.
    static PhyEventList lists[256];
    bool same = true;
    for (int phy = selection.first; phy <= selection.last; ++phy) {
        PhyEventList& events = lists[phy - selection.first];
        if (readEvents(context, phy, &events) != kXolStatusSuccess ||
            !sameEventConfiguration(events, lists[0])) {
            same = false;
            break;
        }
    }
    if (!same) {
        uint32_t result = 0;
        for (int phy = selection.first; phy <= selection.last; ++phy) {
            logPrintLine("Phy %02d Events: ", phy);
            if (singlePhyEvents(context, phy) != 0)
                result = 1;
        }
        return result;
    }
    const PhyEventList& first = lists[0];
    if (!first.configured) {
        logWarn("SAS Phy events are not configured.");
        return 0;
    }
    logPrint("%-3s ", "Evnt");
    for (uint32_t i = 0; i < first.count; ++i)
        logPrint("%-20s", phyEventName(first.events[i].code));
    logPrint("\n");
    for (int phy = selection.first; phy <= selection.last; ++phy) {
        const PhyEventList& events = lists[phy - selection.first];
        logPrint("%-3d ", phy);
        for (uint32_t i = 0; i < events.count; ++i)
            logPrint("%08X%11s ", events.events[i].counter, " ");
        logPrint("\n");
    }
    return 0;
}

// ------------------------------------------------------------------- -da

uint32_t readIoUnit1WithSteps(const uint32_t* handle, ByteBuffer* page,
                              uint32_t selector = kPageSelectorCurrent) {
    HbaPageStep step = HbaPageStep::None;
    const uint32_t status = fetchHbaPage(handle, kSasIoUnitPage1Id, selector, page, &step);
    switch (step) {
        case HbaPageStep::None:
            return 0;
        case HbaPageStep::Header:
            logError("Error in getting page header for SAS IO Unit Page 1 ERROR CODE : %08x .",
                     status);
            return 1;
        case HbaPageStep::Allocate:
            logError("Error in allocating memory for SAS IO Unit Page 1.");
            return 1;
        case HbaPageStep::Read:
            logError("Error in getting SAS IO Unit Page 1 ERROR CODE = %08x .", status);
            return 1;
    }
    return 1;
}

uint32_t readDevicePage(const uint32_t* handle, uint16_t device, uint8_t* page) {
    uint32_t size = kDevicePage0Size;
    uint32_t status = XolLib2ReadSasDevicePage0(handle, kPageFormByHandle, device, page, &size,
                                                kPageSelectorCurrent);
    if (status == kXolStatusSuccess && size < kDevicePageSasAddress + 24)
        status = kXolStatusFailure;  // too short for the address, information and port
    return status;
}

const char* bit(uint32_t info, uint32_t mask) {
    return (info & mask) != 0 ? "1" : "0";
}

uint32_t printPcieList(const PhyContext& context) {
    if (!newestFamily(context.family)) {
        logPrintLine("Displaying PCIe devices...");
        logPrintLine("PCIe devices are not available.");
        return 0;
    }
    uint32_t devices = 0;
    if (XolLib2GetDeviceCount(context.handle, &devices) != kXolStatusSuccess) {
        logError("Unable to get the device count.");
        return 1;
    }
    uint32_t pcie = 0;
    for (uint32_t i = 0; i < devices; ++i) {
        uint8_t info[kXolDeviceInfoSize] = {};
        uint32_t size = sizeof info;
        if (XolLib2GetDeviceInfo(i, context.handle, nullptr, info, &size) == kXolStatusSuccess) {
            const uint32_t kind = getLe32(info, kDeviceInfoInterface);
            if (kind >= 3 && kind <= 5)
                ++pcie;
        }
    }
    if (pcie == 0) {
        logPrintLine("Displaying PCIe devices...");
        logPrintLine("No PCIe devices connected.");
        return 0;
    }
    return printPcieDevices(context.handle, devices);
}

uint32_t directAttached(const PhyContext& context, PhySelection /*selection*/) {
    ByteBuffer ioUnit;
    if (readIoUnit1WithSteps(context.handle, &ioUnit) != 0)
        return 1;
    const char* b = " ";
    logPrintLine("PHY   HBA SAS%12sE     ATTACHED %12s      P V %3s S S S S S S S A D S S D", b, b,
                 b);
    logPrintLine("      ADDRESS%12sN   P   H     DEVICE%12s O N %3s M M T T S S E T I A A T", b, b,
                 b);
    logPrintLine("             %12sB   H   N     ADDRESS%12sR D %3s P P P P P P P A R T T Y", b, b,
                 b);
    logPrintLine("             %12sL   Y   D      %12s      T R %3s T I T I T I D P A A A P", b, b,
                 b);
    logPrintLine("             %12sE       L      %12s                            I T D H E", b, b);
    logPrintLine(" ");
    for (uint32_t phy = 0; phy < context.phyCount; ++phy) {
        uint8_t phyPage[kPhyPage0Size] = {};
        uint32_t size = sizeof phyPage;
        uint32_t status =
            XolLib2ReadSasPhyPage0(context.handle, kPageFormNext, static_cast<uint16_t>(phy),
                                   phyPage, &size, kPageSelectorCurrent);
        if (status == kXolStatusSuccess && size < kPhyPage0AttachedPhy + 1)
            status = kXolStatusFailure;
        if (status != kXolStatusSuccess) {
            logError("Error in  getting SAS Phy page 0 for phy : %d ERROR CODE : %08x ",
                     static_cast<int>(phy), status);
            return 1;
        }
        uint8_t own[kDevicePage0Size] = {};
        status = readDevicePage(context.handle, getLe16(phyPage, kPhyPage0OwnHandle), own);
        if (status != kXolStatusSuccess) {
            logError("Error in  getting Device page 0 for phy : %d ERROR CODE : %08x .",
                     static_cast<int>(phy), status);
            return 1;
        }
        uint32_t word = 0;
        const bool disabled =
            ioUnit1Entry(ioUnit.data(), ioUnit.size(), phy, &word) && (word & kPhyDisabledBit) != 0;
        const char* enabled = disabled ? "N" : "Y";
        const uint32_t sasHigh = getLe32(own, kDevicePageSasAddress + 4);
        const uint32_t sasLow = getLe32(own, kDevicePageSasAddress);
        const uint16_t attached = getLe16(phyPage, kPhyPage0AttachedHandle);
        if (attached == 0) {
            logPrintLine(
                "%02d    %08x%08x %3s %3s %3s %5s %18s %s %5s %s %s %s %s %s %s %s %s %s %s "
                "%s",
                static_cast<int>(phy), sasHigh, sasLow, enabled, b, b, b, b, b, b, b, b, b, b, b, b,
                b, b, b, b, b);
            continue;
        }
        uint8_t peer[kDevicePage0Size] = {};
        status = readDevicePage(context.handle, attached, peer);
        if (status != kXolStatusSuccess) {
            logError("Error in  getting Device page 0 for phy : %d ERROR CODE : %08x .",
                     static_cast<int>(phy), status);
            return 1;
        }
        const uint32_t info = getLe32(peer, kDevicePageDeviceInfo);
        logPrintLine(
            "%02d    %08x%08x   %s   %-2d  %04x  %08x%08x%4d %-3s%4s %s %s %s %s %s %s %s "
            "%s %s %s %x",
            static_cast<int>(phy), sasHigh, sasLow, enabled,
            static_cast<int>(phyPage[kPhyPage0AttachedPhy]), attached,
            getLe32(peer, kDevicePageSasAddress + 4), getLe32(peer, kDevicePageSasAddress),
            static_cast<int>(peer[kDevicePagePort]), (info & kVendorTagBit) != 0 ? kVendorTag : "-",
            bit(info, 0x100), bit(info, 0x10), bit(info, 0x200), bit(info, 0x20), bit(info, 0x400),
            bit(info, 0x40), bit(info, 0x4000), bit(info, 0x2000), bit(info, 0x800),
            bit(info, 0x80), bit(info, 0x08), info & 3);
    }
    return printPcieList(context);
}

// ----------------------------------------------------------------- -port

uint32_t portDisplay(const PhyContext& context, PhySelection /*selection*/) {
    return showPortSettings(context.handle, context.phyCount, kPageSelectorCurrent);
}

}  // namespace

uint32_t showPortSettings(const uint32_t* handle, uint32_t phyCount, uint32_t iocPage1Selector) {
    ByteBuffer ioc;
    uint32_t status = fetchHbaPage(handle, kIocPage1Id, iocPage1Selector, &ioc);
    if (status == kXolStatusSuccess && ioc.size() < kIocPage1Size)
        status = kXolStatusFailure;
    if (status != kXolStatusSuccess) {
        logError("Error in getting port facts from IOC Page 1 ERROR CODE = %08x", status);
        return 1;
    }
    ByteBuffer ioUnit;
    if (readIoUnit1WithSteps(handle, &ioUnit, iocPage1Selector) != 0)
        return 1;
    if (ioUnit.size() < kIoUnit1Entries) {
        logError("Error in getting port facts from SAS IO Unit Page 1 ERROR CODE = %08x",
                 kXolStatusFailure);
        return 1;
    }
    const uint8_t* u = ioUnit.data();
    logPrintLine("%-35s : %d", "SATA maximum queue depth", u[kIoUnit1SataQueueDepth]);
    logPrintLine("%-35s : %d", "SAS maximum queue depth, Narrow",
                 getLe16(u, kIoUnit1NarrowQueueDepth));
    logPrintLine("%-35s : %d", "SAS maximum queue depth, Wide", getLe16(u, kIoUnit1WideQueueDepth));
    logPrintLine("%-35s : %d seconds", "Device missing report delay",
                 static_cast<int>(reportMissingDelaySeconds(u[kIoUnit1ReportMissingDelay])));
    logPrintLine("%-35s : %d seconds", "Device missing I/O delay", u[kIoUnit1IoMissingDelay]);
    const uint8_t* c = ioc.data();
    logPrintLine("%-35s : %s, Timeout is : %dus, Depth : %d", "Interrupt Coalescing",
                 (getLe32(c, kIocPage1Flags) & 1) != 0 ? "Enabled" : "Disabled",
                 static_cast<int>(getLe32(c, kIocPage1Timeout)), c[kIocPage1Depth]);
    const char* b = " ";
    logPrintLine("PHY %4sLink%4s  Link Rate%4sSSP%4s   SSP%4s   Port       Port", b, b, b, b, b);
    logPrintLine("    %4sEnabled %s  Max  Min %4sInitiator Target    Config     Number", b, b, b);
    for (uint32_t phy = 0; phy < phyCount; ++phy) {
        uint32_t word = 0;
        uint32_t info = 0;
        if (!ioUnit1Entry(u, ioUnit.size(), phy, &word) ||
            !ioUnit1DeviceInfo(u, ioUnit.size(), phy, &info)) {
            logError("Error in getting port facts from SAS IO Unit Page 1 ERROR CODE = %08x",
                     kXolStatusFailure);
            return 1;
        }
        const uint8_t rates = static_cast<uint8_t>(word >> 24);
        logPrintLine("%02d %4s %-3s %5s %-4s %-4s %2s %-3s %5s %-3s %5s %-7s%4s%d",
                     static_cast<int>(phy), b, (word & kPhyDisabledBit) != 0 ? "No" : "Yes", b,
                     maxLinkRateName(rates), minLinkRateName(rates), b,
                     (info & 0x40) != 0 ? "Yes" : "No", b, (info & 0x400) != 0 ? "Yes" : "No", b,
                     (word & kAutoPortConfigBit) != 0 ? "Auto" : "Manual", b,
                     static_cast<int>(word & 0xFF));
    }
    return 0;
}

uint32_t hbaPhyUsage() {
    const char* b = " ";
    logPrintLine("PHY Operations (SAS and PCIe)");
    logPrintLine(
        "The command is to display PHY/LINK information and perform PHY/LINK operations "
        "from Current region");
    static const char* const kPairs[][2] = {
        {"phy -da", "-da : Displays direct attached devices"},
        {"phy -port", "-port : Displays port status and configuration."},
        {"phy -on <PHY ID>", "-on : Sets the PHY in online mode"},
        {"phy -off <PHY ID>", "-off : Sets the PHY in offline mode"},
        {"phy -err", "-err : Displays PHY/LINK error counters"},
        {"phy -evnt", "-evnt : Displays PHY event counters for all the Phys"},
        {"phy -evnt <PHY ID>", "-evnt <PHY ID>: Displays PHY event counters for a PHY"},
    };
    for (const auto& pair : kPairs) {
        logPrintLine("%4s %s", b, pair[0]);
        logPrintLine("%8s %s", b, pair[1]);
    }
    logPrintLine("Example : phy -port");
    return 0;
}

uint32_t hbaPhyCommand(uint32_t count, char** words) {
    Target* target = nullptr;
    AdapterRecord* adapter = adapterForOptions(count, &target);
    if (adapter == nullptr)
        return 1;
    const PhyContext context = {&adapter->adapterHandle, adapter->phyCount, target->family};
    const PhyOption* chosen = nullptr;
    PhySelection selection = {0, kSinglePhy, 0};
    for (uint32_t i = 1; i < count; ++i) {
        const PhyOption* option = findOption(words[i]);
        if (option == nullptr) {
            logError("Invalid/Unknown argument '%s' specified.", words[i]);
            return 1;
        }
        if (chosen != nullptr) {
            logError("Argument '%s' cannot be used with other options.", words[i]);
            return 1;
        }
        chosen = option;
        selection.code = option->code;
        if (option->argument == PhyArgument::None)
            continue;
        // A following option word is not a phy number: it is left for the
        // check above.
        const bool hasPhy = i + 1 < count && findOption(words[i + 1]) == nullptr;
        if (hasPhy) {
            if (parsePhyRange(words[++i], context.phyCount, &selection.first, &selection.last) != 0)
                return 1;
        } else if (option->argument == PhyArgument::Required) {
            logError("Argument '%s' requires mandatory Phy number.", words[i]);
            return 1;
        } else {
            if (context.phyCount == 0)
                return 0;
            selection.first = 0;
            selection.last = static_cast<int>(context.phyCount) - 1;
        }
    }
    return chosen->handler(context, selection);
}
