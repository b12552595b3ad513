// Link rate programming and its read-back, the rate names, and the phy record
// decoders at the edges of their inputs.
#include <gtest/gtest.h>

#include <tuple>

#include "expander/link_rate.h"
#include "expander/phy_info.h"
#include "expander/phy_tables.h"
#include "shell/bytes.h"

namespace {

TEST(ExpanderLinkRate, ProgrammingTable) {
    const struct {
        uint32_t min, max;
        uint32_t lowByte;  // codes in W
        uint32_t enables;  // W bits 9, 10
        uint32_t r;
    } rows[] = {
        {9, 9, 0x99, 0x200, 0xC0300000},   {9, 10, 0xA9, 0x600, 0xC03C0000},
        {9, 11, 0xA9, 0x600, 0xC03F0000},  {10, 10, 0xAA, 0x400, 0xC00C0000},
        {10, 11, 0xAA, 0x400, 0xC00F0000}, {11, 11, 0xAA, 0x400, 0xC0030000},
    };
    for (const auto& row : rows) {
        RateProgram program{};
        ASSERT_EQ(rateProgram(row.min, row.max, &program), RateProgramStatus::Ok);
        // Other bits of W survive; the codes and bits 8..10 are replaced.
        const uint32_t word = 0x12345FFF;
        EXPECT_EQ(rateWordCleared(word, program), 0x12345800u | row.lowByte) << row.min << row.max;
        EXPECT_EQ(rateWordEnabled(word, program), 0x12345800u | row.enables | row.lowByte);
        EXPECT_EQ(rateEnableWord(program), row.r);
        // What is programmed reads back as the pair asked for.
        uint8_t min = 0;
        uint8_t max = 0;
        programmedRates(row.r, &min, &max);
        EXPECT_EQ(min, row.min);
        EXPECT_EQ(max, row.max);
    }
    RateProgram program{};
    EXPECT_EQ(rateProgram(8, 11, &program), RateProgramStatus::BadMin);
    EXPECT_EQ(rateProgram(9, 12, &program), RateProgramStatus::BadMax);
    EXPECT_EQ(rateProgram(11, 10, &program), RateProgramStatus::MinAboveMax);
}

TEST(ExpanderLinkRate, QueryDerivations) {
    const struct {
        uint32_t word;
        uint8_t min, max;
    } cases[] = {
        {0, 9, 11},  // nothing enabled
        {0xC0000000, 9, 11},
        {1u << 20, 9, 9},                  // one bit of a pair is enough
        {(1u << 21) | (1u << 16), 9, 11},  // 3.0 and 12.0 without 6.0
        {1u << 19, 10, 10},
        {(1u << 18) | (1u << 17), 10, 11},
        {1u << 16, 11, 11},
    };
    for (const auto& c : cases) {
        uint8_t min = 0;
        uint8_t max = 0;
        programmedRates(c.word, &min, &max);
        EXPECT_EQ(min, c.min) << std::hex << c.word;
        EXPECT_EQ(max, c.max) << std::hex << c.word;
    }
}

TEST(ExpanderLinkRate, Names) {
    char column[16];
    const struct {
        uint32_t code;
        const char* name;
        const char* column;
    } cases[] = {
        {8, "1.5 Gpbs", "01.5"},   {9, "3.0 Gpbs", "03.0"}, {10, "6.0 Gpbs", "06.0"},
        {11, "12.0 Gpbs", "12.0"}, {0, "Unknown", "0"},     {1, "Unknown", "1"},
        {12, "Unknown", "12"},     {15, "Unknown", "15"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(linkRateName(c.code), c.name);
        EXPECT_STREQ(linkRateColumn(c.code, column, sizeof column), c.column);
    }
}

TEST(ExpanderPhyRecord, DecodersStayInsideTheirInput) {
    PhyInfoRecord record;
    uint8_t block[kLinkBlockLength] = {};
    EXPECT_FALSE(decodeLinkBlock(block, kLinkBlockLength - 1, &record));
    putLe32(block, 4,
            0x20000E00 | 0x81 | (0xAu << 16));  // expander, SMP/STP/SSP initiator, SATA, selector
    putLe32(block, 16, 0x5000C500);
    putLe32(block, 20, 0x00000001);
    block[27] = 7;
    block[34] = 0xFA;
    block[35] = 0xF8;
    block[39] = 0x12;
    ASSERT_TRUE(decodeLinkBlock(block, sizeof block, &record));
    EXPECT_EQ(record.attachedType, 2);
    EXPECT_EQ(record.negotiatedRate, 10);
    EXPECT_EQ(record.attachedSasAddress, 0x5000C50000000001u);
    EXPECT_EQ(record.attachedPhyId, 7);
    EXPECT_EQ(record.routing, 2);
    EXPECT_EQ(record.hardwareMaxRate, 10);
    EXPECT_EQ(record.hardwareMinRate, 8);
    const bool flags[kProtocolFlagCount] = {true, true, true, false, false, false, true, true};
    for (size_t i = 0; i < kProtocolFlagCount; ++i)
        EXPECT_EQ(record.protocolFlags[i], flags[i]) << i;
    record.phy = 2;
    record.enabled = true;
    char row[kPhyRowSize];
    formatDaRow(record, row, sizeof row);
    EXPECT_STREQ(row, "02  T  06.0  UZ  Y  5000c50000000001  07  Exp   1 1 1 0 0 0 1 1 ");
    // An unknown routing attribute keeps the columns aligned.
    record.routing = 5;
    formatDaRow(record, row, sizeof row);
    EXPECT_STREQ(row, "02     06.0  UZ  Y  5000c50000000001  07  Exp   1 1 1 0 0 0 1 1 ");

    // Page 0xFF15: the error-limit words are the fourth and third from the
    // end; a page too short to hold them is refused.
    uint8_t page[20] = {};
    putLe32(page, 4, 1u << 2);  // word L/4-4 for L = 20: phys 0..31
    putLe32(page, 8, 1u << 1);  // word L/4-3: phys 32..
    record.phy = 2;
    EXPECT_FALSE(decodeErrorLimit(page, 15, &record));
    ASSERT_TRUE(decodeErrorLimit(page, sizeof page, &record));
    EXPECT_TRUE(record.errorLimit);
    record.phy = 33;
    ASSERT_TRUE(decodeErrorLimit(page, sizeof page, &record));
    EXPECT_TRUE(record.errorLimit);
    record.phy = 80;  // beyond both words
    ASSERT_TRUE(decodeErrorLimit(page, sizeof page, &record));
    EXPECT_FALSE(record.errorLimit);

    // EDFB words: phys 32..40 in w1, none above; the second flag in w3.
    const uint32_t words[kEdfbWordCount] = {0, 0xFFFFFFFF, 0, 0xFFFFFFFF};
    for (const auto& [phy, enabled, capable] :
         {std::tuple{40u, true, true}, std::tuple{41u, false, true},
          std::tuple{70u, false, false}}) {
        record.phy = phy;
        decodeEdfbWords(words, &record);
        EXPECT_EQ(record.edfbEnabled, enabled) << phy;
        EXPECT_EQ(record.edfbCapable, capable) << phy;
    }
}

}  // namespace
