// The expander image checks at their boundaries: which length the firmware
// check settles on, fields of short files, where the manufacturing walk
// ends, which bytes the post-validation comparison skips, and how a
// descriptor word becomes a capacity.
#include <gtest/gtest.h>

#include <vector>

#include "expander/expander_images.h"
#include "expander/region_transfer.h"
#include "shell/bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A firmware image of `size` bytes with the signatures, a version, the
// length word and a word at 80 that makes the first `balanced` bytes sum to 0.
Bytes firmware(size_t size, uint32_t lengthWord, size_t balanced) {
    Bytes b(size, 0);
    for (size_t i = 84; i < size; ++i)
        b[i] = static_cast<uint8_t>(i * 13);
    putLe32(b.data(), 4, kFirmwareSignature1);
    putLe32(b.data(), 8, kFirmwareSignature2);
    putLe32(b.data(), 12, kFirmwareSignature3);
    putLe32(b.data(), 36, 0x05060708);
    putLe32(b.data(), 76, lengthWord);
    putLe32(b.data(), 80, 0u - firmwareWordSum(b.data(), balanced & ~size_t{3}));
    return b;
}

TEST(FirmwareImageCheck, LengthWordRules) {
    const struct {
        size_t size;
        uint32_t lengthWord;
        uint32_t imageLength;
    } cases[] = {
        {0x2000, 0xFFFFFFFF, 0x2000},                  // unset: the file
        {0x2000, 0x1000, 0x1000},                      // set and smaller
        {0x2000, 0x2000, 0x2000},                      // equal: the file
        {0x2000, 0x3000, 0x2000},                      // larger: the file
        {0x2000, 0x1003, 0x1000},                      // cut down to whole words
        {0x2003, 0xFFFFFFFF, 0x2000}, {0x2000, 3, 0},  // below one word: nothing to send
    };
    for (const auto& c : cases) {
        const Bytes image = firmware(c.size, c.lengthWord, c.imageLength);
        const FirmwareImageCheck check = checkFirmwareImage(image.data(), image.size());
        EXPECT_EQ(check.imageLength, c.imageLength) << c.lengthWord;
        EXPECT_TRUE(check.signatureValid);
        EXPECT_EQ(check.version, 0x05060708u);
    }
    // The sum covers exactly the image length: a change past it is not seen.
    Bytes image = firmware(0x2000, 0x1000, 0x1000);
    image[0x1000] ^= 1;
    EXPECT_TRUE(checkFirmwareImage(image.data(), image.size()).checksumValid);
    image[0xFFF] ^= 1;
    EXPECT_FALSE(checkFirmwareImage(image.data(), image.size()).checksumValid);
}

TEST(FirmwareImageCheck, ShortFilesHaveNoFieldsBeyondTheirEnd) {
    const Bytes full = firmware(0x100, 0x40, 0x40);
    // 79 bytes: the length word at 76 is cut, so unset: the image is the file (76).
    FirmwareImageCheck check = checkFirmwareImage(full.data(), 79);
    EXPECT_TRUE(check.signatureValid);
    EXPECT_EQ(check.version, 0x05060708u);
    EXPECT_EQ(check.imageLength, 76u);
    check = checkFirmwareImage(full.data(), 80);
    EXPECT_EQ(check.imageLength, 0x40u);
    check = checkFirmwareImage(full.data(), 39);  // version cut
    EXPECT_EQ(check.version, 0u);
    EXPECT_TRUE(check.signatureValid);
    check = checkFirmwareImage(full.data(), 15);  // third signature cut
    EXPECT_FALSE(check.signatureValid);
    EXPECT_EQ(check.imageLength, 12u);
    check = checkFirmwareImage(full.data(), 3);
    EXPECT_FALSE(check.signatureValid);
    EXPECT_EQ(check.imageLength, 0u);
    EXPECT_TRUE(check.checksumValid);  // nothing summed; dl refuses length 0 itself
}

// Header of H bytes with the signature, then records {checksum, page}.
Bytes manufacturing(uint8_t headerLength, const std::vector<Bytes>& pages, bool end = true) {
    Bytes b(headerLength, 0);
    b[2] = kMfgSignature;
    b[3] = headerLength;
    for (const Bytes& page : pages) {
        uint8_t sum = 0;
        for (uint8_t x : page)
            sum = static_cast<uint8_t>(sum + x);
        b.insert(b.end(), {0xF9, sum, 0, 0});
        b.insert(b.end(), page.begin(), page.end());
    }
    if (end)
        b.push_back(kMfgRecordEnd);
    return b;
}

