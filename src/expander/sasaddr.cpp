#include "expander/sasaddr.h"

#include <cstring>

#include "expander/expander_access.h"
#include "expander/mfg_region.h"
#include "expander/region_transfer.h"
#include "expander/text_sink.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/parse.h"
#include "targets/expander_device.h"
#include "targets/expander_models.h"

namespace {

constexpr uint8_t kBufferIdManufacturing = 0xE3;
constexpr uint32_t kManufacturingReadChunk = 0x60000;
constexpr uint32_t kAddressPageMinimum = 12;
constexpr size_t kWwidDigits = 16;
constexpr size_t kHalfDigits = 8;
constexpr uint32_t kLowBitsMask = 0x3F;

uint32_t showAddress(Target* target) {
    ByteBuffer page;
    uint32_t length = 0;
    if (readExpanderPage(target, kPageSasAddress, kPageRegionNone, &page, &length) != 0) {
        logError("Unable to get the SAS address.");
        return 1;
    }
    if (length < kAddressPageMinimum) {
        logError("Invalid page length or NULL value. Unable to get the SAS address.");
        return 1;
    }
    ExpanderDevice* device = expanderOf(target);
    device->sasAddress =
        (static_cast<uint64_t>(getLe32(page.data(), 4)) << 32) | getLe32(page.data(), 8);
    logPrintLine("Current SAS Address      : %s", formatSasAddress(device->sasAddress));
    return 0;
}

bool isWwidText(const char* text) {
    if (std::strlen(text) != kWwidDigits)
        return false;
    for (size_t i = 0; i < kWwidDigits; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// Reads the manufacturing region whole, patches the address records and
// writes it back. 1 after the messages of the failing step.
uint32_t patchRegion(Target* target, uint64_t address) {
    ByteBuffer region;
    BufferReadStep step = BufferReadStep::Done;
    if (readWholeBuffer(target, kBufferIdManufacturing, kManufacturingReadChunk, &region, &step) !=
        0) {
        switch (step) {
            case BufferReadStep::Allocation:
                logError("Error in allocating memory.");
                return 1;
            case BufferReadStep::Empty:
                break;  // no records: reported below
            default:
                logError("Unable to read the manufacturing region values.");
                return 1;
        }
    }
    LoggerSink sink;
    if (!patchSasAddress(region.data(), region.size(), address, sink)) {
        logError("Can't change SAS Address for this device.");
        logError("SAS Address/Report General page not available.");
        return 1;
    }
    return writeRegion(target, kBufferIdManufacturing, region.data(),
                       static_cast<uint32_t>(region.size()), kWriteModeData);
}

uint32_t setAddress(Target* target, const char* wwid, bool reset) {
    if (!isWwidText(wwid)) {
        logError("Provide a valid WWID in 16 byte hex format");
        return 1;
    }
    char high[kHalfDigits + 2] = {};
    char low[kHalfDigits + 2] = {};
    splitAtWidth(wwid, high, low, kHalfDigits);
    uint32_t highWord = 0;
    uint32_t lowWord = 0;
    parseHexDigits(high, &highWord, kHalfDigits - 1);
    parseHexDigits(low, &lowWord, kHalfDigits - 1);

    showAddress(target);
    if ((lowWord & kLowBitsMask) != kLowBitsMask) {
        logError("LSB bytes mask value(s) are not proper");
        return 1;
    }
    if (highWord != kExpanderSasCompanyPrefix) {
        logError("MSB bytes mask value(s) are not proper");
        return 1;
    }
    const uint64_t address = (static_cast<uint64_t>(kExpanderSasCompanyPrefix) << 32) | lowWord;
    if (patchRegion(target, address) != 0) {
        logError("Unable to set the Enclosure SAS address.");
        return 1;
    }
    if (reset && resetExpander(address, ResetPurpose::AddressChange) != 0)
        return 1;
    logPrintLine("Changed SAS Address      : %s", formatSasAddress(address));
    return 0;
}

}  // namespace

uint32_t expanderSasAddressCommand(uint32_t count, char** words) {
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return 1;
    }
    if (count == 1)
        return showAddress(target);
    const bool set = count >= 3 && std::strcmp(words[1], "-set") == 0;
    if (set && count == 3)
        return setAddress(target, words[2], true);
    if (set && count == 4 && std::strcmp(words[3], "-nr") == 0)
        return setAddress(target, words[2], false);
    logError("Invalid argument(s) specified.");
    return 1;
}

uint32_t expanderSasAddressUsage() {
    logPrintLine("SAS address operation");
    logPrintLine("This command is to Get/Set the expander SAS address");
    logPrintLine("To get the expander SAS address.");
    logPrintLine("%4s %s", "", "sasaddr");
    logPrintLine("");
    logPrintLine("To set the expander SAS address.");
    logPrintLine("%4s %s", "", "sasaddr -set <WWID> [-nr]");
    logPrintLine("%8s %s", "", "Mandatory argument of <WWID> in AABBCCDDAABBCCDD hex format");
    logPrintLine("%8s %s", "", "The specified <WWID> will be set and expander will be reset.");
    logPrintLine("%8s %s", "", "-nr optional argument to not to reset.");
    logPrintLine("");
    logPrintLine("Example : sasaddr -set AABBCCDDAABBCCDD");
    return 0;
}
