// Decoders of device answers; see device_details.h. Everything here is bounded
// by the received length, so a device that lies about its lengths cannot make
// the library read beyond what it sent.
#include "xollib/device_details.h"

#include <cstring>

#include "shell/bytes.h"

namespace {

constexpr uint8_t kPeripheralTypeMask = 0x1F;
constexpr uint8_t kUnknownType = 31;
constexpr size_t kVpdHeader = 4;
constexpr size_t kSerialLimit = 128;

constexpr uint32_t kInfoTypeNibble = 0x000F;
constexpr uint32_t kInfoNvmeType = 3;
constexpr uint32_t kInfoSataDevice = 0x0080;
constexpr uint32_t kInfoStpTarget = 0x0200;
constexpr uint32_t kInfoSspTarget = 0x0400;
constexpr uint32_t kInfoDirectAttach = 0x0800;
constexpr uint32_t kInfoSecondDirect = 0x0010;
constexpr uint32_t kInfoListed = 0x0400 | 0x0200 | 0x0080 | 0x2000 | 0x4000;
constexpr uint8_t kAccessStatusRemoved = 7;

}  // namespace

uint8_t inquiryDeviceType(const uint8_t* data, size_t received) {
    if (data == nullptr || received == 0)
        return kUnknownType;
    return data[0] & kPeripheralTypeMask;
}

bool decodeUnitSerial(const uint8_t* data, size_t received, char* text, uint32_t* length) {
    text[0] = '\0';
    *length = 0;
    if (data == nullptr || received < kVpdHeader || data[1] != 0x80)
        return false;
    size_t n = getBe16(data, 2);
    if (n > kSerialLimit)
        n = kSerialLimit;
    if (n > received - kVpdHeader)
        n = received - kVpdHeader;
    const uint8_t* begin = data + kVpdHeader;
    const uint8_t* end = begin + n;
    // The text ends at a NUL as well: what follows is not part of it.
    if (const void* nul = std::memchr(begin, 0, n))
        end = static_cast<const uint8_t*>(nul);
    while (begin < end && *begin == ' ')
        ++begin;
    while (end > begin && end[-1] == ' ')
        --end;
    const size_t kept = static_cast<size_t>(end - begin);
    std::memcpy(text, begin, kept);
    text[kept] = '\0';
    *length = static_cast<uint32_t>(kept);
    return true;
}

bool decodeReadCapacity10(const uint8_t* data, size_t received, uint32_t* lastLba,
                          uint32_t* blockSize) {
    if (data == nullptr || received < 8)
        return false;
    *lastLba = getBe32(data, 0);
    *blockSize = getBe32(data, 4);
    return true;
}

bool decodeReadCapacity16(const uint8_t* data, size_t received, uint64_t* lastLba,
                          uint32_t* blockSize) {
    if (data == nullptr || received < 12)
        return false;
    *lastLba = getBe64(data, 0);
    *blockSize = getBe32(data, 8);
    return true;
}

bool vpdPageListed(const uint8_t* data, size_t received, uint8_t code) {
    if (data == nullptr || received < kVpdHeader || data[1] != 0x00)
        return false;
    size_t count = data[3];
    if (count > received - kVpdHeader)
        count = received - kVpdHeader;
    return std::memchr(data + kVpdHeader, code, count) != nullptr;
}

bool decodeBlockCharacteristics(const uint8_t* data, size_t received, uint16_t* rotationRate,
                                uint8_t* formFactor) {
    if (data == nullptr || received < 8 || data[1] != 0xB1)
        return false;
    *rotationRate = getBe16(data, 4);
    *formFactor = data[7] & 0x0F;
    return true;
}

uint8_t senseKeyOf(const uint8_t* sense, size_t received) {
    if (sense == nullptr || received < 3)
        return 0;
    switch (sense[0] & 0x7F) {
        case 0x70:
        case 0x71:
            return sense[2] & 0x0F;
        case 0x72:
        case 0x73:
            return sense[1] & 0x0F;
        default:
            return 0;
    }
}

bool decodeDevicePage(const uint8_t* page, size_t size, bool secondList, DevicePageFields* f) {
    if (page == nullptr || size < kDevicePageMinimum)
        return false;
    f->slot = getLe16(page, 8);
    f->enclosureHandle = getLe16(page, 10);
    f->sasAddress = getLe64(page, 12);
    f->phy = page[22];
    f->accessStatus = page[23];
    f->devHandle = getLe16(page, 24);
    f->deviceInfo = getLe32(page, 28);
    f->flags = getLe16(page, 32);
    f->port = secondList ? page[26] : page[34];
    const uint32_t directBit = secondList ? kInfoSecondDirect : kInfoDirectAttach;
    if (f->enclosureHandle > 1)
        f->attachment = 1;
    else if (f->enclosureHandle == 0 && (f->deviceInfo & directBit) == 0)
        f->attachment = 2;
    else
        f->attachment = 0;
    return true;
}

uint32_t interfaceKindOf(uint32_t deviceInfo) {
    if ((deviceInfo & kInfoSspTarget) != 0)
        return 1;
    if ((deviceInfo & (kInfoStpTarget | kInfoSataDevice)) != 0)
        return 2;
    if ((deviceInfo & kInfoTypeNibble) == kInfoNvmeType)
        return 3;
    return 15;
}

bool isListedSasDevice(uint32_t deviceInfo, uint8_t accessStatus) {
    return (deviceInfo & kInfoListed) != 0 && accessStatus != kAccessStatusRemoved;
}

bool isListedSecondDevice(uint32_t deviceInfo, uint8_t accessStatus) {
    return (deviceInfo & kInfoTypeNibble) == kInfoNvmeType && accessStatus != kAccessStatusRemoved;
}

uint32_t phyStateCode(uint32_t word) {
    return (word & 0x18000000) >> 27;
}
