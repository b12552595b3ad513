#include "hba/ioc.h"

#include <cstdio>
#include <cstring>

#include "hba/command_target.h"
#include "hba/ioc_decode.h"
#include "hba/phy.h"
#include "hba/show.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/options.h"
#include "shell/parse.h"
#include "shell/prompt.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint8_t kMfg5Number = 5;
constexpr size_t kWwidDigits = 16;

constexpr size_t kIoUnit1Flags = 4;
constexpr uint32_t kIoUnit1NcqDisabled = 0x100;
constexpr uint32_t kIoUnit1WriteCacheShift = 9;
constexpr uint32_t kIoUnit1WriteCacheMask = 0x3u << kIoUnit1WriteCacheShift;

// SAS IO Unit page 1 phy entry.
constexpr size_t kEntryPort = 0;
constexpr size_t kEntryPortFlags = 1;
constexpr size_t kEntryPhyFlags = 2;
constexpr size_t kEntryRates = 3;
constexpr size_t kEntryDeviceInfo = 4;
constexpr uint8_t kPortFlagAuto = 0x01;
constexpr uint8_t kPhyFlagDisabled = 0x08;
constexpr uint32_t kDeviceSspInitiator = 0x40;
constexpr uint32_t kDeviceSspTarget = 0x400;

const char* const kGaveUp = "Invalid value specified. Unable to complete the input.";
const char* const kTryAgain = "Invalid value specified. Try again";

enum class IocOption : uint32_t {
    Wwid = 6,
    DisErr = 7,
    ConfigSas = 10,
    Facts = 11,
    DisplaySas = 12,
    DisplayPcie = 13,
    ConfigPcie = 14,
};
struct IocOptionRow {
    const char* word;
    IocOption option;
};
constexpr IocOptionRow kIocOptions[] = {
    {"-wwid", IocOption::Wwid},
    {"-diserr", IocOption::DisErr},
    {"-configsas", IocOption::ConfigSas},
    {"-facts", IocOption::Facts},
    {"-displaysas", IocOption::DisplaySas},
    {"-configpcie", IocOption::ConfigPcie},
    {"-displaypcie", IocOption::DisplayPcie},
};

struct IocRequest {
    uint32_t wwidHigh = 0;
    uint32_t wwidLow = 0;
    bool setWwid = false;
    bool decodeFacts = false;
};

const IocOptionRow* findOption(const char* word) {
    for (const IocOptionRow& row : kIocOptions) {
        if (std::strcmp(row.word, word) == 0)
            return &row;
    }
    return nullptr;
}

bool isHexDigits(const char* text, size_t n) {
    if (std::strlen(text) != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::strchr("0123456789abcdefABCDEF", text[i]) == nullptr)
            return false;
    }
    return true;
}

// ------------------------------------------------------------------ -wwid

void writeEntryWwid(uint8_t* page, uint32_t phy, uint32_t high, uint32_t low) {
    const size_t e = kMfg5Entries + kMfg5EntrySize * phy;
    putLe32(page, e, low);
    putLe32(page, e + 4, high);
}

