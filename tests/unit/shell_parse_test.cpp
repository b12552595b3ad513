#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console_capture.h"
#include "shell/parse.h"

TEST(ParseDecimal, SpacesSignsAndWrapping) {
    EXPECT_EQ(parseDecimal(" 12"), 12u);
    EXPECT_EQ(parseDecimal("12 "), 0u);
    EXPECT_EQ(parseDecimal("-3"), 0u);
    EXPECT_EQ(parseDecimal(""), 0u);
    EXPECT_EQ(parseDecimal(nullptr), 0u);
    EXPECT_EQ(parseDecimal("4294967295"), 4294967295u);
    EXPECT_EQ(parseDecimal("4294967296"), 0u);  // wraps
    EXPECT_EQ(parseDecimal("4294967297"), 1u);
}

TEST(ParseDecimal, CheckedRefusesWhatWouldWrap) {
    uint64_t v = 7;
    EXPECT_TRUE(parseDecimalChecked("4294967295", &v));
    EXPECT_EQ(v, 4294967295u);
    EXPECT_FALSE(parseDecimalChecked("4294967296", &v));
    EXPECT_FALSE(parseDecimalChecked("99999999999999999999999", &v));
    EXPECT_FALSE(parseDecimalChecked("1x", &v));
}

TEST(CharacterClasses, DecimalAndHex) {
    EXPECT_TRUE(isDecimalString(""));
    EXPECT_TRUE(isDecimalString("0123"));
    EXPECT_FALSE(isDecimalString("1 "));
    EXPECT_TRUE(isHexString("0x12aF"));
    EXPECT_FALSE(isHexString("0X12"));  // upper-case X is no prefix here
    EXPECT_TRUE(isHexString("0x"));
    EXPECT_FALSE(isHexString("0xg"));
}

TEST(ParseHex32, PrefixWidthAndCase) {
    uint32_t v = 1;
    EXPECT_EQ(parseHex32("0x", &v), 0u);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(parseHex32("DEADbeef", &v), 0u);
    EXPECT_EQ(v, 0xDEADBEEFu);
    EXPECT_EQ(parseHex32("0X1f", &v), 0u);
    EXPECT_EQ(v, 0x1Fu);
    EXPECT_EQ(parseHex32("0x123456789", &v), 1u);
    EXPECT_EQ(parseHex32("12345678", &v), 0u);
    EXPECT_EQ(parseHex32("12g4", &v), 1u);
}

TEST(ParseHexDigits, FixedWidthWithNonDigitsAsZero) {
    uint32_t v = 0;
    EXPECT_EQ(parseHexDigits("", &v, 7), 1u);
    EXPECT_EQ(parseHexDigits("5000ABCD12345678", &v, 7), 0u);
    EXPECT_EQ(v, 0x5000ABCDu);
    EXPECT_EQ(parseHexDigits("12z4", &v, 3), 0u);
    EXPECT_EQ(v, 0x1204u);
    // Shorter than n+1: missing positions count as zero, nothing is read past the end.
    EXPECT_EQ(parseHexDigits("AB", &v, 3), 0u);
    EXPECT_EQ(v, 0xAB00u);
}

TEST(SplitAtWidth, HalvesOfAnAddress) {
    char first[32] = {}, second[32] = {};
    splitAtWidth("5000ABCD12345678", first, second, 8);
    EXPECT_STREQ(first, "5000ABCD\n");
    EXPECT_STREQ(second, "12345678\n");

    char a[32] = {}, b[32] = {};
    splitAtWidth("1234", a, b, 8);
    EXPECT_STREQ(a, "1234");
    EXPECT_STREQ(b, "\n");

    char c[32] = {}, d[32] = {};
    splitAtWidth("", c, d, 8);
    EXPECT_STREQ(c, "");
    EXPECT_STREQ(d, "\n");
}

