#include "hba/cfg.h"

#include <cstring>
#include <vector>

#include "hba/cfg_pages.h"
#include "hba/command_target.h"
#include "hba/hba_page.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/parse.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

enum CfgCode : uint32_t {
    kOptType = 1,
    kOptNumber = 2,
    kOptAddress = 3,
    kOptRegion = 4,
    kOptOffset = 5,
    kOptWrite = 6,
    kOptNonDefault = 7,
    kOptResetDefault = 8,
    kOptDumpAll = 9,
    kOptCount = 10,
};

struct CfgOptionRow {
    const char* word;
    uint32_t code;
};
constexpr CfgOptionRow kCfgOptions[] = {
    {"-t", kOptType},
    {"-n", kOptNumber},
    {"-a", kOptAddress},
    {"-f", kOptRegion},
    {"-w", kOptWrite},
    {"-o", kOptOffset},
    {"-nondefault", kOptNonDefault},
    {"-resetdefault", kOptResetDefault},
    {"-dumpall", kOptDumpAll},
};

struct CfgRequest {
    uint32_t type = 0;
    uint32_t number = 0;
    uint32_t address = 0;
    uint32_t region = 1;
    uint32_t offset = 0;
    std::vector<uint32_t> data;
    uint32_t uses[kOptCount] = {};
};

constexpr uint32_t kRegionCurrent = 1;
constexpr uint32_t kRegionDefault = 2;
constexpr uint32_t kRegionNvram = 3;
constexpr uint32_t kStatusMask29 = ~(1u << 29);

struct PageFamily {
    uint8_t type;
    uint8_t highest;
    const char* name;
};
constexpr PageFamily kPageFamilies[] = {
    {0x00, 11, "IO Unit Pages"},     {0x01, 8, "IOC Pages"},
    {0x02, 4, "BIOS Pages"},         {0x10, 9, "SAS IO Unit Pages"},
    {0x11, 1, "SAS Expander Pages"}, {0x12, 2, "SAS Device Pages"},
    {0x13, 4, "SAS PHY Pages"},      {0x14, 0, "Log Pages"},
    {0x15, 0, "Enclosure Pages"},    {0x16, 0, "Raid Configuration Pages"},
    {0x18, 0, "SAS Port Pages"},     {0x19, 1, "Ethernet Pages"},
    {0x1B, 1, "PCIe IO Unit Pages"}, {0x1E, 2, "PCIe Link Pages"},
};

const CfgOptionRow* findCfgOption(const char* word) {
    for (const CfgOptionRow& row : kCfgOptions) {
        if (std::strcmp(row.word, word) == 0)
            return &row;
    }
    return nullptr;
}

bool isDataWord(const char* text) {
    if (std::strlen(text) != 8)
        return false;
    for (size_t i = 0; i < 8; ++i) {
        if (std::strchr("0123456789abcdefABCDEF", text[i]) == nullptr)
            return false;
    }
    return true;
}

// Hex values of -t, -a and -o; -t must name an 8-bit type.
bool parseHexValue(const char* option, const char* text, uint32_t max, uint32_t* out) {
    if (!isHexString(text) || parseHex32(text, out) != 0 || *out > max) {
        logError("Invalid '%s' value specified for %s.", text, option);
        return false;
    }
    return true;
}