uint32_t showOrSetWwid(const AdapterRecord* adapter, const IocRequest& request) {
    const uint32_t* handle = &adapter->adapterHandle;
    uint32_t size = 0;
    uint32_t status = XolLib2ReadConfigPage(handle, 0, kPageTypeManufacturing, kMfg5Number, 0,
                                            kPageSelectorSize, nullptr, &size);
    if (status != kXolStatusSuccess) {
        logError("Error in getting page header for Manufacturing Page 5 ERROR CODE : %08x", status);
        return 1;
    }
    IocPage persistent;
    IocPage current;
    if (!persistent.bytes.allocate(size)) {
        logError("Error in allocate memory for Manufacturing Page 5");
        return 1;
    }
    if (!current.bytes.allocate(size)) {
        logError("Error in allocating memory for Manufacturing Page 5");
        return 1;
    }
    for (IocPage* copy : {&persistent, &current}) {
        uint32_t length = size;
        status = XolLib2ReadManufacturingPage5(
            handle, copy->bytes.data(), &length,
            copy == &persistent ? kPageSelectorNvram : kPageSelectorCurrent);
        copy->length = length < size ? length : size;
        // Without phy entry 0 there is no WWID to show.
        if (status == kXolStatusSuccess && mfg5PhyCount(copy->bytes.data(), copy->length) == 0)
            status = kXolStatusBufferTooSmall;
        if (status != kXolStatusSuccess) {
            logError("Error in reading Manufacturing page 5 ERROR CODE : %08x", status);
            return 1;
        }
    }
    const uint8_t* now = current.bytes.data();
    logPrintLine("Current WWID : %08x%08x", getLe32(now, kMfg5Entries + 4),
                 getLe32(now, kMfg5Entries));
    if (!request.setWwid)
        return 0;

    // Both copies take the new addresses; a count the page cannot hold is
    // cut to the entries both copies have.
    const uint32_t a = mfg5PhyCount(current.bytes.data(), current.length);
    const uint32_t b = mfg5PhyCount(persistent.bytes.data(), persistent.length);
    const uint32_t phys = a < b ? a : b;
    ByteBuffer oldCurrent;
    if (!oldCurrent.allocate(current.length)) {
        logError("Error in allocating memory for Manufacturing Page 5");
        return 1;
    }
    std::memcpy(oldCurrent.data(), current.bytes.data(), current.length);
    uint32_t high = request.wwidHigh;
    uint32_t low = request.wwidLow;
    for (uint32_t i = 0; i < phys; ++i) {
        writeEntryWwid(current.bytes.data(), i, high, low);
        writeEntryWwid(persistent.bytes.data(), i, high, low);
        nextWwid(&high, &low);
    }
    status = writeIocPage(adapter, kPageTypeManufacturing, kMfg5Number, 0, kPageSelectorCurrent,
                          &current);
    if (status == kXolStatusSuccess) {
        status = writeIocPage(adapter, kPageTypeManufacturing, kMfg5Number, 0, kPageSelectorNvram,
                              &persistent);
        if (status != kXolStatusSuccess) {
            // Leave no running WWID that the next reset would take back.
            IocPage restore;
            restore.bytes = std::move(oldCurrent);
            restore.length = current.length;
            const uint32_t undo = writeIocPage(adapter, kPageTypeManufacturing, kMfg5Number, 0,
                                               kPageSelectorCurrent, &restore);
            logError("Error in set new WWID ERROR CODE : %08x", status);
            if (undo != kXolStatusSuccess)
                logError("Unable to restore the previous WWID ERROR CODE : %08x", undo);
            return 1;
        }
    }
    if (status != kXolStatusSuccess) {
        logError("Error in set new WWID ERROR CODE : %08x", status);
        return 1;
    }
    logPrintLine("Changed WWID : %08x%08x", getLe32(now, kMfg5Entries + 4),
                 getLe32(now, kMfg5Entries));
    return 0;
}

// ---------------------------------------------------------------- -diserr