TEST(SplitByDelimiter, KeepsEmptyPieces) {
    std::vector<char*> pieces;
    uint32_t count = 0;
    char range[] = "1-4";
    ASSERT_TRUE(splitByDelimiter(range, '-', &count, &pieces));
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(pieces[0], "1");
    EXPECT_STREQ(pieces[1], "4");

    char list[] = "a,,b,";
    ASSERT_TRUE(splitByDelimiter(list, ',', &count, &pieces));
    ASSERT_EQ(count, 4u);
    EXPECT_STREQ(pieces[1], "");
    EXPECT_STREQ(pieces[3], "");

    char one[] = "8";
    ASSERT_TRUE(splitByDelimiter(one, '-', &count, &pieces));
    EXPECT_EQ(count, 1u);

    ConsoleCapture console;
    EXPECT_FALSE(splitByDelimiter(nullptr, ',', &count, &pieces));
    EXPECT_EQ(count, 0xFFFFFFFFu);
    EXPECT_EQ(console.text(), "ERROR: Invalid string or delimiter\n");
}

TEST(FormatSasAddress, GroupsAndSharedBuffer) {
    EXPECT_STREQ(formatSasAddress(0x5000ABCD12345678ull), "5000abc-d-1234-5678");
    const char* first = formatSasAddress(1);
    formatSasAddress(2);
    EXPECT_STREQ(first, "0000000-0-0000-0002");  // the shared buffer was overwritten
}

TEST(NameForCode, TableThenFallback) {
    const CodeName table[] = {{1, "one"}, {2, "two"}, {0, nullptr}};
    EXPECT_STREQ(nameForCode(table, 2, "Code"), "two");
    EXPECT_STREQ(nameForCode(table, 0x1A, "Code"), "Code #1a");
}

TEST(HexDump, ThirtyTwoBitLayoutWithPartialRow) {
    ConsoleCapture console;
    uint8_t data[20];
    for (int i = 0; i < 20; ++i)
        data[i] = static_cast<uint8_t>(0x41 + i);
    data[19] = 0x01;
    ASSERT_EQ(hexDump(data, 20), 0u);
    EXPECT_EQ(console.text(),
              std::string("          0        4        8        C       \n") +
                  "00000000: 44434241 48474645 4c4b4a49 504f4e4d   ABCD EFGH IJKL MNOP\n" +
                  "00000010: 01535251                              QRS.\n");
}

TEST(HexDump, SixteenBitAndByteLayouts) {
    const uint8_t data[11] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b};
    {
        ConsoleCapture console;
        ASSERT_EQ(hexDump(data, 6), 0u);
        EXPECT_EQ(console.text(), std::string("          0    2    4    6    \n") +
                                      "00000000 00000201 00000403 00000605 \n");
    }
    {
        ConsoleCapture console;
        ASSERT_EQ(hexDump(data, 10), 0u);
        EXPECT_EQ(console.text(), std::string("          0    2    4    6    \n") +
                                      "00000000 00000201 00000403 00000605 00000807 \n"
                                      "00000008 00000a09 \n");
    }
    {
        ConsoleCapture console;
        ASSERT_EQ(hexDump(data, 5), 0u);
        EXPECT_EQ(console.text(), std::string("          0  1  2  3  4  5  6  7  \n") +
                                      "00000000 01 02 03 04 05 \n");
    }
    {
        ConsoleCapture console;
        ASSERT_EQ(hexDump(data, 11), 0u);
        EXPECT_EQ(console.text(), std::string("          0  1  2  3  4  5  6  7  \n") +
                                      "00000000 01 02 03 04 05 06 07 08 \n"
                                      "00000008 09 0a 0b \n");
    }
}

TEST(HexDump, RefusesNullAndEmpty) {
    ConsoleCapture console;
    const uint8_t byte = 0;
    EXPECT_EQ(hexDump(nullptr, 4), 1u);
    EXPECT_EQ(hexDump(&byte, 0), 1u);
    EXPECT_EQ(console.text(), "ERROR: Invalid memory.\nERROR: Invalid memory.\n");
}
