#include "expander/phy_info.h"

#include "expander/expander_access.h"
#include "expander/phy_layout.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "targets/expander_device.h"
#include "targets/target_list.h"

namespace {

constexpr uint32_t kLinkBlockOffset = 0x40;
constexpr uint32_t kZoningOffset = 0x154;
constexpr uint32_t kEdfbTimingOffset = 0x1E0;
constexpr uint32_t kZoningEnabledBit = 1u << 24;
constexpr uint32_t kFirstHighPhy = 32;
constexpr uint32_t kLastEdfbPhy = 40;
constexpr size_t kEdfbPageMinimum = 16;

// Link block word 1 bits behind the eight -da flag columns, in column order:
// SMP, STP, SSP initiator; SMP, STP, SSP target; SATA; port selector.
constexpr uint32_t kProtocolFlagBits[kProtocolFlagCount] = {9, 10, 11, 1, 2, 3, 0, 7};

// Bit n of a 32-bit word; false for n beyond the word.
bool wordBit(uint32_t word, uint32_t n) {
    return n < 32 && ((word >> n) & 1) != 0;
}

}  // namespace

bool decodeLinkBlock(const uint8_t* block, size_t length, PhyInfoRecord* record) {
    if (block == nullptr || length < kLinkBlockLength)
        return false;
    const uint32_t word1 = getLe32(block, 4);
    record->attachedType = static_cast<uint8_t>((word1 >> 28) & 0x7);
    record->negotiatedRate = block[6] & 0x0F;
    record->attachedSasAddress =
        (static_cast<uint64_t>(getLe32(block, 16)) << 32) | getLe32(block, 20);
    record->attachedPhyId = block[27];
    record->routing = block[39] & 0x0F;
    for (size_t i = 0; i < kProtocolFlagCount; ++i)
        record->protocolFlags[i] = wordBit(word1, kProtocolFlagBits[i]);
    record->hardwareMinRate = block[35] & 0x0F;
    record->hardwareMaxRate = block[34] & 0x0F;
    return true;
}

void decodeZoning(uint32_t word, PhyInfoRecord* record) {
    record->zoningEnabled = (word & kZoningEnabledBit) != 0;
    record->zoneGroup = record->zoningEnabled ? static_cast<uint8_t>(word & 0xFF) : 0;
}

void decodeEdfbWords(const uint32_t words[kEdfbWordCount], PhyInfoRecord* record) {
    const uint32_t p = record->phy;
    if (p < kFirstHighPhy) {
        record->edfbEnabled = wordBit(words[0], p);
        record->edfbCapable = wordBit(words[2], p);
    } else {
        record->edfbEnabled = p <= kLastEdfbPhy && wordBit(words[1], p - kFirstHighPhy);
        record->edfbCapable = wordBit(words[3], p - kFirstHighPhy);
    }
}

bool decodeErrorLimit(const uint8_t* page, size_t length, PhyInfoRecord* record) {
    if (page == nullptr || length < kEdfbPageMinimum)
        return false;
    const size_t lowWord = length / 4 - 4;
    const uint32_t p = record->phy;
    if (p < kFirstHighPhy)
        record->errorLimit = wordBit(getLe32(page, lowWord * 4), p);
    else
        record->errorLimit = wordBit(getLe32(page, (lowWord + 1) * 4), p - kFirstHighPhy);
    return true;
}

bool decodeEdfbTiming(const uint8_t* block, size_t length, PhyInfoRecord* record) {
    if (block == nullptr || length < kEdfbTimingLength)
        return false;
    const uint32_t x = getLe32(block, 0);
    record->switchTimeout = static_cast<uint16_t>(x & 0x1FF);
    record->fastPathTimeout = static_cast<uint16_t>((x >> 12) & 0x1FF);
    record->maxLatency = block[3];
    return true;
}

uint32_t loadPhyContext(PhyReadContext* context) {
    context->target = currentExpander();
    if (context->target == nullptr)
        return 1;
    return getPhyCount(&context->phyCount);
}

namespace {

// Page 0xFF15 and the EDFB words: the same for every phy, read at the first.
uint32_t loadEdfb(PhyReadContext* context) {
    if (context->edfbLoaded)
        return 0;
    if (readExpanderPage(context->target, kPageEdfb, kPageRegionNone, &context->edfbPage,
                         &context->edfbPageLength) != 0 ||
        context->edfbPageLength < kEdfbPageMinimum) {
        logError("Unable to read config page.");
        return 1;
    }
    uint8_t bytes[kEdfbWordCount * 4] = {};
    if (readChipRegister(context->target, kEdfbWordsAddress, bytes, sizeof bytes) != 0)
        return 1;
    for (uint32_t i = 0; i < kEdfbWordCount; ++i)
        context->edfbWords[i] = getLe32(bytes, i * 4);
    context->edfbLoaded = true;
    return 0;
}

uint32_t collectEdfb(PhyReadContext* context, uint32_t statusBase, PhyInfoRecord* record) {
    if (loadEdfb(context) != 0)
        return 1;
    decodeEdfbWords(context->edfbWords, record);
    if (record->isVirtual)
        return 0;
    if (record->edfbEnabled &&
        !decodeErrorLimit(context->edfbPage.data(), context->edfbPageLength, record)) {
        logError("Unable to read config page.");
        return 1;
    }
    uint8_t timing[kEdfbTimingLength] = {};
    if (readChipRegister(context->target, statusBase + kEdfbTimingOffset, timing, sizeof timing) !=
        0) {
        return 1;
    }
    decodeEdfbTiming(timing, sizeof timing, record);
    return 0;
}

}  // namespace

uint32_t collectPhyInfo(PhyReadContext* context, uint32_t phy, bool edfb, PhyInfoRecord* record) {
    *record = PhyInfoRecord{};
    record->phy = phy;
    Target* target = context->target;
    if (target == nullptr)
        return 1;
    const uint32_t statusBase = phyStatusBase(phy, context->phyCount);
    uint8_t link[kLinkBlockLength] = {};
    if (readChipRegister(target, statusBase + kLinkBlockOffset, link, sizeof link) != 0)
        return 1;
    decodeLinkBlock(link, sizeof link, record);
    record->enabled = isPhyEnabled(phy);
    record->isVirtual = isVirtualPhy(phy, context->phyCount);
    uint32_t zoning = 0;
    if (readRegisterValue(target, statusBase + kZoningOffset, &zoning) != 0)
        return 1;
    decodeZoning(zoning, record);
    uint32_t blockAddress = 0;
    if (!phyRecordAddress(target->family, phy, &blockAddress) ||
        readChipRegister(target, blockAddress, record->phyBlock, sizeof record->phyBlock) != 0) {
        return 1;
    }
    return edfb ? collectEdfb(context, statusBase, record) : 0;
}
