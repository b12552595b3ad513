// Log page 0 rows and the command line's answer: which data words a row
// shows, counts bounded by the page, and the answer cut at its NUL, its
// returned length and the buffer's last byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hba/log_page.h"
#include "hba/phy_pages.h"
#include "shell/bytes.h"

namespace {

TEST(HbaLogPage, DataWordsShown) {
    const struct {
        uint32_t data[7];
        uint32_t shown;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0, 0}, 1}, {{5, 0, 0, 0, 0, 0, 0}, 1}, {{5, 1, 0, 0, 0, 0, 0}, 2},
        {{5, 1, 2, 0, 0, 0, 0}, 3}, {{0, 0, 0, 0, 0, 0, 9}, 7}, {{0, 0, 0, 7, 0, 0, 0}, 4},
        {{1, 2, 3, 4, 5, 6, 7}, 7},
    };
    for (const auto& c : cases)
        EXPECT_EQ(logWordsShown(c.data), c.shown) << c.data[0] << " " << c.shown;
}

TEST(HbaLogPage, CountsAreBoundedByThePage) {
    std::vector<uint8_t> page(20 + 48 * 2 + 47, 0);
    putLe16(page.data(), 16, 40);  // claims 40 entries, holds 2 whole ones
    putLe16(page.data(), 20 + 48 + 12, 0x1234);
    EXPECT_EQ(logEntryCount(page.data(), page.size()), 2u);
    LogRow row;
    ASSERT_TRUE(decodeLogRow(page.data(), page.size(), 1, &row));
    EXPECT_EQ(row.sequence, 0x1234);
    EXPECT_FALSE(decodeLogRow(page.data(), page.size(), 2, &row));
    EXPECT_EQ(logEntryCount(page.data(), 17), 0u);

    // Phy events: 200 stated, room for 1; a page without offset 16 is not
    // configured.
    std::vector<uint8_t> events(16 + 8 + 3, 0);
    events[12] = 200;
    events[16] = 0x41;
    PhyEventList list;
    decodePhyEvents(events.data(), events.size(), &list);
    EXPECT_EQ(list.count, 1u);
    EXPECT_TRUE(list.configured);
    decodePhyEvents(events.data(), 16, &list);
    EXPECT_EQ(list.count, 0u);
    EXPECT_FALSE(list.configured);
}

TEST(HbaLogPage, CliAnswer) {
    const uint8_t text[] = {'a', 'b', 'c', 0, 'd', 'e'};
    EXPECT_EQ(cliAnswerLength(text, sizeof text, 100), 3u);  // stops at the NUL
    EXPECT_EQ(cliAnswerLength(text, sizeof text, 2), 2u);    // the returned length
    const uint8_t full[] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(cliAnswerLength(full, sizeof full, 0xFFFFFFFF), 3u);  // never the last byte
    char shown[] = "ok\n\x1b[2J\tx\x7f";
    makeAnswerPrintable(shown, std::strlen(shown));
    EXPECT_STREQ(shown, "ok\n.[2J\tx.");
}

}  // namespace
