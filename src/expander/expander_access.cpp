#include "expander/expander_access.h"

#include <cstring>
#include <string>
#include <vector>

#include "expander/phy_layout.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/parse.h"
#include "shell/prompt.h"
#include "targets/expander_device.h"
#include "targets/scsi_status.h"
#include "targets/target_list.h"

namespace {

constexpr uint8_t kBufferIdPage = 0xE6;
constexpr uint8_t kBufferIdReset = 0xE9;
constexpr uint32_t kPageHeaderLength = 4;
constexpr uint32_t kPhyResetSettleMs = 500;
constexpr uint32_t kErrorCounterBytes = 16;

uint32_t currentFamily() {
    const Target* target = currentExpander();
    return target != nullptr ? target->family : 0;
}

// Writes a command to the phy control word, waits, and reads it back.
uint32_t controlPhy(uint32_t phy, uint32_t command, uint32_t* readBack) {
    Target* target = currentExpander();
    uint32_t address = 0;
    if (target == nullptr || !phyControlWordAddress(target->family, phy, &address))
        return 1;
    if (writeRegisterValue(target, address, command) != 0)
        return 1;
    sleepMilliseconds(kPhyResetSettleMs);
    return readRegisterValue(target, address, readBack);
}

}  // namespace

Target* currentExpander() {
    Target* target = currentTarget();
    if (target == nullptr || target->kind != TargetKind::Expander)
        return nullptr;
    return expanderOf(target) != nullptr ? target : nullptr;
}

uint32_t writeChipRegister(Target* target, uint32_t address, const uint8_t* data, uint32_t length) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr || length > 0xFFFF)
        return 1;
    uint8_t cdb[kBufferCdbLength];
    buildChipRegisterCdb(cdb, kOpWriteBuffer, address, static_cast<uint16_t>(length));
    return device->write(target, cdb, kBufferCdbLength, data, length, nullptr);
}

uint32_t writeRegisterValue(Target* target, uint32_t address, uint32_t value) {
    uint8_t bytes[4];
    putLe32(bytes, 0, value);
    return writeChipRegister(target, address, bytes, sizeof bytes);
}

uint32_t readRegisterValue(Target* target, uint32_t address, uint32_t* value) {
    uint8_t bytes[4] = {};
    if (readChipRegister(target, address, bytes, sizeof bytes) != 0)
        return 1;
    *value = getLe32(bytes, 0);
    return 0;
}

void buildPageCdb(uint8_t* cdb, uint16_t page, uint16_t allocationLength, uint8_t region) {
    startBufferCdb(cdb, kOpReadBuffer, kBufferModeVendor, kBufferIdPage);
    putBe16(cdb, 3, page);
    putBe16(cdb, 5, allocationLength);
    cdb[7] = region;
}

uint32_t readExpanderPage(Target* target, uint16_t page, uint8_t region, ByteBuffer* out,
                          uint32_t* length) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr)
        return 1;
    uint8_t cdb[kBufferCdbLength];
    uint8_t header[kPageHeaderLength] = {};
    buildPageCdb(cdb, page, kPageHeaderLength, region);
    if (device->read(target, cdb, kBufferCdbLength, header, sizeof header, nullptr) != 0)
        return 1;

    const uint16_t pageLength = getLe16(header, 0);
    ByteBuffer buffer;
    if (!buffer.allocate(pageLength)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    buildPageCdb(cdb, page, pageLength, region);
    if (device->read(target, cdb, kBufferCdbLength, buffer.data(), pageLength, nullptr) != 0) {
        return 1;
    }
    *out = std::move(buffer);
    *length = pageLength;
    return 0;
}

uint32_t getPhyCount(uint32_t* count) {
    Target* target = currentExpander();
    uint32_t value = 0;
    if (target == nullptr || readRegisterValue(target, kPhyCountRegister, &value) != 0)
        return 1;
    *count = phyCountFromRegister(target->family, value);
    return 0;
}

uint32_t checkPhyNumber(const char* text, int32_t* phy) {
    if (text == nullptr || !isDecimalString(text)) {
        logError("Invalid Phy number specified.");
        return 1;
    }
    const size_t length = std::strlen(text);
    if (length < 1 || length > 2) {
        logError("Invalid Phy number specified. Phy number is not in the range.");
        return 1;
    }
    const uint32_t value = parseDecimal(text);
    uint32_t count = 0;
    if (getPhyCount(&count) != 0) {
        logError("Unable to get total number of phys.");
        return 1;
    }
    if (value >= count) {
        logError("Invalid Phy number specified. Phy number is not in the range.");
        return 1;
    }
    *phy = static_cast<int32_t>(value);
    return 0;
}