uint32_t showDiscoveryErrors(const AdapterRecord* adapter) {
    IocPage page;
    uint32_t status = 0;
    switch (readIocPage(adapter, kPageTypeExtended, 0, kExtPageTypeSasIoUnit, kPageSelectorCurrent,
                        &page, &status)) {
        case IocPageStep::Ok:
            break;
        case IocPageStep::Header:
            logError("Error is getting header for SAS IO Unit page 0 ERROR CODE : %08x", status);
            return 1;
        case IocPageStep::Allocate:
            logError("Error in allocating memory for SAS IO Unit Page 0 ERROR CODE : %08x",
                     kXolStatusNoMemory);
            return 1;
        case IocPageStep::Read:
            logError("Error in reading SAS IO Unit Page 0 ERROR CODE : %08x.", status);
            return 1;
    }
    const uint32_t phys = discoveryPhyCount(page.bytes.data(), page.length);
    for (uint32_t phy = 0; phy < phys; ++phy) {
        DiscoveryEntry entry = {};
        discoveryEntry(page.bytes.data(), page.length, phy, &entry);
        if (entry.inProgress)
            logPrintLine("Discovery is in progress for PHY : %d.", static_cast<int>(phy));
        if (entry.status == 0) {
            logPrintLine("No Discovery Errors for PHY : %d", static_cast<int>(phy));
            continue;
        }
        logPrintLine("Discovery Errors for PHY %d :", static_cast<int>(phy));
        for (size_t i = 0; i < kDiscoveryErrorBitCount; ++i) {
            if ((entry.status & kDiscoveryErrorBits[i].mask) != 0)
                logPrintLine("%s", kDiscoveryErrorBits[i].text);
        }
        logPrintLine(" ");
    }
    return 0;
}

// ---------------------------------------------------- -displaysas, -configsas

const char* writeCacheName(uint32_t code) {
    switch (code) {
        case 0:
            return "Enable write cache";
        case 1:
            return "Disable write cache";
        case 2:
            return "Do not modify write cache";
        default:
            return "Reserved / Unknown";
    }
}

uint32_t displaySasSettings(const AdapterRecord* adapter, const IocPage& ioUnit1) {
    const uint32_t flags = getLe32(ioUnit1.bytes.data(), kIoUnit1Flags);
    const bool ncqOff = (flags & kIoUnit1NcqDisabled) != 0;
    const uint32_t cache = (flags & kIoUnit1WriteCacheMask) >> kIoUnit1WriteCacheShift;
    logPrintLine("");
    logPrintLine("%-35s : %s (%d)", "SATA Native Command Queuing", ncqOff ? "Disabled" : "Enabled",
                 ncqOff ? 1 : 0);
    logPrintLine("%-35s : %s (%d)", "SATA Write Caching", writeCacheName(cache),
                 static_cast<int>(cache));
    // The persistent copies: what -configsas changes and the next reset uses.
    if (showPortSettings(&adapter->adapterHandle, adapter->phyCount, kPageSelectorNvram) != 0)
        return 1;
    logPrintLine("");
    return 0;
}

// Sets or clears `bits` of a byte by a 0/1 answer: 0 sets when `zeroSets`.
void applyBit(uint8_t* byte, uint8_t bits, uint32_t answer, bool zeroSets) {
    const bool set = (answer == 0) == zeroSets;
    *byte = set ? static_cast<uint8_t>(*byte | bits) : static_cast<uint8_t>(*byte & ~bits);
}

// The per-phy answers, asked once and applied to the chosen entries.
struct PhyAnswers {
    uint32_t link, maxRate, minRate, initiator, target, portConfig, port;
    uint32_t asked[7];
};

uint32_t askPhySettings(PhyAnswers* a) {
    struct Question {
        const char* prompt;
        uint32_t max;
        uint32_t* value;
    };
    const Question questions[] = {
        {"Phy link [0=Enabled , 1=Disabled, ENTER=Do not change] : ", 1, &a->link},
        {"Max Link Rate [0=1.5 Gbps, 1=3.0 Gbps, 2=6.0 Gbps, 3=12.0 Gbps, ENTER=Do not change] : ",
         3, &a->maxRate},
        {"Min Link Rate [0=1.5 Gbps, 1=3.0 Gbps, 2=6.0 Gbps, 3=12.0 Gbps, ENTER=Do not change] : ",
         3, &a->minRate},
        {"SSP Initiator [0=Enabled , 1=Disabled, ENTER=Do not change] : ", 1, &a->initiator},
        {"SSP Target [0=Enabled , 1=Disabled, ENTER=Do not change] : ", 1, &a->target},
        {"Port Config [0=Manual , 1=Auto, ENTER=Do not change] : ", 1, &a->portConfig},
    };
    for (size_t i = 0; i < sizeof questions / sizeof questions[0]; ++i) {
        const uint32_t r =
            askSetting(questions[i].prompt, questions[i].max, true, questions[i].value);
        if (r == 1)
            return 1;
        a->asked[i] = r == 0;
    }
    a->asked[6] = 0;
    if (a->asked[5] && a->portConfig == 0) {
        if (askSetting("Port number [0 to 255] : ", 255, false, &a->port) != 0)
            return 1;
        a->asked[6] = 1;
    }
    return 0;
}

