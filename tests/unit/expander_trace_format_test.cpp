// The trace formatter against C's own printf for the conversions it shares
// with it, and its handling of everything it refuses; the route phy list
// for every phy count the count register allows; the bounds of the
// manufacturing region's address patch.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "expander/mfg_region.h"
#include "expander/route_entry.h"
#include "expander/trace_format.h"
#include "shell/bytes.h"

namespace {

std::string expand(const std::string& format, std::vector<uint32_t> args) {
    std::string out;
    expandTraceFormat(format, args.data(), args.size(), &out);
    return out;
}

// Conversions printf defines for an int or unsigned argument: ours must agree.
TEST(TraceFormat, AgreesWithPrintf) {
    const char* const formats[] = {
        "%d",    "%i",  "%u",   "%o",    "%x",    "%X",      "%5d",    "%-5d|",
        "%05d",  "%+d", "% d",  "%+ d",  "%.3d",  "%.0d",    "%8.3x",  "%-8.3X|",
        "%#x",   "%#X", "%#o",  "%#.0o", "%#5o",  "%08.3d",  "%-08d|", "%99d",
        "%.99u", "%hd", "%hhd", "%hu",   "%hhx",  "%ld",     "%lld",   "%jd",
        "%zd",   "%td", "%hhi", "%#08x", "%+.0d", "%-#10o|", "%x%%%X",
    };
    const uint32_t values[] = {0,          1,          42,        0x7F,   0x80,
                               0xFF,       0x1234,     0x8000,    0xFFFF, 0x7FFFFFFF,
                               0x80000000, 0xFFFFFFFF, 0xDEADBEEF};
    for (const char* format : formats) {
        for (const uint32_t v : values) {
            // printf needs the narrowed argument the way C passes it.
            std::string f = format;
            char expected[256];
            const bool isSigned = f.find_first_of("di") != std::string::npos;
            const bool narrowChar = f.find("hh") != std::string::npos;
            const bool narrowShort = !narrowChar && f.find('h') != std::string::npos;
            // Strip lengths printf would read as wider types.
            for (const char* length : {"ll", "l", "j", "z", "t"}) {
                const size_t at = f.find(length);
                if (at != std::string::npos)
                    f.erase(at, std::string(length).size());
            }
            int arg = isSigned ? static_cast<int32_t>(v) : static_cast<int>(v);
            if (narrowChar)
                arg = isSigned ? static_cast<int8_t>(v) : static_cast<uint8_t>(v);
            if (narrowShort)
                arg = isSigned ? static_cast<int16_t>(v) : static_cast<uint16_t>(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
            std::snprintf(expected, sizeof expected, f.c_str(), arg, arg);
#pragma GCC diagnostic pop
            EXPECT_EQ(expand(format, {v, v}), expected) << format << " " << v;
        }
    }
}

TEST(TraceFormat, OwnConversionsAndLiterals) {
    const struct {
        const char* format;
        std::vector<uint32_t> args;
        const char* out;
    } cases[] = {
        // s and p are expander addresses: 0x and lower-case hex.
        {"%s", {0xC0000000}, "0xc0000000"},
        {"%p", {0}, "0x0"},
        {"[%12p]", {0xAB}, "[        0xab]"},
        {"[%-6s]", {1}, "[0x1   ]"},
        // c: printable low byte, else '.'.
        {"%c%c%c%c", {0x141, 0x7E, 0x7F, 0x1F}, "A~.."},
        {"[%3c]", {'z'}, "[  z]"},
        // Nothing is expanded that could read or write beyond the arguments.
        {"Bad %n %f %d", {42}, "Bad %n %f 42"},
        {"Two %d %d", {1}, "Two 1 %d"},
        {"%*d %d", {7}, "%*d 7"},
        {"%1$d", {7}, "%1$d"},
        {"%100d|%d", {5}, "%100d|5"},
        {"%.100d|%d", {5}, "%.100d|5"},
        {"%Ld %qd %lf", {5}, "%Ld %qd %lf"},
        {"end %", {1}, "end %"},
        {"%-", {1}, "%-"},
        {"100%% %d%%", {3}, "100% 3%"},
        {"%%%d", {}, "%%d"},
        // Device text reaches the terminal only as safe characters.
        {"a\x1b[2Jb\r\n\tc\x80", {}, "a.[2Jb.\n\tc."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(expand(c.format, c.args), c.out) << c.format;
}

TEST(RouteEntry, PhyListForEveryCount) {
    auto list = [](uint32_t w4, uint32_t w5, uint32_t count) {
        uint32_t phys[kMaxRoutedPhys];
        const size_t n = routedPhys(w4, w5, count, phys, kMaxRoutedPhys);
        return std::vector<uint32_t>(phys, phys + n);
    };
    using V = std::vector<uint32_t>;
    // 27 phys: everything in w4, virtual phys 24..26 included; w5 unused.
    EXPECT_EQ(list(0x07000001, 0xFFFFFFFF, 27), (V{0, 24, 25, 26}));
    // 36 phys: physical 32 from w5 bit 0, virtual 33..35 from bits 18..16.
    EXPECT_EQ(list(0, 0x00050001, 36), (V{32, 33, 35}));
    // 51 phys: physical 32..47 from bits 0..15, 48 is virtual (bit 18).
    EXPECT_EQ(list(0, 0x00048001, 51), (V{32, 47, 48}));
    EXPECT_EQ(list(0, 0x00010000, 51), (V{50}));
    // 64 phys: physical 48..60 have no bit; 61..63 are the virtual ones.
    EXPECT_EQ(list(0x80000000, 0xFFFFFFFF, 64),
              (V{31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 61, 62, 63}));
    // 127 phys: no shift reaches 32 bits (UBSan checks the shifts).
    EXPECT_EQ(list(0, 0x00070000, 127), (V{124, 125, 126}));
    EXPECT_EQ(list(0, 0x00008000, 127), (V{47}));
    // Fewer than three phys: all are virtual, all below 32.
    EXPECT_EQ(list(0x3, 0xFFFFFFFF, 2), (V{0, 1}));
}

// A region: header of length 16, then records of (marker, page, length).
struct Record {
    uint8_t marker;
    uint16_t page;
    uint16_t length;
};
std::vector<uint8_t> region(const std::vector<Record>& records, size_t extra = 0) {
    std::vector<uint8_t> bytes(16, 0);
    bytes[2] = 0x10;
    bytes[3] = 16;
    for (const Record& r : records) {
        const size_t at = bytes.size();
        bytes.resize(at + 4 + r.length, 0);
        bytes[at] = r.marker;
        if (r.length >= 4) {
            putLe16(bytes.data(), at + 4, r.length);
            putLe16(bytes.data(), at + 6, r.page);
        }
    }
    bytes.resize(bytes.size() + extra, 0xFF);
    return bytes;
}

class NullSink final : public TextSink {
  public:
    void print(std::string_view) override {}
    void printLine(std::string_view) override {}
    void warn(std::string_view text) override { warnings.emplace_back(text); }
    void error(std::string_view) override {}
    void debug(std::string_view) override {}
    std::vector<std::string> warnings;
};

TEST(MfgRegion, PatchWalkStaysInside) {
    constexpr uint64_t kAddress = 0x53C2A1F00000107Full;
    {
        // Active 0xFE00 and 0xFE01 are patched with a matching checksum;
        // inactive ones stay; every active record reached becomes 0xF9.
        std::vector<uint8_t> r = region({{0xF8, 0xFE00, 12},
                                         {0x01, 0xFE00, 12},
                                         {0xF9, 0xFE02, 20},
                                         {0xF9, 0xFE01, 12},
                                         {0xF9, 0xFFFF, 4}},
                                        16);
        const std::vector<uint8_t> before = r;
        NullSink sink;
        ASSERT_TRUE(patchSasAddress(r.data(), r.size(), kAddress, sink));
        EXPECT_TRUE(std::equal(r.begin(), r.begin() + 32, before.begin()));  // inactive
        EXPECT_EQ(r[32], 0xF9);
        EXPECT_EQ(getLe32(r.data(), 40), 0x53C2A1F0u);
        EXPECT_EQ(getLe32(r.data(), 44), 0x0000107Fu);
        uint8_t sum = 0;
        for (size_t i = 36; i < 48; ++i)
            sum = static_cast<uint8_t>(sum + r[i]);
        EXPECT_EQ(r[33], sum);
        EXPECT_EQ(getLe32(r.data(), 48 + 24 + 8), 0x53C2A1F0u);             // the 0xFE01 record
        EXPECT_TRUE(std::equal(r.end() - 24, r.end(), before.end() - 24));  // end record
        EXPECT_TRUE(sink.warnings.empty());
    }
    {
        // An address page below 12 bytes would spill into the next record.
        std::vector<uint8_t> r = region({{0xF9, 0xFE00, 8}, {0xF9, 0xFE01, 12}});
        const std::vector<uint8_t> before = r;
        NullSink sink;
        ASSERT_TRUE(patchSasAddress(r.data(), r.size(), kAddress, sink));
        EXPECT_TRUE(std::equal(r.begin(), r.begin() + 28, before.begin()));
    }
    {
        // A record cut by the end of the region ends the walk with a warning.
        std::vector<uint8_t> r = region({{0xF9, 0xFE02, 8}});
        r.resize(r.size() + 10, 0xF9);
        NullSink sink;
        EXPECT_FALSE(patchSasAddress(r.data(), r.size(), kAddress, sink));
        ASSERT_EQ(sink.warnings.size(), 1u);
        EXPECT_EQ(sink.warnings[0],
                  "Manufacturing record at offset 28 does not fit in the region.");
    }
    {
        // Header length pointing past the end, tiny regions, zero-length pages.
        NullSink sink;
        uint8_t tiny[4] = {0, 0, 0x10, 200};
        EXPECT_FALSE(patchSasAddress(tiny, sizeof tiny, kAddress, sink));
        EXPECT_FALSE(patchSasAddress(tiny, 3, kAddress, sink));
        std::vector<uint8_t> zeros(64, 0);
        zeros[3] = 4;
        EXPECT_FALSE(patchSasAddress(zeros.data(), zeros.size(), kAddress, sink));
    }
}

}  // namespace