uint32_t parsePhyList(const char* text, int32_t* first, int32_t* last) {
    if (text == nullptr) {
        logError("Invalid Phy number specified. Provide a valid Phy number.");
        return 1;
    }
    // Split a copy: the caller's word stays intact.
    std::vector<char> copy(text, text + std::strlen(text) + 1);
    uint32_t count = 0;
    std::vector<char*> pieces;
    if (!splitByDelimiter(copy.data(), '-', &count, &pieces) || count < 1 || count > 2) {
        logError("Invalid Phy number specified. Provide a valid Phy number.");
        return 1;
    }
    int32_t low = -1;
    int32_t high = -1;
    if (checkPhyNumber(pieces[0], &low) != 0)
        return 1;
    if (count == 2) {
        if (checkPhyNumber(pieces[1], &high) != 0)
            return 1;
        if (low > high) {
            logError("Invalid Phy range specified.");
            return 1;
        }
        if (low == high)
            high = -1;
    }
    *first = low;
    *last = high;
    return 0;
}

bool isPhyEnabled(uint32_t phy) {
    Target* target = currentExpander();
    uint32_t address = 0;
    uint32_t value = 0;
    if (target == nullptr || !phyControlWordAddress(target->family, phy, &address))
        return false;
    if (readRegisterValue(target, address, &value) != 0)
        return false;
    return value != kPhyControlDisable;
}

uint32_t linkResetPhy(uint32_t phy) {
    uint32_t readBack = 0;
    if (controlPhy(phy, kPhyControlLinkReset, &readBack) != 0)
        return 1;
    return (readBack & 0x1) == 0 ? 0 : 1;
}

uint32_t hardResetPhy(uint32_t phy) {
    uint32_t readBack = 0;
    if (controlPhy(phy, kPhyControlHardReset, &readBack) != 0)
        return 1;
    return (readBack & 0x2) == 0 ? 0 : 1;
}

uint32_t clearPhyErrorCounters(uint32_t phy) {
    Target* target = currentExpander();
    uint32_t address = 0;
    if (target == nullptr || !phyErrorCounterAddress(currentFamily(), phy, &address))
        return 1;
    const uint8_t zeros[kErrorCounterBytes] = {};
    return writeChipRegister(target, address, zeros, sizeof zeros);
}

uint32_t disablePhy(uint32_t phy, uint32_t* readBack) {
    Target* target = currentExpander();
    uint32_t address = 0;
    if (target == nullptr || !phyControlWordAddress(target->family, phy, &address))
        return 1;
    if (writeRegisterValue(target, address, kPhyControlDisable) != 0)
        return 1;
    return readRegisterValue(target, address, readBack);
}

uint32_t resetExpander(uint64_t matchAddress, ResetPurpose purpose) {
    logPrintLine("Resetting the expander...");
    Target* target = currentExpander();
    ExpanderDevice* device = expanderOf(target);
    static constexpr uint8_t kResetCdb[kBufferCdbLength] = {
        kOpWriteBuffer, 0x01, kBufferIdReset, 0, 0, 0, 0, 0, 0x03, 0};
    // Exactly the three bytes the block announces: a device takes no more, and
    // a longer data-out may be flagged as an overrun.
    static constexpr uint8_t kResetData[3] = {0x00, 0x01, 0x00};
    if (device == nullptr || device->write(target, kResetCdb, kBufferCdbLength, kResetData,
                                           sizeof kResetData, nullptr) != 0) {
        logError("Reset Failed.");
        return 1;
    }
    // The old target goes away with the first rescan.
    target = nullptr;
    device = nullptr;
    for (uint32_t attempt = 0; attempt < kRediscoveryAttempts; ++attempt) {
        sleepMilliseconds(kRediscoveryPauseMs);
        rescanExpanders();
        setCurrentTarget(nullptr);
        for (uint32_t i = 1; i <= targetCount(); ++i) {
            Target* candidate = targetAt(i);
            const ExpanderDevice* found = expanderOf(candidate);
            if (candidate->kind == TargetKind::Expander && found != nullptr &&
                found->sasAddress == matchAddress) {
                setCurrentTarget(candidate);
                logPrintLine("%s", purpose == ResetPurpose::AddressChange
                                       ? "SAS address changed successfully."
                                       : "Reset completed successfully.");
                return 0;
            }
        }
    }
    if (purpose == ResetPurpose::AddressChange) {
        logPrintLine(
            "SAS address changed but unable to discover the expander with changed SAS "
            "address.");
    } else {
        logError("Unable to discover any expander.");
        printTargetTable();
    }
    return 1;
}