void applyPhySettings(const PhyAnswers& a, uint8_t* entry) {
    if (a.asked[0])
        applyBit(&entry[kEntryPhyFlags], kPhyFlagDisabled, a.link, false);
    if (a.asked[1])
        entry[kEntryRates] =
            static_cast<uint8_t>(((a.maxRate + 8) << 4) | (entry[kEntryRates] & 0xF));
    if (a.asked[2])
        entry[kEntryRates] = static_cast<uint8_t>((entry[kEntryRates] & 0xF0) | (a.minRate + 8));
    uint32_t info = getLe32(entry, kEntryDeviceInfo);
    if (a.asked[3])
        info = a.initiator == 0 ? info | kDeviceSspInitiator : info & ~kDeviceSspInitiator;
    if (a.asked[4])
        info = a.target == 0 ? info | kDeviceSspTarget : info & ~kDeviceSspTarget;
    putLe32(entry, kEntryDeviceInfo, info);
    if (a.asked[5] && a.portConfig == 1)
        entry[kEntryPortFlags] = static_cast<uint8_t>(entry[kEntryPortFlags] | kPortFlagAuto);
    if (a.asked[6]) {
        entry[kEntryPortFlags] = static_cast<uint8_t>(entry[kEntryPortFlags] & ~kPortFlagAuto);
        entry[kEntryPort] = static_cast<uint8_t>(a.port);
    }
}

// The questions of -configsas; 1 when input gave up (nothing is written).
uint32_t askSasSettings(IocPage* ioUnit1, IocPage* sasUnit1, uint32_t phys) {
    uint8_t* io = ioUnit1->bytes.data();
    uint8_t* s1 = sasUnit1->bytes.data();
    uint32_t v = 0;
    uint32_t r = askSetting(
        "SATA Native Command Queuing [0=Enabled, 1=Disabled, ENTER=Do not change] : ", 1, true, &v);
    if (r == 1)
        return 1;
    uint32_t flags = getLe32(io, kIoUnit1Flags);
    if (r == 0)
        flags = v == 0 ? flags & ~kIoUnit1NcqDisabled : flags | kIoUnit1NcqDisabled;
    r = askSetting(
        "SATA Write Caching [0=Enabled, 1=Disabled, 2=Use target setting, ENTER=Do not change] : ",
        2, true, &v);
    if (r == 1)
        return 1;
    if (r == 0)
        flags = (flags & ~kIoUnit1WriteCacheMask) | (v << kIoUnit1WriteCacheShift);
    putLe32(io, kIoUnit1Flags, flags);

    r = askSetting("SATA Maximum Queue Depth [0 to 255, ENTER=Do not change] : ", 255, true, &v);
    if (r == 1)
        return 1;
    if (r == 0)
        s1[kSasUnit1SataDepth] = static_cast<uint8_t>(v);
    r = askSetting("SAS Max Queue Depth, Narrow [0 to 65535, ENTER=Do not change] : ", 65535, true,
                   &v);
    if (r == 1)
        return 1;
    if (r == 0)
        putLe16(s1, kSasUnit1NarrowDepth, static_cast<uint16_t>(v));
    r = askSetting("SAS Max Queue Depth, Wide [0 to 65535, ENTER=Do not change] : ", 65535, true,
                   &v);
    if (r == 1)
        return 1;
    if (r == 0)
        putLe16(s1, kSasUnit1WideDepth, static_cast<uint16_t>(v));
    for (;;) {
        r = askSetting("Device Missing Report Delay [0 to 2032, ENTER=Do not change] : ", 2032,
                       true, &v);
        if (r == 1)
            return 1;
        if (r == 3)
            break;
        uint8_t delay = 0;
        if (encodeReportDelay(v, &delay)) {
            s1[kSasUnit1ReportDelay] = delay;
            break;
        }
        logError("Invalid value specified. Delay should be multiples of 16.");
    }
    r = askSetting("Device Missing I/O Delay [0 to 255, ENTER=Do not change] : ", 255, true, &v);
    if (r == 1)
        return 1;
    if (r == 0)
        s1[kSasUnit1IoDelay] = static_cast<uint8_t>(v);

    for (;;) {
        uint32_t phy = 0;
        r = askPhySelection(phys, &phy);
        if (r == 1)
            return 1;
        if (r == 3)
            return 0;
        PhyAnswers answers = {};
        if (askPhySettings(&answers) != 0)
            return 1;
        for (uint32_t i = 0; i < phys; ++i) {
            if (phy == phys || phy == i)
                applyPhySettings(answers, s1 + kSasUnit1Entries + kSasUnit1EntrySize * i);
        }
    }
}

