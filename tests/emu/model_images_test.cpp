// The image builders produce the documented layouts, and their "broken"
// options break exactly what they say.
#include <algorithm>
#include <string>

#include "images/images.h"
#include "model_expander_fixture.h"

namespace exptest {
namespace {

namespace images = qemu::images;

TEST(FirmwareImage, ValidImageLayout) {
    images::FirmwareImageOptions o;
    o.version = 0x0A0B0C0D;
    o.length = 0x1001;  // rounded up to whole words
    const Bytes fw = images::buildFirmwareImage(o);
    ASSERT_EQ(fw.size(), 0x1004u);
    EXPECT_EQ(le32(fw, 36), 0x0A0B0C0Du);
    EXPECT_EQ(le32(fw, 56), 0x1004u);
    EXPECT_TRUE(images::firmwareSignatureValid(fw.data(), fw.size()));
    EXPECT_EQ(images::firmwareWordSum(fw.data(), fw.size()), 0u);
    // Different seeds give different payloads, same header fields.
    o.seed = 2;
    const Bytes other = images::buildFirmwareImage(o);
    EXPECT_NE(Bytes(fw.begin() + 84, fw.end()), Bytes(other.begin() + 84, other.end()));
    EXPECT_EQ(images::firmwareWordSum(other.data(), other.size()), 0u);
    // Tiny requests still carry a whole header.
    o.length = 4;
    EXPECT_EQ(images::buildFirmwareImage(o).size(), images::kFirmwareHeaderSize);
}

TEST(FirmwareImage, LengthWordLimitsTheCheckedPart) {
    images::FirmwareImageOptions o;
    o.length = 0x2000;
    o.lengthWord = 0x1000;
    o.imageLengthField = 0x1000;
    const Bytes fw = images::buildFirmwareImage(o);
    EXPECT_EQ(fw.size(), 0x2000u);
    EXPECT_EQ(le32(fw, 76), 0x1000u);
    EXPECT_EQ(le32(fw, 56), 0x1000u);
    EXPECT_EQ(images::firmwareWordSum(fw.data(), 0x1000), 0u);
    EXPECT_NE(images::firmwareWordSum(fw.data(), 0x2000), 0u);
}

TEST(FirmwareImage, BrokenVariants) {
    images::FirmwareImageOptions o;
    o.breakSignature = true;
    Bytes fw = images::buildFirmwareImage(o);
    EXPECT_FALSE(images::firmwareSignatureValid(fw.data(), fw.size()));
    EXPECT_EQ(images::firmwareWordSum(fw.data(), fw.size()), 0u);
    o = {};
    o.breakChecksum = true;
    fw = images::buildFirmwareImage(o);
    EXPECT_TRUE(images::firmwareSignatureValid(fw.data(), fw.size()));
    EXPECT_EQ(images::firmwareWordSum(fw.data(), fw.size()), 1u);
    EXPECT_FALSE(images::firmwareSignatureValid(fw.data(), 12));
}

TEST(PageImage, RecordsChecksumsAndEnd) {
    images::PageImageOptions o;
    o.records.push_back({images::sasAddressPage(0xFE00, 0x53C2A1F00000123Full)});
    o.records.push_back({images::serialPage("ABCDEFGHIJ", "QSBD"), images::kRecordInactive});
    o.records.push_back({images::macPage({1, 2, 3, 4, 5, 6}), images::kRecordActive, true});
    o.capacity = 256;
    const Bytes image = images::buildPageImage(o);
    ASSERT_EQ(image.size(), 256u);
    EXPECT_EQ(image[2], 0x10);
    const size_t h = image[3];
    EXPECT_EQ(h, 16u);
    // First record by hand: marker, checksum over the 12 page bytes, page.
    EXPECT_EQ(image[h], 0xF9);
    EXPECT_EQ(le16(image, h + 4), 12);
    EXPECT_EQ(le16(image, h + 6), 0xFE00);
    EXPECT_EQ(le32(image, h + 8), 0x53C2A1F0u);
    EXPECT_EQ(le32(image, h + 12), 0x0000123Fu);
    uint8_t sum = 0;
    for (size_t i = 4; i < 16; ++i)
        sum = uint8_t(sum + image[h + i]);
    EXPECT_EQ(image[h + 1], sum);

    const auto records = images::parsePageImage(image.data(), image.size());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_TRUE(records[0].checksumOk);
    EXPECT_EQ(records[1].marker, images::kRecordInactive);
    EXPECT_EQ(records[1].number, 0xFE02);
    EXPECT_EQ(records[1].page.size(), 28u);
    EXPECT_EQ(std::string(records[1].page.begin() + 8, records[1].page.begin() + 18), "ABCDEFGHIJ");
    EXPECT_FALSE(records[2].checksumOk);
    EXPECT_EQ(records[2].offset, h + 16 + 32);
    const size_t end = records[2].offset + 4 + 12;
    EXPECT_EQ(image[end], 0xFF);
    EXPECT_EQ(image[255], 0xFF);
}

TEST(PageImage, ParserStaysInsideTruncatedOrForeignImages) {
    images::PageImageOptions o;
    o.records.push_back({images::manufacturingPage({})});
    o.endRecord = false;
    Bytes image = images::buildPageImage(o);
    for (size_t cut = 0; cut < image.size(); ++cut) {
        const auto records = images::parsePageImage(image.data(), cut);
        EXPECT_TRUE(records.empty()) << cut;
    }
    EXPECT_EQ(images::parsePageImage(image.data(), image.size()).size(), 1u);
    o.signature = 0x11;
    image = images::buildPageImage(o);
    EXPECT_TRUE(images::parsePageImage(image.data(), image.size()).empty());
    EXPECT_TRUE(images::parsePageImage(nullptr, 0).empty());
}

TEST(Pages, EdfbPageCarriesBothPhyMasks) {
    Bytes p = images::edfbPage(0x1'0000'0003ull, 0x2'0000'0004ull);
    ASSERT_EQ(p.size(), 32u);
    EXPECT_EQ(le32(p, 4), 3u);
    EXPECT_EQ(le32(p, 8), 1u);
    EXPECT_EQ(le32(p, (32 / 4 - 4) * 4), 4u);
    EXPECT_EQ(le32(p, (32 / 4 - 3) * 4), 2u);
}

// A minimal independent walk of a trace buffer.
struct Walk {
    uint32_t version = 0, tableSize = 0;
    std::vector<std::pair<uint8_t, std::vector<std::string>>> modules;
    std::vector<uint32_t> descriptors;
};
Walk walkTrace(const Bytes& b) {
    Walk w;
    w.version = le32(b, 0);
    w.tableSize = le32(b, 12);
    size_t at = 16;
    while (at < 16 + w.tableSize) {
        const uint32_t length = le32(b, at + 4);
        std::vector<std::string> strings;
        std::string current;
        for (size_t i = at + 16 + 2; i < at + 16 + length; ++i) {
            if (b[i] == 0) {
                if (strings.size() < le16(b, at + 2))
                    strings.push_back(current);
                current.clear();
            } else {
                current.push_back(char(b[i]));
            }
        }
        w.modules.emplace_back(b[at], strings);
        at += 16 + length;
    }
    while (at + 4 <= b.size()) {
        const uint32_t d = le32(b, at);
        w.descriptors.push_back(d);
        at += 4 + 4 * (d >> 24);
    }
    return w;
}

TEST(TraceBuffer, SampleLayout) {
    const images::TraceBufferOptions o = images::sampleTrace();
    const Bytes b = images::buildTraceBuffer(o);
    const Walk w = walkTrace(b);
    EXPECT_EQ(w.version, 1u);
    EXPECT_EQ(w.tableSize % 4, 0u);
    ASSERT_EQ(w.modules.size(), o.modules.size());
    EXPECT_EQ(w.modules[0].first, 1);
    EXPECT_EQ(w.modules[0].second, o.modules[0].strings);
    ASSERT_EQ(w.descriptors.size(), o.records.size());
    // Record 0: two arguments, module 1, string 4 ("TSTAMP") stored as 5.
    EXPECT_EQ(w.descriptors[0], 0x02010005u);
    EXPECT_EQ(o.modules[0].strings[4].rfind("TSTAMP", 0), 0u);
    EXPECT_EQ(w.descriptors.back(), 0x02010005u);
    EXPECT_EQ(le32(b, b.size() - 4), 3723004u);
}

TEST(TraceBuffer, BrokenVariants) {
    images::TraceBufferOptions o;
    o.version = 2;
    o.modules = {{3, {"a %s b\n"}, 0}};
    o.records = {{3, 0, {1, 2, 3, 4, 5}, 5}};
    o.stringTableSizeOverride = 0x10000;
    const Bytes b = images::buildTraceBuffer(o);
    EXPECT_EQ(le32(b, 0), 2u);
    EXPECT_EQ(le32(b, 12), 0x10000u);
    EXPECT_EQ(le16(b, 16 + 2), 0);  // string count 0
    EXPECT_EQ(le32(b, 16 + 16 + 12) >> 24, 5u);
}

TEST(HealthLog, EntriesTerminatorAndCapacity) {
    const auto entries = images::sampleHealthLog();
    Bytes b = images::buildHealthLog(entries);
    ASSERT_EQ(b.size(), (entries.size() + 1) * 64);
    EXPECT_EQ(le32(b, 0), uint32_t(entries[0].timestamp));
    EXPECT_EQ(le32(b, 4), uint32_t(entries[0].timestamp >> 32));
    EXPECT_EQ(le16(b, 64 + 12), entries[1].sequence);
    EXPECT_EQ(le16(b, 64 + 14), entries[1].qualifier);
    EXPECT_EQ(le32(b, 64 + 16), entries[1].code);
    EXPECT_EQ(le16(b, 64 + 20), entries[1].locale);
    EXPECT_EQ(b[64 + 22], entries[1].argumentType);
    EXPECT_EQ(b[64 + 23], entries[1].logClass);
    EXPECT_EQ(le32(b, 64 + 24 + 8), entries[1].data[2]);
    EXPECT_EQ(le32(b, entries.size() * 64), 0u);  // the end of the log
    // The sample's second data word of entry 2 holds 'A', ' ', 'B', 0xC3.
    EXPECT_EQ(Bytes(b.begin() + 128 + 28, b.begin() + 128 + 32), (Bytes{0x41, 0x20, 0x42, 0xC3}));

    b = images::buildHealthLog(entries, 100);  // room for one entry and a partial one
    EXPECT_EQ(b.size(), 100u);
    EXPECT_EQ(Bytes(b.begin() + 64, b.end()), Bytes(36, 0));

    const std::string text = images::renderHealthLogText(entries);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), long(entries.size()));
    EXPECT_NE(text.find("code 0x00020005"), std::string::npos);
}

}  // namespace
}  // namespace exptest
