// The expander chips we support: device ID (bits 16-31 of the chip
// identification register) to family code and model name, and the revision
// text shown after the model name.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kChipIdRegister = 0xC380002C;
inline constexpr uint32_t kSasAddressRegister = 0xC0000048;
// Bit of the chip identification register that picks between two rows that
// share one device ID (set: the first row).
inline constexpr uint32_t kChipVariantBit = 1u << 6;
// High 32 bits of every SAS address our expanders are given: NAA 5, our
// company identifier and a zero nibble. `sasaddr -set` keeps it.
extern const uint32_t kExpanderSasCompanyPrefix;

struct ExpanderModel {
    uint16_t deviceId;  // 0 ends the table
    uint32_t family;    // 1 to 13
    const char* name;
};

extern const ExpanderModel kExpanderModelTable[];

inline uint16_t chipDeviceId(uint32_t chipId) {
    return static_cast<uint16_t>(chipId >> 16);
}
inline uint32_t chipRevision(uint32_t chipId) {
    return (chipId >> 8) & 0xFF;
}

// The first row for the device ID; nullptr when the chip is not supported.
const ExpanderModel* findExpanderModel(uint16_t deviceId);
// True when the row is the first of two rows sharing its device ID.
bool hasVariantRow(const ExpanderModel* model);
// The row to use: the first when the variant bit is known and set, else the second.
const ExpanderModel* pickVariant(const ExpanderModel* first, bool variantBitSet);

// "A0", "B0", "C0", "C1" or "REV 0x%02X".
void expanderRevisionText(uint32_t revision, char* out, size_t size);

// Family codes 8 to 13 are the second generation.
inline bool isSecondGeneration(uint32_t family) {
    return family >= 8 && family <= 13;
}
