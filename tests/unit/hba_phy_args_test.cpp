// The phy number check and range parser `phy` and `reset` share, on an
// adapter with 8 phys: what each text selects, and the one error it reports.
#include <gtest/gtest.h>

#include <string>

#include "console_capture.h"
#include "hba/phy_args.h"

namespace {

TEST(HbaPhyArgs, RangeParser) {
    const char* const kNotInRange = "Invalid Phy number specified. Phy number is not in the range.";
    const char* const kParameter = "Invalid Phy parameter specified.";
    const char* const kPieces = "Invalid Phy number specified. Provide a valid Phy number.";
    const struct {
        const char* text;
        uint32_t result;
        int first;
        int last;
        const char* error;
    } cases[] = {
        {"3", 0, 3, kSinglePhy, nullptr},   {"07", 0, 7, kSinglePhy, nullptr},
        {"3-3", 0, 3, kSinglePhy, nullptr}, {"2-5", 0, 2, 5, nullptr},
        {"0-7", 0, 0, 7, nullptr},          {"5-2", 1, 0, 0, "Invalid Phy range specified."},
        {"8", 1, 0, 0, kNotInRange},        {"123", 1, 0, 0, kNotInRange},
        {"007", 1, 0, 0, kNotInRange},      {"1-8", 1, 0, 0, kNotInRange},
        {"x", 1, 0, 0, kParameter},         {"+1", 1, 0, 0, kParameter},
        {"", 1, 0, 0, kParameter},          {"3-", 1, 0, 0, kParameter},
        {"-3", 1, 0, 0, kParameter},        {"1-2-3", 1, 0, 0, kPieces},
        {"--", 1, 0, 0, kPieces},
    };
    for (const auto& c : cases) {
        ConsoleCapture console;
        int first = -2;
        int last = -2;
        EXPECT_EQ(parsePhyRange(c.text, 8, &first, &last), c.result) << c.text;
        const std::string out = console.text();
        if (c.error == nullptr) {
            EXPECT_EQ(first, c.first) << c.text;
            EXPECT_EQ(last, c.last) << c.text;
            EXPECT_EQ(out, "") << c.text;
        } else {
            EXPECT_NE(out.find(c.error), std::string::npos) << c.text << ": " << out;
            EXPECT_EQ(first, -2) << c.text;  // untouched on error
        }
    }
}

}  // namespace