uint32_t sasSettings(const AdapterRecord* adapter, bool configure) {
    if (currentExecutionMode() == ExecutionMode::Batch) {
        logError("Change IO Unit settings cannot be executed in Batch Mode.");
        return 1;
    }
    IocPage ioUnit1;
    IocPage sasUnit1;
    uint32_t status = 0;
    bool failed = false;
    switch (readIocPage(adapter, kPageTypeIoUnit, 1, 0, kPageSelectorNvram, &ioUnit1, &status)) {
        case IocPageStep::Ok:
            if (ioUnit1.length < kIoUnit1Flags + 4) {
                logError("Error in reading IO Unit Page 1. ERROR CODE %08x",
                         kXolStatusBufferTooSmall);
                failed = true;
            }
            break;
        case IocPageStep::Allocate:
            logError("Error in allocating memory for IO Unit Page 1.");
            failed = true;
            break;
        case IocPageStep::Header:
        case IocPageStep::Read:
            logError("Error in reading IO Unit Page 1. ERROR CODE %08x", status);
            failed = true;
            break;
    }
    if (!failed) {
        switch (readIocPage(adapter, kPageTypeExtended, 1, kExtPageTypeSasIoUnit,
                            kPageSelectorNvram, &sasUnit1, &status)) {
            case IocPageStep::Ok:
                if (sasUnit1.length < kSasUnit1Entries) {
                    logError("Error in reading SAS IO Unit Page 1 ERROR CODE %08x .",
                             kXolStatusBufferTooSmall);
                    failed = true;
                }
                break;
            case IocPageStep::Header:
                logError("Error in getting page header for SAS IO Unit Page 1 ERROR CODE : %08x",
                         status);
                failed = true;
                break;
            case IocPageStep::Allocate:
                logError("Error in allocating memory for SAS IO Unit Page 1.");
                failed = true;
                break;
            case IocPageStep::Read:
                logError("Error in reading SAS IO Unit Page 1 ERROR CODE %08x .", status);
                failed = true;
                break;
        }
    }
    if (failed) {
        logError("Error in performing SAS Configuration parameters.");
        return 1;
    }
    if (displaySasSettings(adapter, ioUnit1) != 0) {
        logError("Error in performing SAS Configuration parameters.");
        return 1;
    }
    if (!configure)
        return 0;
    const uint32_t phys = sasUnit1EntryCount(sasUnit1.length, adapter->phyCount);
    if (askSasSettings(&ioUnit1, &sasUnit1, phys) != 0)
        return 1;
    status = writeIocPage(adapter, kPageTypeIoUnit, 1, 0, kPageSelectorNvram, &ioUnit1);
    if (status == kXolStatusSuccess) {
        status = writeIocPage(adapter, kPageTypeExtended, 1, kExtPageTypeSasIoUnit,
                              kPageSelectorNvram, &sasUnit1);
    }
    if (status != kXolStatusSuccess) {
        logError("Error in setting the new values ERROR CODE : %08x", status);
        return 1;
    }
    return 0;
}

