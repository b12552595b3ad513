// The db parser and query decoder on what the end-to-end runs cannot see:
// the request's fields, the words handed to the firmware, and flag texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hba/db_args.h"

namespace {

uint32_t parse(std::vector<std::string> words, DbRequest* request, std::string* error) {
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    return parseDbArguments(static_cast<uint32_t>(argv.size()), argv.data(), request, error);
}

TEST(DbArguments, FirstActionDecidesAndWordsReachTheFirmwareInOrder) {
    DbRequest r;
    std::string error;
    ASSERT_EQ(parse({"db", "-read", "-register", "-snapshot", "-popt", "0000000A", "-irmask",
                     "00000005", "00000006", "-iopmask", "00000001", "00000002", "-plmask",
                     "00000003", "00000004", "-size", "4096", "-file", "out.bin"},
                    &r, &error),
              0u)
        << error;
    EXPECT_EQ(r.action, kDbOptionRead);
    EXPECT_EQ(r.bufferType, kDbBufferSnapshot);
    EXPECT_EQ(r.size, 4096u * 1024);
    EXPECT_EQ(r.file, "out.bin");
    uint32_t words[23];
    std::memset(words, 0xEE, sizeof words);
    dbProductWords(r, words);
    const uint32_t expected[23] = {0xA, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(std::vector<uint32_t>(words, words + 23),
              std::vector<uint32_t>(expected, expected + 23));
}

TEST(DbArguments, SizeRulesAndTheLargestSize) {
    DbRequest r;
    std::string error;
    ASSERT_EQ(parse({"db", "-register", "-trace"}, &r, &error), 0u);
    ASSERT_EQ(checkDbSize(&r, &error), 0u);
    EXPECT_EQ(r.size, 0x20000u);
    ASSERT_EQ(parse({"db", "-register", "-snapshot"}, &r, &error), 0u);
    ASSERT_EQ(checkDbSize(&r, &error), 0u);
    EXPECT_EQ(r.size, 0x200000u);
    // 8192 KB is the largest; its bytes fit in 32 bits.
    ASSERT_EQ(parse({"db", "-register", "-snapshot", "-size", "8192"}, &r, &error), 0u);
    ASSERT_EQ(checkDbSize(&r, &error), 0u);
    EXPECT_EQ(r.size, 8192u * 1024);
    ASSERT_EQ(parse({"db", "-register", "-trace", "-size", "0"}, &r, &error), 0u);
    EXPECT_EQ(checkDbSize(&r, &error), 1u);
}

TEST(DbArguments, TheFileNameIsCopiedAndNothingCarriesOver) {
    std::vector<std::string> words = {"db", "-read", "-trace", "-size", "200", "-file", "a.bin"};
    DbRequest r;
    std::string error;
    ASSERT_EQ(parse(words, &r, &error), 0u);
    words[6] = "changed";
    EXPECT_EQ(r.file, "a.bin");
    ASSERT_EQ(parse({"db", "-query", "-snapshot"}, &r, &error), 0u);
    EXPECT_FALSE(r.sizeGiven);
    EXPECT_TRUE(r.file.empty());
    EXPECT_EQ(r.bufferType, kDbBufferSnapshot);
}

TEST(DbQueryLines, EverySetBitPrintsInOrder) {
    const DbQueryLines three = dbQueryLines(3);
    ASSERT_EQ(three.info.size(), 2u);
    EXPECT_STREQ(three.info[0], "Buffer was registered by an application");
    EXPECT_STREQ(three.info[1], "Buffer contains valid data");
    EXPECT_EQ(three.error, nullptr);
    const DbQueryLines all = dbQueryLines(0xFFFF);
    EXPECT_EQ(all.info.size(), 2u);
    EXPECT_STREQ(all.error, "Buffer being accessed by firmware");
    EXPECT_TRUE(dbQueryLines(0).info.empty());
}

}  // namespace
