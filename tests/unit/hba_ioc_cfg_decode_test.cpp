// The pure pieces of ioc and cfg: the WWID sequence of the phys, the
// device-missing delay encoding, the write offset rule per page type and the
// range check, the page comparison, and the bounds every page count gets.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hba/cfg_pages.h"
#include "hba/ioc_decode.h"
#include "shell/bytes.h"

namespace {

std::vector<uint64_t> wwids(uint32_t high, uint32_t low, int phys) {
    std::vector<uint64_t> out;
    for (int i = 0; i < phys; ++i) {
        out.push_back((static_cast<uint64_t>(high) << 32) | low);
        nextWwid(&high, &low);
    }
    return out;
}

TEST(HbaIocDecode, WwidSequence) {
    // Eight phys from 5000ABCD0000FFFF: phy 7 gets low word 00010006.
    const std::vector<uint64_t> eight = wwids(0x5000ABCD, 0x0000FFFF, 8);
    EXPECT_EQ(eight[0], 0x5000ABCD0000FFFFull);
    EXPECT_EQ(eight[7], 0x5000ABCD00010006ull);
    // Past FFFFFFFF the low word wraps; a last digit F is cleared, not carried.
    EXPECT_EQ(wwids(0x5000ABCF, 0xFFFFFFFE, 4),
              (std::vector<uint64_t>{0x5000ABCFFFFFFFFEull, 0x5000ABCFFFFFFFFFull,
                                     0x5000ABC000000000ull, 0x5000ABC000000001ull}));
    EXPECT_EQ(wwids(0x5000ABC3, 0xFFFFFFFF, 2)[1], 0x5000ABC400000000ull);
}

TEST(HbaIocDecode, ReportDelayEncoding) {
    const struct {
        uint32_t seconds;
        bool ok;
        uint8_t byte;
    } cases[] = {{0, true, 0},       {100, true, 100},  {127, true, 127},
                 {128, true, 0x88},  {160, true, 0x8A}, {170, false, 0},
                 {2032, true, 0xFF}, {2048, false, 0},  {129, false, 0}};
    for (const auto& c : cases) {
        uint8_t byte = 0;
        EXPECT_EQ(encodeReportDelay(c.seconds, &byte), c.ok) << c.seconds;
        if (c.ok) {
            EXPECT_EQ(byte, c.byte) << c.seconds;
            EXPECT_EQ(decodeReportDelay(byte), c.seconds);
        }
    }
}

TEST(HbaCfgPages, WriteOffsetRuleAndRange) {
    const struct {
        uint32_t type;
        uint32_t offset;
        bool allowed;
    } cases[] = {{0x01, 0, false}, {0x01, 4, true},   {0x09, 0, false},
                 {0x0A, 0, true},  {0x0B, 8, false},  {0x0B, 0xC, true},
                 {0x10, 8, false}, {0x10, 0xC, true}, {0xFF, 4, false}};
    for (const auto& c : cases)
        EXPECT_EQ(writeOffsetAllowed(c.type, c.offset), c.allowed) << c.type << " " << c.offset;
    EXPECT_TRUE(writeRangeFits(32, 28, 1));
    EXPECT_FALSE(writeRangeFits(32, 28, 2));
    EXPECT_FALSE(writeRangeFits(32, 36, 0));
    EXPECT_FALSE(writeRangeFits(32, 4, 0xFFFFFFFF));  // no wrap
    EXPECT_EQ(sentPageType(0x10).type, 15);
    EXPECT_EQ(sentPageType(0x10).ext, 0x10);
    EXPECT_EQ(sentPageType(0x0F).ext, 0);
}

TEST(HbaCfgPages, ComparisonCoversWholeWordsBothCopiesHold) {
    uint8_t def[12] = {};
    uint8_t nv[14] = {};
    putLe32(nv, 4, 0x5A5AA5A5);
    nv[12] = 1;  // beyond the default copy: not compared
    std::vector<uint32_t> seen;
    const uint32_t n = comparePages(
        def, sizeof def, nv, sizeof nv,
        [](void* ctx, uint32_t off, uint32_t a, uint32_t b) {
            auto* v = static_cast<std::vector<uint32_t>*>(ctx);
            v->insert(v->end(), {off, a, b});
        },
        &seen);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{4, 0, 0x5A5AA5A5}));
}

TEST(HbaIocDecode, CountsAreBoundedByThePage) {
    // A SAS IO Unit page 0 claiming 200 phys with room for two entries.
    std::vector<uint8_t> page(16 + 2 * 20 + 5, 0);
    page[12] = 200;
    putLe32(page.data(), 16 + 20 + 12, 0x80000001);
    EXPECT_EQ(discoveryPhyCount(page.data(), page.size()), 2u);
    DiscoveryEntry e = {};
    EXPECT_TRUE(discoveryEntry(page.data(), page.size(), 1, &e));
    EXPECT_EQ(e.status, 0x80000001u);
    EXPECT_FALSE(discoveryEntry(page.data(), page.size(), 2, &e));
    // Manufacturing page 5 claiming 64 phys, holding one entry.
    std::vector<uint8_t> m5(32, 0);
    m5[4] = 64;
    EXPECT_EQ(mfg5PhyCount(m5.data(), m5.size()), 1u);
    EXPECT_EQ(mfg5PhyCount(m5.data(), 20), 0u);
    // PCIe IO Unit page 1 and page 0.
    std::vector<uint8_t> p1(20 + 12 + 3, 0);
    p1[16] = 8;
    EXPECT_EQ(pcieLinkCount(p1.data(), p1.size()), 1u);
    std::vector<uint8_t> p0(16 + 20, 0);
    p0[12] = 4;
    uint16_t handle = 0;
    EXPECT_TRUE(pcieAttachedHandle(p0.data(), p0.size(), 0, &handle));
    EXPECT_FALSE(pcieAttachedHandle(p0.data(), p0.size(), 1, &handle));
    EXPECT_EQ(sasUnit1EntryCount(20 + 12 * 3, 8), 3u);
    // Facts shorter than their fields are not decoded.
    uint8_t facts[61] = {};
    IocFactsFields f = {};
    EXPECT_FALSE(decodeIocFacts(facts, sizeof facts, &f));
}

TEST(HbaIocDecode, PcieTexts) {
    EXPECT_STREQ(pcieEndpointText(0x01), "EP");
    EXPECT_STREQ(pcieEndpointText(0x08), "RC");  // disabled root-complex link
    EXPECT_STREQ(pcieRateText(0x40), "8.0");
    EXPECT_STREQ(pcieRateText(0x50), "16.0");
    EXPECT_STREQ(pcieRateText(0x10), "-");
}

TEST(HbaCfgPages, WalkGuardEndsOnARepeat) {
    WalkGuard guard;
    EXPECT_TRUE(guard.firstVisit(5));
    EXPECT_TRUE(guard.firstVisit(0xFFFF));
    EXPECT_FALSE(guard.firstVisit(5));
}

}  // namespace