// ----------------------------------------------------------------- -facts

const char* const kFactsLine = "-----------------------------------\n";

void printIocFacts(const IocFactsFields& f) {
    logPrint("%s", kFactsLine);
    logPrintLine("%-30s : %04X", "IOC Number", f.iocNumber);
    logPrintLine("%-30s : %08X", "IOC Exceptions", f.iocExceptions);
    logPrintLine("%-30s : %02X", "Max Chain Depth", f.maxChainDepth);
    logPrintLine("%-30s : %s (%02X)", "Who Init", whoInitName(f.whoInit), f.whoInit);
    logPrintLine("%-30s : %02X", "Number of Ports", f.numberOfPorts);
    logPrintLine("%-30s : %02X", "Max MSIx Vectors", f.maxMsixVectors);
    logPrintLine("%-30s : %04X", "Max Request Credit", f.requestCredit);
    logPrintLine("%-30s : %04X", "Product ID", f.productId);
    logPrintLine("%-30s : %08X", "IOC Capabilities", f.iocCapabilities);
    logPrintLine("%-30s : %04X", "IOC Request Frame Size", f.requestFrameSize);
    logPrintLine("%-30s : %04X", "IOC Max Chain Segment Size", f.maxChainSegmentSize);
    logPrintLine("%-30s : %04X", "Max Initiators", f.maxInitiators);
    logPrintLine("%-30s : %04X", "Max Targets", f.maxTargets);
    logPrintLine("%-30s : %04X", "Max SAS Expanders", f.maxSasExpanders);
    logPrintLine("%-30s : %04X", "Max Enclosures", f.maxEnclosures);
    logPrintLine("%-30s : %04X [%s - %d, %s - %d]", "Protocol Flags", f.protocolFlags,
                 "SCSI Initiator", (f.protocolFlags >> 1) & 1, "SCSI Target", f.protocolFlags & 1);
    logPrintLine("%-30s : %04X", "High Priority Credit", f.highPriorityCredit);
    logPrintLine("%-30s : %04X", "Max Reply Descriptor Queue", f.maxReplyDescriptorQueue);
    logPrintLine("%-30s : %02X", "Reply Frame Size", f.replyFrameSize);
    logPrintLine("%-30s : %02X", "Max Volumes", f.maxVolumes);
    logPrintLine("%-30s : %04X", "Max Dev Handles", f.maxDevHandles);
    logPrintLine("%-30s : %04X", "Max Persistent Entries", f.maxPersistentEntries);
    logPrintLine("%-30s : %04X", "Min Dev Handle", f.minDevHandle);
}

void printPortFacts(const PortFactsFields& f) {
    logPrint("%s", kFactsLine);
    logPrintLine("%-30s : %02X", "Port Number", f.portNumber);
    logPrintLine("%-30s : %04X", "IOC Status", f.iocStatus);
    logPrintLine("%-30s : %08X", "IOC Log Info", f.iocLogInfo);
    logPrintLine("%-30s : %s (%02X)", "Port Type", portTypeName(f.portType), f.portType);
    logPrintLine("%-30s : %04X", "Max Posted Buffers", f.maxPostedBuffers);
}

