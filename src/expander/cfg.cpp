#include "expander/cfg.h"

#include <cstring>

#include "expander/expander_access.h"
#include "shell/byte_buffer.h"
#include "shell/logger.h"
#include "shell/parse.h"

namespace {

constexpr uint32_t kMaxArguments = 4;
constexpr uint32_t kLastPage = 0xFFFE;
constexpr uint32_t kRegionCount = 3;  // 0 any, 1 persistent, 2 manufacturing
constexpr size_t kMaxHexDigits = 8;

struct CfgRequest {
    uint32_t page = 0;
    uint32_t region = kPageRegionNone;
    bool pageGiven = false;
    bool regionGiven = false;
};

enum class HexText { Ok, NotHex, TooLong };

// A number in hex with an optional "0x" or "0X".
HexText readHex(const char* text, uint32_t* value) {
    const char* digits = text;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits += 2;
    for (const char* p = digits; *p != '\0'; ++p) {
        const bool hex =
            (*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f') || (*p >= 'A' && *p <= 'F');
        if (!hex)
            return HexText::NotHex;
    }
    if (std::strlen(digits) > kMaxHexDigits)
        return HexText::TooLong;
    return parseHex32(text, value) == 0 ? HexText::Ok : HexText::NotHex;
}

uint32_t readPageNumber(const char* text, CfgRequest* request) {
    uint32_t value = 0;
    switch (readHex(text, &value)) {
        case HexText::NotHex:
            logError("Invalid page number specified. Please specify valid integer.");
            return 1;
        case HexText::TooLong:
            logError("Invalid page number '%s' specified. Please specify valid integer.", text);
            return 1;
        case HexText::Ok:
            break;
    }
    if (value < 1 || value > kLastPage) {
        logError("Invalid page number '%04x' specified. Page number should be in xxxx format.",
                 value);
        return 1;
    }
    request->page = value;
    return 0;
}

uint32_t readRegion(const char* text, CfgRequest* request) {
    uint32_t value = 0;
    if (readHex(text, &value) != HexText::Ok) {
        logError("Invalid region specified. Please specify valid integer.");
        return 1;
    }
    if (value >= kRegionCount) {
        logError("Invalid region specified. Please specify valid region.");
        return 1;
    }
    request->region = value;
    return 0;
}

uint32_t parseArguments(uint32_t count, char** words, CfgRequest* request) {
    for (uint32_t i = 1; i < count; ++i) {
        const char* option = words[i];
        const bool isPage = std::strcmp(option, "-n") == 0;
        if (!isPage && std::strcmp(option, "-f") != 0) {
            logError("Invalid or unknown option '%s' specified.", option);
            return 1;
        }
        bool& given = isPage ? request->pageGiven : request->regionGiven;
        if (given) {
            logError("Argument %s cannot be used multiple times.", option);
            return 1;
        }
        given = true;
        if (i + 1 >= count || words[i + 1][0] == '-') {
            logError("Argument %s requires mandatory parameter.", option);
            return 1;
        }
        ++i;
        if ((isPage ? readPageNumber(words[i], request) : readRegion(words[i], request)) != 0)
            return 1;
    }
    // Without a page there is nothing to read.
    if (!request->pageGiven) {
        logError("Invalid command syntax or unknown argument(s) specified.");
        return 1;
    }
    return 0;
}

// A page of length 0 is no page: that region failed.
uint32_t readPageFrom(Target* target, uint16_t page, uint8_t region, ByteBuffer* out,
                      uint32_t* length) {
    if (readExpanderPage(target, page, region, out, length) != 0)
        return 1;
    return *length == 0 ? 1 : 0;
}

}  // namespace

uint32_t expanderCfgCommand(uint32_t count, char** words) {
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return 1;
    }
    if (count < 2 || count > kMaxArguments + 1) {
        logError("Invalid command syntax or unknown argument(s) specified.");
        return 1;
    }
    CfgRequest request;
    if (parseArguments(count, words, &request) != 0)
        return 1;

    const uint16_t page = static_cast<uint16_t>(request.page);
    ByteBuffer buffer;
    uint32_t length = 0;
    uint32_t status = 1;
    if (request.region == kPageRegionNone) {
        status = readPageFrom(target, page, kPageRegionPersistent, &buffer, &length);
        if (status != 0)
            status = readPageFrom(target, page, kPageRegionManufacturing, &buffer, &length);
    } else {
        status = readPageFrom(target, page, static_cast<uint8_t>(request.region), &buffer, &length);
    }
    if (status != 0) {
        logError("Error in reading the config page.");
        return 1;
    }
    hexDump(buffer.data(), length);
    return 0;
}

uint32_t expanderCfgUsage() {
    logPrintLine("Config Page Operations");
    logPrintLine("This command is to Read expander config pages");
    logPrintLine("To read the config page:");
    logPrintLine("%4s %s", " ", "cfg -n <PageNumber> -f [region]");
    logPrintLine("%7s %s", " ", "-n: Page Number in hex (xxxx) format");
    logPrintLine("%7s %s", " ", "-f: Region type: 0 = Any, 1 = Persistent, 2 = Mfg");
    logPrintLine("Example : cfg -n 0xFE00 -f 0 ");
    return 0;
}
