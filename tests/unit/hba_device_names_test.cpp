// Pure pieces behind scan and show -sys: node names, the packed SCSI
// address, the host number of an adapter name, the name tables, and the
// decoders of device answers on lying lengths.
#include <gtest/gtest.h>

#include <cstring>

#include "hba/device_list.h"
#include "hba/device_nodes.h"
#include "hba/names.h"
#include "shell/bytes.h"
#include "xollib/device_details.h"
#include "xollib/xollib2.h"

namespace {

TEST(HbaDeviceNames, NodeNamesAndAddresses) {
    const struct {
        const char* family;
        uint32_t index;
        const char* name;
    } cases[] = {
        {"/dev/sd", 0, "/dev/sda"},     {"/dev/sd", 25, "/dev/sdz"},   {"/dev/sd", 26, "/dev/sdaa"},
        {"/dev/sd", 52, "/dev/sdba"},   {"/dev/sd", 255, "/dev/sdiv"}, {"/dev/sr", 3, "/dev/sr3"},
        {"/dev/st", 255, "/dev/st255"},
    };
    for (const auto& c : cases) {
        char name[32];
        deviceNodeName(c.family, c.index, name, sizeof name);
        EXPECT_STREQ(name, c.name) << c.index;
    }
    EXPECT_EQ(packedScsiId(2, 1, 5, 0), 0x02010005u);
    EXPECT_EQ(packedScsiId(0x102, 0, 0x1FF, 3), 0x020003FFu);  // each cut to 8 bits

    uint32_t host = 0;
    EXPECT_TRUE(hostNumberFromName("SAS Host 17", 76, &host));
    EXPECT_EQ(host, 17u);
    EXPECT_FALSE(hostNumberFromName("SAS Host ", 76, &host));
    EXPECT_FALSE(hostNumberFromName("SAS Host 1x", 76, &host));
    EXPECT_FALSE(hostNumberFromName("Host 1", 76, &host));
    const char unterminated[12] = {'S', 'A', 'S', ' ', 'H', 'o', 's', 't', ' ', '4', '2', '7'};
    EXPECT_TRUE(hostNumberFromName(unterminated, sizeof unterminated, &host));
    EXPECT_EQ(host, 427u);
}

TEST(HbaDeviceNames, Tables) {
    EXPECT_STREQ(scsiDeviceTypeName(0), "Disk");
    EXPECT_STREQ(scsiDeviceTypeName(13), "EnclServ");
    EXPECT_STREQ(scsiDeviceTypeName(14), "0Eh");
    EXPECT_STREQ(scsiDeviceTypeName(30), "1Eh");
    EXPECT_STREQ(scsiDeviceTypeName(31), "");
    uint8_t info[kXolDeviceInfoSize] = {};
    info[kDeviceInfoInquiry] = 0x65;  // qualifier bits do not count
    EXPECT_STREQ(deviceTypeNameOf(info), "CDROM");
    putLe32(info, kDeviceInfoDeviceType, 33);
    EXPECT_STREQ(deviceTypeNameOf(info), "");
    EXPECT_STREQ(interfaceKindName(0), "");
    EXPECT_STREQ(interfaceKindName(5), "SOP");
    EXPECT_STREQ(interfaceKindName(6), "Unknown");
    EXPECT_STREQ(interfaceKindName(99), "Unknown");
    EXPECT_STREQ(sasLinkRateName(6), "Unknown");
    EXPECT_STREQ(sasLinkRateName(11), "SAS-12.0 G");
    EXPECT_STREQ(pcieLinkRateName(5), "PCIE-Unknown");

    const uint8_t raw[8] = {'A', 0x1B, '[', '2', 'J', 0xFF, 0, 'Z'};
    char text[9];
    printableText(raw, sizeof raw, text);
    EXPECT_STREQ(text, "A.[2J.");
}

TEST(HbaDeviceNames, DecodersTrustOnlyWhatCame) {
    // A serial page claiming 200 bytes of which 10 came.
    uint8_t page[14] = {0, 0x80, 0, 200, ' ', 'Q', 'Z', '1', ' ', ' ', ' ', ' ', ' ', ' '};
    char serial[kSerialTextCapacity];
    uint32_t length = 0;
    ASSERT_TRUE(decodeUnitSerial(page, sizeof page, serial, &length));
    EXPECT_STREQ(serial, "QZ1");
    EXPECT_EQ(length, 3u);
    page[1] = 0x83;
    EXPECT_FALSE(decodeUnitSerial(page, sizeof page, serial, &length));

    // Page 0x00 whose count runs past the answer: only what came is searched.
    const uint8_t list[6] = {0, 0, 0, 250, 0x00, 0x80};
    EXPECT_TRUE(vpdPageListed(list, sizeof list, 0x80));
    EXPECT_FALSE(vpdPageListed(list, sizeof list, 0xB1));

    uint32_t last = 0;
    uint32_t blockSize = 0;
    const uint8_t capacity[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0};
    EXPECT_FALSE(decodeReadCapacity10(capacity, 7, &last, &blockSize));
    ASSERT_TRUE(decodeReadCapacity10(capacity, 8, &last, &blockSize));
    EXPECT_EQ(last, 0xFFFFFFFFu);
    EXPECT_EQ(blockSize, 512u);

    const uint8_t fixed[3] = {0x70, 0, 0x36};
    const uint8_t descriptor[3] = {0x72, 0x06, 0};
    EXPECT_EQ(senseKeyOf(fixed, 3), 6u);
    EXPECT_EQ(senseKeyOf(descriptor, 3), 6u);
    EXPECT_EQ(senseKeyOf(fixed, 2), 0u);

    uint8_t device[56] = {};
    putLe16(device, 10, 0);
    putLe32(device, 28, 0x0400);
    DevicePageFields f = {};
    ASSERT_TRUE(decodeDevicePage(device, sizeof device, false, &f));
    EXPECT_EQ(f.attachment, 2u);
    putLe32(device, 28, 0x0C00);
    ASSERT_TRUE(decodeDevicePage(device, sizeof device, false, &f));
    EXPECT_EQ(f.attachment, 0u);
    putLe16(device, 10, 2);
    ASSERT_TRUE(decodeDevicePage(device, sizeof device, false, &f));
    EXPECT_EQ(f.attachment, 1u);
    EXPECT_FALSE(decodeDevicePage(device, 35, false, &f));
    EXPECT_EQ(interfaceKindOf(0x0281), 2u);
    EXPECT_EQ(interfaceKindOf(0x0013), 3u);
    EXPECT_EQ(interfaceKindOf(0x0102), 15u);
    EXPECT_EQ(phyStateCode(0x18000000), 3u);
}

}  // namespace