TEST(ManufacturingImageCheck, WalkEnds) {
    const Bytes page{8, 0, 0x00, 0xFE, 0x9C, 0xFF, 0x80, 0x01};  // sums past 0xFF
    const Bytes twoPages = manufacturing(16, {page, page});
    EXPECT_TRUE(checkManufacturingImage(twoPages.data(), twoPages.size()).passed());
    // Without the end marker the walk ends when no byte is left for a marker.
    const Bytes noEnd = manufacturing(16, {page}, false);
    EXPECT_TRUE(checkManufacturingImage(noEnd.data(), noEnd.size()).passed());

    const struct {
        const char* name;
        Bytes image;
        bool signature;
        MfgChecksum checksum;
    } cases[] = {
        {"three bytes", {0, 0, kMfgSignature}, true, MfgChecksum::TooShort},
        {"two bytes", {0, 0}, false, MfgChecksum::TooShort},
        {"header beyond file", Bytes(twoPages.begin(), twoPages.begin() + 16), true,
         MfgChecksum::TooShort},
        {"marker only", Bytes(twoPages.begin(), twoPages.begin() + 17), true,
         MfgChecksum::Mismatch},
        {"no page length", Bytes(twoPages.begin(), twoPages.begin() + 21), true,
         MfgChecksum::Mismatch},
        {"page cut", Bytes(twoPages.begin(), twoPages.begin() + 27), true, MfgChecksum::Mismatch},
        {"first page whole", Bytes(twoPages.begin(), twoPages.begin() + 28), true,
         MfgChecksum::Passed},
    };
    for (const auto& c : cases) {
        const MfgImageCheck check = checkManufacturingImage(c.image.data(), c.image.size());
        EXPECT_EQ(check.signatureValid, c.signature) << c.name;
        EXPECT_EQ(check.checksum, c.checksum) << c.name;
    }

    Bytes bad = twoPages;
    bad[16 + 12 + 1] ^= 1;  // second record's checksum
    EXPECT_EQ(checkManufacturingImage(bad.data(), bad.size()).checksum, MfgChecksum::Mismatch);
    // A page of length 0 sums to 0: any other checksum fails.
    Bytes empty = manufacturing(16, {}, false);
    empty.insert(empty.end(), {0xF9, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(checkManufacturingImage(empty.data(), empty.size()).checksum, MfgChecksum::Mismatch);
    bad = twoPages;
    bad[2] = 0x11;
    const MfgImageCheck unsigned_ = checkManufacturingImage(bad.data(), bad.size());
    EXPECT_FALSE(unsigned_.signatureValid);
    EXPECT_FALSE(unsigned_.passed());
}

TEST(PostValidation, ComparisonSkipsTheStampOnly) {
    const Bytes image(0x100, 0x5A);
    for (size_t offset : {size_t{0}, size_t{27}, size_t{37}, size_t{0xFF}}) {
        Bytes back = image;
        back[offset] ^= 0xFF;
        EXPECT_EQ(firstImageDifference(image.data(), back.data(), image.size()), offset);
    }
    Bytes back = image;
    for (size_t offset = 28; offset <= 36; ++offset)
        back[offset] ^= 0xFF;
    EXPECT_EQ(firstImageDifference(image.data(), back.data(), image.size()), image.size());
    // Shorter than the stamp: only what exists is compared.
    EXPECT_EQ(firstImageDifference(image.data(), back.data(), 30), 30u);
    back[2] = 0;
    EXPECT_EQ(firstImageDifference(image.data(), back.data(), 30), 2u);

    Bytes header(kRegionHeaderSize, 0);
    putLe32(header.data(), 56, 0x1234);
    uint32_t held = 0;
    ASSERT_TRUE(regionHeaderImageLength(header.data(), header.size(), &held));
    EXPECT_EQ(held, 0x1234u);
    EXPECT_FALSE(regionHeaderImageLength(header.data(), 59, &held));
}

TEST(RegionTransfer, DescriptorCapacity) {
    EXPECT_TRUE(descriptorIsEmpty(0xFFFFFFFF));
    EXPECT_FALSE(descriptorIsEmpty(0xFFFFFFFE));
    EXPECT_EQ(descriptorCapacity(0x02050000), 0x050000u);  // the boundary byte is no size
    EXPECT_EQ(descriptorCapacity(0xFFFFFFFE), 0xFFFFFEu);
}

TEST(RegionTransfer, RegionIdArgument) {
    uint8_t id = 0;
    for (const char* bad : {"0xFF", "ff", "0x", "", "0x100", "100", "0X82", "8g", "-1"})
        EXPECT_FALSE(parseRegionId(bad, &id)) << bad;
    const struct {
        const char* text;
        uint8_t id;
    } good[] = {{"0x82", 0x82}, {"82", 0x82}, {"0xfe", 0xFE}, {"0", 0}, {"0x0", 0}};
    for (const auto& g : good) {
        ASSERT_TRUE(parseRegionId(g.text, &id)) << g.text;
        EXPECT_EQ(id, g.id);
    }
}

}  // namespace