uint32_t showFacts(const AdapterRecord* adapter, bool decode) {
    uint8_t facts[kXolIocFactsReplySize] = {};
    uint32_t length = sizeof facts;
    IocFactsFields iocFields = {};
    if (requestIocFacts(adapter, facts, &length, decode ? kIocFactsDecodedSize : 1) != 0 ||
        (decode && !decodeIocFacts(facts, length, &iocFields))) {
        logError("Unable to get the IOC Facts reply.");
        return 1;
    }
    logPrintLine("IOC Facts: ");
    if (decode)
        printIocFacts(iocFields);
    else
        hexDump(facts, length);
    const uint32_t ports = length > kIocFactsNumberOfPorts ? facts[kIocFactsNumberOfPorts] : 0;
    for (uint32_t port = 0; port < ports; ++port) {
        uint8_t reply[kXolPortFactsReplySize] = {};
        uint32_t replyLength = sizeof reply;
        XolStatusInfo info = {};
        uint32_t status = XolLib2GetPortFacts(&adapter->adapterHandle, static_cast<uint8_t>(port),
                                              reply, &replyLength, &info);
        PortFactsFields portFields = {};
        const bool flagged = (info.flags & kXolStatusFlagIocStatus) != 0;
        if (status == kXolStatusSuccess && !flagged &&
            (replyLength == 0 || (decode && !decodePortFacts(reply, replyLength, &portFields))))
            status = kXolStatusBufferTooSmall;
        if (status != kXolStatusSuccess) {
            logError("Port Facts request failure. Status - %x.", status);
            return 1;
        }
        if (flagged) {
            logError("IOC Status failed.");
            terminate(kExitIocStatus | (info.iocStatus & 0xFFFF));
        }
        logPrintLine("\n\nPort Facts:  Port %d", static_cast<int>(port));
        if (decode)
            printPortFacts(portFields);
        else
            hexDump(reply, replyLength);
    }
    return 0;
}

}  // namespace

IocPageStep readIocPage(const AdapterRecord* adapter, uint8_t type, uint8_t number, uint8_t ext,
                        uint32_t selector, IocPage* page, uint32_t* status) {
    uint32_t size = 0;
    *status = XolLib2ReadConfigPage(&adapter->adapterHandle, 0, type, number, ext,
                                    kPageSelectorSize, nullptr, &size);
    if (*status != kXolStatusSuccess)
        return IocPageStep::Header;
    if (!page->bytes.allocate(size)) {
        *status = kXolStatusNoMemory;
        return IocPageStep::Allocate;
    }
    uint32_t length = size;
    *status = XolLib2ReadConfigPage(&adapter->adapterHandle, 0, type, number, ext, selector,
                                    page->bytes.data(), &length);
    if (*status != kXolStatusSuccess)
        return IocPageStep::Read;
    page->length = length < size ? length : size;
    return IocPageStep::Ok;
}

uint32_t writeIocPage(const AdapterRecord* adapter, uint8_t type, uint8_t number, uint8_t ext,
                      uint32_t selector, IocPage* page) {
    uint32_t length = page->length;
    return XolLib2WriteConfigPage(&adapter->adapterHandle, 0, type, number, ext, selector,
                                  page->bytes.data(), &length);
}

uint32_t askSetting(const char* prompt, uint32_t max, bool allowEnter, uint32_t* value) {
    const PromptSpec question =
        makePromptSpec(value, prompt, kTryAgain, 0, max, allowEnter ? 1 : 0);
    const uint32_t r = askNumber(question, 1);
    if (r == kAnswerRejected) {
        logError("%s", kGaveUp);
        return 1;
    }
    return r == kAnswerEmpty ? 3 : 0;
}

uint32_t askPhySelection(uint32_t count, uint32_t* phy) {
    char prompt[160];
    char invalid[80];
    std::snprintf(prompt, sizeof prompt,
                  "Select phy to perform the change [0 to %d, %d=All phys, ENTER=Do not change] : ",
                  static_cast<int>(count) - 1, static_cast<int>(count));
    std::snprintf(invalid, sizeof invalid, "Invalid value specified. Please enter 0 to %d or %d",
                  static_cast<int>(count) - 1, static_cast<int>(count));
    const PromptSpec question = makePromptSpec(phy, prompt, invalid, 0, count, 1);
    const uint32_t r = askNumber(question, 1);
    if (r == kAnswerRejected) {
        logError("%s", kGaveUp);
        return 1;
    }
    return r == kAnswerEmpty ? 3 : 0;
}

