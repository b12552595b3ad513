// Link rates of expander phys, without any device access: the codes the chip
// uses, their two printed forms, the register words that program a minimum
// and maximum rate, and the programmed pair read back from the enable word.
#pragma once

#include <cstddef>
#include <cstdint>

// 4-bit rate codes in the phy registers.
inline constexpr uint8_t kRateCode1G5 = 8;
inline constexpr uint8_t kRateCode3G = 9;
inline constexpr uint8_t kRateCode6G = 10;
inline constexpr uint8_t kRateCode12G = 11;
// The user types 1, 2, 3 for 3.0, 6.0 and 12.0 Gbps.
inline constexpr uint8_t kUserRateOffset = 8;

// Rate enable bits of the link configuration word at +8.
inline constexpr uint32_t kRateEnable3G = 0x3u << 20;
inline constexpr uint32_t kRateEnable6G = 0x3u << 18;
inline constexpr uint32_t kRateEnable12G = 0x3u << 16;
inline constexpr uint32_t kRateEnableAlways = 0xC0000000;

// "1.5 Gpbs" .. "12.0 Gpbs" for codes 8..11, "Unknown" otherwise (the link
// rate table's spelling).
const char* linkRateName(uint32_t code);
// The -da column: "01.5" .. "12.0" for codes 8..11, any other code as its
// decimal number. Returns out.
const char* linkRateColumn(uint32_t code, char* out, size_t size);

// What programming a minimum and maximum code writes.
struct RateProgram {
    uint8_t wordMin;  // W bits 0..3
    uint8_t wordMax;  // W bits 4..7 (never above 6.0 Gbps)
    bool enable3G;
    bool enable6G;
    bool enable12G;
};
enum class RateProgramStatus : uint32_t {
    Ok = 0,
    BadMin,  // min code outside 9..11
    BadMax,  // max code outside 9..11
    MinAboveMax,
};
RateProgramStatus rateProgram(uint32_t minCode, uint32_t maxCode, RateProgram* program);
// W with its codes replaced and bits 8..10 cleared (the first write).
uint32_t rateWordCleared(uint32_t word, const RateProgram& program);
// W as finally written: the cleared word plus enable bit 9 (3.0) and bit 10
// (6.0 or 12.0).
uint32_t rateWordEnabled(uint32_t word, const RateProgram& program);
// R, the rate enable word written at +8.
uint32_t rateEnableWord(const RateProgram& program);

// The programmed (min, max) codes that the enable word at +8 stands for;
// nothing enabled reads as 3.0 .. 12.0.
void programmedRates(uint32_t enableWord, uint8_t* minCode, uint8_t* maxCode);
