#include "expander/link_rate.h"

#include <cstdio>

namespace {

struct RateRow {
    uint8_t code;
    const char* name;
    const char* column;
};
constexpr RateRow kRates[] = {
    {kRateCode1G5, "1.5 Gpbs", "01.5"},
    {kRateCode3G, "3.0 Gpbs", "03.0"},
    {kRateCode6G, "6.0 Gpbs", "06.0"},
    {kRateCode12G, "12.0 Gpbs", "12.0"},
};

const RateRow* rateRow(uint32_t code) {
    for (const RateRow& row : kRates) {
        if (row.code == code)
            return &row;
    }
    return nullptr;
}

// (min, max) -> the codes W carries and the rates enabled. The chip's word
// holds at most the 6.0 Gbps code; 12.0 Gbps is reached through the enables.
struct ProgramRow {
    uint8_t minCode;
    uint8_t maxCode;
    RateProgram program;
};
constexpr ProgramRow kProgramRows[] = {
    {kRateCode3G, kRateCode3G, {kRateCode3G, kRateCode3G, true, false, false}},
    {kRateCode3G, kRateCode6G, {kRateCode3G, kRateCode6G, true, true, false}},
    {kRateCode3G, kRateCode12G, {kRateCode3G, kRateCode6G, true, true, true}},
    {kRateCode6G, kRateCode6G, {kRateCode6G, kRateCode6G, false, true, false}},
    {kRateCode6G, kRateCode12G, {kRateCode6G, kRateCode6G, false, true, true}},
    {kRateCode12G, kRateCode12G, {kRateCode6G, kRateCode6G, false, false, true}},
};

constexpr uint32_t kWordCodeMask = 0xFF;
constexpr uint32_t kWordEnableMask = 0x7u << 8;
constexpr uint32_t kWordEnable3G = 1u << 9;
constexpr uint32_t kWordEnableFaster = 1u << 10;

bool isProgrammable(uint32_t code) {
    return code >= kRateCode3G && code <= kRateCode12G;
}

}  // namespace

const char* linkRateName(uint32_t code) {
    const RateRow* row = rateRow(code);
    return row != nullptr ? row->name : "Unknown";
}

const char* linkRateColumn(uint32_t code, char* out, size_t size) {
    const RateRow* row = rateRow(code);
    if (row != nullptr)
        std::snprintf(out, size, "%s", row->column);
    else
        std::snprintf(out, size, "%u", code);
    return out;
}

RateProgramStatus rateProgram(uint32_t minCode, uint32_t maxCode, RateProgram* program) {
    if (!isProgrammable(minCode))
        return RateProgramStatus::BadMin;
    if (!isProgrammable(maxCode))
        return RateProgramStatus::BadMax;
    if (minCode > maxCode)
        return RateProgramStatus::MinAboveMax;
    for (const ProgramRow& row : kProgramRows) {
        if (row.minCode == minCode && row.maxCode == maxCode) {
            *program = row.program;
            return RateProgramStatus::Ok;
        }
    }
    return RateProgramStatus::MinAboveMax;  // not reached: the table is complete
}

uint32_t rateWordCleared(uint32_t word, const RateProgram& program) {
    word &= ~(kWordCodeMask | kWordEnableMask);
    return word | program.wordMin | (static_cast<uint32_t>(program.wordMax) << 4);
}

uint32_t rateWordEnabled(uint32_t word, const RateProgram& program) {
    word = rateWordCleared(word, program);
    if (program.enable3G)
        word |= kWordEnable3G;
    if (program.enable6G || program.enable12G)
        word |= kWordEnableFaster;
    return word;
}

uint32_t rateEnableWord(const RateProgram& program) {
    uint32_t word = kRateEnableAlways;
    if (program.enable3G)
        word |= kRateEnable3G;
    if (program.enable6G)
        word |= kRateEnable6G;
    if (program.enable12G)
        word |= kRateEnable12G;
    return word;
}

void programmedRates(uint32_t enableWord, uint8_t* minCode, uint8_t* maxCode) {
    const bool has12 = (enableWord & kRateEnable12G) != 0;
    const bool has6 = (enableWord & kRateEnable6G) != 0;
    if ((enableWord & kRateEnable3G) != 0) {
        *minCode = kRateCode3G;
        *maxCode = has12 ? kRateCode12G : has6 ? kRateCode6G : kRateCode3G;
    } else if (has6) {
        *minCode = kRateCode6G;
        *maxCode = has12 ? kRateCode12G : kRateCode6G;
    } else if (has12) {
        *minCode = kRateCode12G;
        *maxCode = kRateCode12G;
    } else {
        *minCode = kRateCode3G;
        *maxCode = kRateCode12G;
    }
}