// Decimal values of -n (8-bit) and -f (32-bit).
bool parseDecimalValue(const char* option, const char* text, uint64_t max, uint32_t* out) {
    uint64_t v = 0;
    const bool ok = isDecimalString(text) && parseDecimalChecked(text, &v) && v <= max;
    const bool zeroAllowed = std::strcmp(option, "-n") == 0 && std::strcmp(text, "0") == 0;
    if (!ok || (v == 0 && !zeroAllowed)) {
        logError("Invalid value specified for %s.", option);
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

// 0 with the request filled; 1 after reporting the first error.
uint32_t parseCfg(uint32_t count, char** words, CfgRequest* req) {
    for (uint32_t i = 1; i < count; ++i) {
        const char* word = words[i];
        const CfgOptionRow* row = findCfgOption(word);
        if (row == nullptr) {
            logError("Invalid Argument '%s'.", word);
            return 1;
        }
        const uint32_t code = row->code;
        if ((code == kOptNonDefault || code == kOptResetDefault) && i > 2) {
            logError("Correct format: cfg %s -t <PageType> -n <PageNumber>.", word);
            return 1;
        }
        if (code > kOptNumber && (req->uses[kOptNonDefault] + req->uses[kOptResetDefault] +
                                  req->uses[kOptDumpAll]) > 0) {
            logError("Option %s cannot be used with -nondefault/-resetdefault/-dumpall.", word);
            return 1;
        }
        if (req->uses[code] > 0) {
            logError("Argument %s cannot be used multiple times.", word);
            return 1;
        }
        ++req->uses[code];
        if (code >= kOptNonDefault)
            continue;
        if (code == kOptWrite) {
            while (i + 1 < count && words[i + 1][0] != '-') {
                if (!isDataWord(words[i + 1])) {
                    logError("Data specified to write should be in xxxxxxxx hex format.");
                    return 1;
                }
                uint32_t v = 0;
                parseHex32(words[i + 1], &v);
                req->data.push_back(v);
                ++i;
            }
            if (req->data.empty()) {
                logError("Provide valid data to write in xxxxxxxx hex format.");
                return 1;
            }
            continue;
        }
        if (i + 1 >= count) {
            logError("Option %s requires mandatory argument.", word);
            return 1;
        }
        const char* value = words[++i];
        bool ok = true;
        switch (code) {
            case kOptType:
                ok = parseHexValue(word, value, 0xFF, &req->type);
                break;
            case kOptNumber:
                ok = parseDecimalValue(word, value, 0xFF, &req->number);
                break;
            case kOptAddress:
                if (std::strlen(value) != 8) {
                    logError("'%s' specified value should be in xxxxxxxx hex format.", value);
                    return 1;
                }
                ok = parseHexValue(word, value, 0xFFFFFFFF, &req->address);
                break;
            case kOptRegion:
                ok = parseDecimalValue(word, value, 0xFFFFFFFF, &req->region);
                break;
            case kOptOffset:
                ok = parseHexValue(word, value, 0xFFFFFFFF, &req->offset);
                break;
            default:
                break;
        }
        if (!ok)
            return 1;
    }
    return 0;
}

HbaPageId pageIdOf(const CfgRequest& req) {
    const SentPageType sent = sentPageType(static_cast<uint8_t>(req.type));
    return {sent.type, static_cast<uint8_t>(req.number), sent.ext, req.address};
}

uint32_t readOne(const AdapterRecord* adapter, const CfgRequest& req) {
    uint32_t selector = req.region;
    if (selector == 0)
        selector = kRegionCurrent;
    if (selector > kRegionNvram) {
        logError("Invalid region selected.");
        return 1;
    }
    ByteBuffer page;
    if (readHbaPage(&adapter->adapterHandle, pageIdOf(req), selector, &page) != 0) {
        logError("Unable to retrieve the page or invalid page.");
        return 1;
    }
    return hexDump(page.data(), static_cast<uint32_t>(page.size()));
}

uint32_t writeOne(const AdapterRecord* adapter, const CfgRequest& req) {
    uint32_t region = req.region == 0 ? kRegionCurrent : req.region;
    // Selector 2 would put the page back to its defaults and drop the data.
    if (region == kRegionDefault || region > kRegionNvram) {
        logError("Invalid region selected to write.");
        return 1;
    }
    if (!writeOffsetAllowed(req.type, req.offset)) {
        logError("Write operation cannot be performed at offset %08x for this pagetype.",
                 req.offset);
        return 1;
    }
    if (req.offset % 4 != 0) {
        logError("Invalid offset specified. Offset is not DWORD aligned.");
        return 1;
    }
    if (req.data.empty()) {
        logError("Invalid data specified for write operation.");
        return 1;
    }
    const HbaPageId id = pageIdOf(req);
    ByteBuffer page;
    if (readHbaPage(&adapter->adapterHandle, id, region, &page) != 0) {
        logError("Unable to retrieve the page or Invalid page.");
        return 1;
    }
    if (!writeRangeFits(static_cast<uint32_t>(page.size()), req.offset,
                        static_cast<uint32_t>(req.data.size()))) {
        logError("PageOffset or the number of values specified to write are out of range.");
        return 1;
    }
    for (size_t i = 0; i < req.data.size(); ++i)
        putLe32(page.data(), req.offset + 4 * i, req.data[i]);
    const uint32_t status = writeHbaPage(&adapter->adapterHandle, id, region, &page);
    if (status != kXolStatusSuccess) {
        logError("Unable to write the page. ERROR CODE : %08x", status);
        return 1;
    }
    logPrintLine("Page has been successfully written.");
    return 0;
}

void printMismatch(void* /*context*/, uint32_t offset, uint32_t def, uint32_t nvram) {
    logPrintLine("Mismatch at offset %08x : default = %08x and nvram = %08x ", offset, def, nvram);
}

enum class CompareOutcome { Done, Skipped, Failed };

// Compares (and with reset restores) one page. `name` is null for -t/-n.
CompareOutcome comparePage(const AdapterRecord* adapter, uint8_t requestedType, uint8_t number,
                           const char* name, bool reset) {
    const uint32_t* handle = &adapter->adapterHandle;
    const SentPageType sent = sentPageType(requestedType);
    uint32_t size = 0;
    uint32_t status = XolLib2ReadConfigPage(handle, 0, sent.type, number, sent.ext,
                                            kPageSelectorSize, nullptr, &size);
    if (status == kXolStatusConfigNoPage || status == kXolStatusConfigInvalidType) {
        if (name != nullptr)
            return CompareOutcome::Skipped;
        logError("PageType specified is obsolete or invalid.");
        return CompareOutcome::Failed;
    }
    if (status != kXolStatusSuccess) {
        logError("Error in getting page header. Check the page parameters %08x.", status);
        return CompareOutcome::Failed;
    }
    ByteBuffer def;
    ByteBuffer nvram;
    if (!def.allocate(size)) {
        logError("Error in allocating memory for default read page buffer.");
        return CompareOutcome::Failed;
    }
    uint32_t defLength = size;
    status = XolLib2ReadConfigPage(handle, 0, sent.type, number, sent.ext, kPageSelectorDefault,
                                   def.data(), &defLength);
    if ((status & kStatusMask29) == kXolStatusConfigInvalidAction) {
        if (name != nullptr)
            return CompareOutcome::Skipped;
        logError("Page entered is either obsolete or default page not present.");
        return CompareOutcome::Failed;
    }
    if (status != kXolStatusSuccess) {
        logError("Error in default read page ERROR CODE : %08x.", status);
        return CompareOutcome::Failed;
    }
    uint32_t nvLength = size;
    if (!nvram.allocate(size) ||
        XolLib2ReadConfigPage(handle, 0, sent.type, number, sent.ext, kPageSelectorNvram,
                              nvram.data(), &nvLength) != kXolStatusSuccess) {
        logError("Error in NVRAM read page.");
        return CompareOutcome::Failed;
    }
    // Only the bytes both reads delivered are compared (and written back).
    const uint32_t length = defLength < size ? defLength : size;
    const uint32_t nvHeld = nvLength < size ? nvLength : size;
    logPrintLine("");
    if (name != nullptr) {
        logPrintLine("Persistent page valid for Page : '%s' Number : %02x", name, number);
    } else {
        logPrintLine(
            "Persistent page valid for PageType : 0x%02x, ExtPageType : 0x%02x, "
            "PageNumber : %d",
            sent.type, requestedType, number);
    }
    const uint32_t differences =
        comparePages(def.data(), length, nvram.data(), nvHeld, printMismatch, nullptr);
    if (!reset || differences == 0)
        return CompareOutcome::Done;
    uint32_t writeLength = length;
    status = XolLib2WriteConfigPage(handle, 0, sent.type, number, sent.ext, kPageSelectorNvram,
                                    def.data(), &writeLength);
    if (status != kXolStatusSuccess) {
        char typeName[8];
        std::snprintf(typeName, sizeof typeName, "0x%02x", requestedType);
        logError(
            "Error in set page from nvram to default for Page : %s Number : %02x ERROR CODE "
            "%08x.",
            name != nullptr ? name : typeName, number, status);
        return CompareOutcome::Failed;
    }
    if (name != nullptr) {
        logPrintLine("Page : '%s' Number : %02x restored to default values.", name, number);
    } else {
        logPrintLine(
            "PageType : 0x%02x, ExtPageType : %02x, PageNumber : %d restored to default "
            "values.",
            sent.type, requestedType, number);
    }
    return CompareOutcome::Done;
}

uint32_t compareAndReset(const AdapterRecord* adapter, const CfgRequest& req, bool reset) {
    const bool haveType = req.uses[kOptType] > 0;
    const bool haveNumber = req.uses[kOptNumber] > 0;
    if (haveType != haveNumber) {
        logError(
            "-t and -n options are mandatory for default/reset settings for individual pages.");
        return 1;
    }
    if (haveType) {
        if ((req.type & 0xF0) == 0) {
            logError("The specified page is read only and write operation is not supported.");
            return 1;
        }
        return comparePage(adapter, static_cast<uint8_t>(req.type),
                           static_cast<uint8_t>(req.number), nullptr,
                           reset) == CompareOutcome::Failed
                   ? 1
                   : 0;
    }
    for (const PageFamily& family : kPageFamilies) {
        for (uint32_t n = 0; n <= family.highest; ++n) {
            if (comparePage(adapter, family.type, static_cast<uint8_t>(n), family.name, reset) ==
                CompareOutcome::Failed)
                return 1;
        }
    }
    return 0;
}

}  // namespace

uint32_t hbaCfgUsage() {
    logPrintLine("Config Page Operations");
    logPrintLine("This command is to Dump/Read/Write/Reset config pages/NVDATA settings");
    logPrintLine("%s %s", " ", "To dump all pages,");
    logPrintLine("%s %s", " ", "cfg -dumpall");
    logPrintLine("%s %s", " ", "To Read the config page, ");
    logPrintLine("%s %s", " ", "cfg -t <PageType> -n <PageNumber> -a [Address] -f [Region]");
    logPrintLine("%4s %4s %s", " ", "-t", ": Page type in hex");
    logPrintLine("%4s %4s %s", " ", "-n", ": Page number in hex");
    logPrintLine("%4s %4s %s", " ", "-a", ": Address in hex, i.e. 'xxxxxxxx'");
    logPrintLine("%4s %4s %s", " ", "-f", ": Region type. 1 = Current; 2 = Default; 3 = NVSRAM");
    logPrintLine("%4s %4s %s", " ", " ",
                 "  Optional parameter, if not specified, by default 'Current'");
    logPrintLine("%s %s", " ", "To Write the config page, ");
    logPrintLine("%s %s", " ",
                 "cfg -t <PageType> -n <PageNumber> -o <Offset> -w <Data> -f [Region]");
    logPrintLine("%4s %4s %s", " ", "-o", ": Offset value in hex and must be DWORD aligned");
    logPrintLine("%4s %4s %s", " ", "-w", ": Data to be written in hex and in DWORD format.");
    logPrintLine("%s %s", " ", "To display the non default pages,");
    logPrintLine("%s %s", " ", "cfg -nondefault [-t <PageType> -n <PageNumber>]");
    logPrintLine("%s %s", " ", "Compares the nvsram and default config pages &");
    logPrintLine("%s %s", " ", "displays the mismatch at offset.");
    logPrintLine("%s %s", " ", "To reset the non-default pages,");
    logPrintLine("%s %s", " ", "cfg -resetdefault [-t <PageType> -n <PageNumber>]");
    logPrintLine("%s %s", " ", "Compares & resets default config pages &");
    logPrintLine("%s %s", " ", "displays the mismatch at offset.");
    logPrintLine("Example : cfg -nondefault -t 10 -n 7 ");
    return 0;
}

uint32_t hbaCfgCommand(uint32_t count, char** words) {
    Target* target = nullptr;
    AdapterRecord* adapter = adapterForOptions(count, &target);
    if (adapter == nullptr)
        return 1;
    CfgRequest req;
    if (parseCfg(count, words, &req) != 0)
        return 1;
    if (req.uses[kOptDumpAll] > 0)
        return dumpAllPages(target, adapter);
    if (req.uses[kOptNonDefault] > 0 || req.uses[kOptResetDefault] > 0)
        return compareAndReset(adapter, req, req.uses[kOptResetDefault] > 0);
    if (req.uses[kOptType] > 0 && req.uses[kOptNumber] > 0) {
        const bool offset = req.uses[kOptOffset] > 0;
        const bool data = req.uses[kOptWrite] > 0;
        if (!offset && !data)
            return readOne(adapter, req);
        if (offset && data)
            return writeOne(adapter, req);
        logError("PageOffset and Page Write Data are mandatory for write operation.");
        return 1;
    }
    logError("PageType and PageNumber are mandatory for read/write operation(s).");
    return 1;
}