uint32_t hbaIocUsage() {
    logPrintLine("IOC Operations");
    logPrintLine("This command is to display/modify IOC settings from NVSRAM/persistent region.");
    logPrintLine("%4sioc -diserr", "");
    logPrintLine("%8s-diserr : Displays the discovery errors of all Phys.", "");
    logPrintLine("%4sioc -wwid [-set <16 byte hex value>]", "");
    logPrintLine("%8s-wwid : Displays the current WWID.", "");
    logPrintLine("%8s-wwid -set <16 byte hex value> : Changes the current WWID to the value", "");
    logPrintLine("%40s given by the user.", "");
    logPrintLine("%4sioc -displaysas", "");
    logPrintLine("%8s-displaysas : Display SAS IO Unit and IO settings.", "");
    logPrintLine("%4sioc -configsas", "");
    logPrintLine("%8s-configsas : Configures or changes SAS IO Unit and IO settings.", "");
    logPrintLine("%4sioc -displaypcie", "");
    logPrintLine("%8s-displaypcie : Display PCIe IO Unit and IO settings.", "");
    logPrintLine("%4sioc -configpcie", "");
    logPrintLine("%8s-configpcie : Configures or changes PCIe IO Unit and IO settings.", "");
    logPrintLine("%4sioc -facts [-decode]", "");
    logPrintLine("%8s-facts : Prints the IOCFacts and PortFacts reply in binary format.", "");
    logPrintLine("%8s-facts -decode : Optional to print the values in decoded format.", "");
    logPrintLine("Example : ioc -configsas");
    return 0;
}

uint32_t hbaIocCommand(uint32_t count, char** words) {
    Target* target = nullptr;
    AdapterRecord* adapter = adapterForOptions(count, &target);
    if (adapter == nullptr)
        return 1;
    IocRequest request;
    const IocOptionRow* chosen = nullptr;
    for (uint32_t i = 1; i < count; ++i) {
        const IocOptionRow* row = findOption(words[i]);
        if (row == nullptr) {
            logError("Unknown argument '%s'", words[i]);
            return 1;
        }
        if (chosen != nullptr) {
            logError("Option '%s' cannot be used with any other option.", words[i]);
            return 1;
        }
        chosen = row;
        if (row->option == IocOption::Wwid && i + 1 < count &&
            findOption(words[i + 1]) == nullptr) {
            if (std::strcmp(words[i + 1], "-set") != 0) {
                logError("Unknown option '%s", words[i + 1]);
                return 1;
            }
            if (i + 2 >= count || !isHexDigits(words[i + 2], kWwidDigits)) {
                logError("Provide a valid WWID in 16 byte hex format");
                return 1;
            }
            parseHexDigits(words[i + 2], &request.wwidHigh, 7);
            parseHexDigits(words[i + 2] + 8, &request.wwidLow, 7);
            request.setWwid = true;
            i += 2;
        } else if (row->option == IocOption::Facts && i + 1 < count &&
                   findOption(words[i + 1]) == nullptr) {
            if (std::strcmp(words[i + 1], "-decode") != 0) {
                logError("Invalid argument(s) specified.");
                return 1;
            }
            request.decodeFacts = true;
            ++i;
        }
    }
    switch (chosen->option) {
        case IocOption::Wwid:
            return showOrSetWwid(adapter, request);
        case IocOption::DisErr:
            return showDiscoveryErrors(adapter);
        case IocOption::ConfigSas:
            return sasSettings(adapter, true);
        case IocOption::DisplaySas:
            return sasSettings(adapter, false);
        case IocOption::Facts:
            return showFacts(adapter, request.decodeFacts);
        case IocOption::DisplayPcie:
            return iocPcieSettings(target, adapter, false);
        case IocOption::ConfigPcie:
            return iocPcieSettings(target, adapter, true);
    }
    return 1;
}
