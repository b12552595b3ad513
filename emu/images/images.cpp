// Firmware images and page-record images.
#include "images/images.h"

#include <algorithm>

#include "images/le_bytes.h"

namespace qemu::images {

using bytes::getLe16;
using bytes::getLe32;
using bytes::putLe16;
using bytes::putLe32;

std::vector<uint8_t> buildFirmwareImage(const FirmwareImageOptions& options) {
    size_t length = std::max(options.length, kFirmwareHeaderSize);
    length = (length + 3) & ~static_cast<size_t>(3);
    std::vector<uint8_t> image(length, 0);
    uint8_t* p = image.data();
    p[0] = 'Q';
    p[1] = 'X';
    p[2] = 'F';
    p[3] = 'W';
    putLe32(p + 4, kFirmwareSignature1);
    putLe32(p + 8, options.breakSignature ? 0x12345678u : kFirmwareSignature2);
    putLe32(p + 12, kFirmwareSignature3);
    putLe32(p + 16, options.deviceId);
    putLe32(p + 20, options.buildNumber);
    putLe32(p + kFirmwareVersionOffset, options.version);
    for (size_t i = 0; i < 16 && i < options.productName.size(); ++i) {
        p[40 + i] = static_cast<uint8_t>(options.productName[i]);
    }
    putLe32(p + kFirmwareImageLengthOffset,
            options.imageLengthField.value_or(static_cast<uint32_t>(length)));
    putLe32(p + kFirmwareLengthWordOffset, options.lengthWord);
    // Payload: a cheap deterministic pattern, different per seed.
    uint32_t x = options.seed * 2654435761u + 1;
    for (size_t off = kFirmwareHeaderSize; off + 4 <= length; off += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        putLe32(p + off, x);
    }
    // The balance word covers the whole image, or the length word when it
    // is set and shorter (the part the download tools check).
    size_t checked = length;
    if (options.lengthWord != 0xFFFFFFFF && options.lengthWord < length) {
        checked = options.lengthWord & ~3u;
    }
    if (checked >= kFirmwareChecksumOffset + 4) {
        uint32_t sum = firmwareWordSum(p, checked);
        putLe32(p + kFirmwareChecksumOffset, 0u - sum + (options.breakChecksum ? 1u : 0u));
    }
    return image;
}

bool firmwareSignatureValid(const uint8_t* data, size_t size) {
    return size >= 16 && getLe32(data + 4) == kFirmwareSignature1 &&
           getLe32(data + 8) == kFirmwareSignature2 && getLe32(data + 12) == kFirmwareSignature3;
}

uint32_t firmwareWordSum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t off = 0; off + 4 <= length; off += 4) {
        sum += getLe32(data + off);
    }
    return sum;
}

// ---------------------------------------------------------------- pages

std::vector<uint8_t> buildPage(uint16_t number, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> page(4 + body.size());
    putLe16(page.data(), static_cast<uint16_t>(page.size()));
    putLe16(page.data() + 2, number);
    std::copy(body.begin(), body.end(), page.begin() + 4);
    return page;
}

uint8_t pageChecksum(const std::vector<uint8_t>& page) {
    uint8_t sum = 0;
    for (uint8_t b : page) {
        sum = static_cast<uint8_t>(sum + b);
    }
    return sum;
}

std::vector<uint8_t> buildPageImage(const PageImageOptions& options) {
    const size_t header = std::max<size_t>(options.headerLength, 4);
    std::vector<uint8_t> image(header, 0);
    putLe16(image.data(), 1);  // format version
    image[2] = options.signature;
    image[3] = static_cast<uint8_t>(header);
    for (size_t i = 4; i < header && i < 12; ++i) {
        image[i] = static_cast<uint8_t>("QXPAGES!"[i - 4]);
    }
    for (const PageRecord& record : options.records) {
        uint8_t sum = pageChecksum(record.page);
        image.push_back(record.marker);
        image.push_back(static_cast<uint8_t>(record.breakChecksum ? sum + 1 : sum));
        image.push_back(0);
        image.push_back(0);
        image.insert(image.end(), record.page.begin(), record.page.end());
    }
    if (options.endRecord) {
        image.insert(image.end(), 8, kRecordEnd);
    }
    if (options.capacity > image.size()) {
        image.resize(options.capacity, 0xFF);
    }
    return image;
}

std::vector<ParsedRecord> parsePageImage(const uint8_t* data, size_t size) {
    std::vector<ParsedRecord> records;
    if (data == nullptr || size < 4 || data[2] != kPageImageSignature) {
        return records;
    }
    size_t offset = data[3];
    while (offset + 8 <= size) {
        const uint8_t* r = data + offset;
        uint8_t marker = r[0];
        uint16_t length = getLe16(r + 4);
        uint16_t number = getLe16(r + 6);
        if (marker == kRecordEnd || number == 0xFFFF || length < 4 || length > size - offset - 4) {
            break;
        }
        ParsedRecord parsed;
        parsed.offset = offset;
        parsed.marker = marker;
        parsed.number = number;
        parsed.page.assign(r + 4, r + 4 + length);
        parsed.checksumOk = pageChecksum(parsed.page) == r[1];
        records.push_back(std::move(parsed));
        offset += 4 + length;
    }
    return records;
}

std::vector<uint8_t> sasAddressPage(uint16_t number, uint64_t sasAddress) {
    std::vector<uint8_t> body(8);
    putLe32(body.data(), static_cast<uint32_t>(sasAddress >> 32));
    putLe32(body.data() + 4, static_cast<uint32_t>(sasAddress));
    return buildPage(number, body);
}

namespace {
void putText(std::vector<uint8_t>& body, size_t at, size_t width, const std::string& text,
             uint8_t pad) {
    for (size_t i = 0; i < width; ++i) {
        body[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : pad;
    }
}
}  // namespace

std::vector<uint8_t> serialPage(const std::string& serial, const std::string& boardId) {
    // Page bytes 4..7 board ID, 8..17 serial, 18..27 reserved: 28 bytes.
    std::vector<uint8_t> body(24, 0);
    putText(body, 0, 4, boardId, ' ');
    putText(body, 4, 10, serial, ' ');
    return buildPage(kPageSerial, body);
}

std::vector<uint8_t> enclosurePage(uint64_t logicalId, uint16_t slots) {
    std::vector<uint8_t> body(12, 0);
    putLe32(body.data(), static_cast<uint32_t>(logicalId >> 32));
    putLe32(body.data() + 4, static_cast<uint32_t>(logicalId));
    putLe16(body.data() + 8, slots);
    return buildPage(kPageEnclosure, body);
}

std::vector<uint8_t> macPage(const std::array<uint8_t, 6>& mac) {
    std::vector<uint8_t> body(8, 0);
    std::copy(mac.begin(), mac.end(), body.begin());
    return buildPage(kPageMac, body);
}

std::vector<uint8_t> ioSettingsPage(uint8_t phyCount, uint32_t flags) {
    std::vector<uint8_t> body(12, 0);
    body[0] = phyCount;
    putLe32(body.data() + 4, flags);
    return buildPage(kPageIoSettings, body);
}

uint32_t packTimeStamp(unsigned year, unsigned month, unsigned day, unsigned hour,
                       unsigned minute) {
    return (year & 0xFF) | ((month & 0xF) << 8) | ((day & 0x1F) << 12) | ((hour & 0x1F) << 17) |
           ((minute & 0x3F) << 22);
}

std::vector<uint8_t> manufacturingPage(const ManufacturingInfo& info) {
    // 4..7 reserved, 8..11 firmware revision, 12..15 manufacturing revision
    // (both most significant byte first), 16..19 time stamp, 20..33 product
    // name, 34.. platform name.
    std::vector<uint8_t> body(30 + info.platformName.size(), 0);
    for (int i = 0; i < 4; ++i) {
        body[4 + i] = static_cast<uint8_t>(info.firmwareRevision >> (24 - 8 * i));
        body[8 + i] = static_cast<uint8_t>(info.manufacturingRevision >> (24 - 8 * i));
    }
    putLe32(body.data() + 12,
            packTimeStamp(info.year, info.month, info.day, info.hour, info.minute));
    putText(body, 16, 14, info.productName, ' ');
    putText(body, 30, info.platformName.size(), info.platformName, ' ');
    return buildPage(kPageManufacturing, body);
}

std::vector<uint8_t> edfbPage(uint64_t enableMask, uint64_t errorLimitMask) {
    std::vector<uint8_t> body(28, 0);
    putLe32(body.data(), static_cast<uint32_t>(enableMask));
    putLe32(body.data() + 4, static_cast<uint32_t>(enableMask >> 32));
    putLe32(body.data() + 12, static_cast<uint32_t>(errorLimitMask));
    putLe32(body.data() + 16, static_cast<uint32_t>(errorLimitMask >> 32));
    return buildPage(kPageEdfb, body);
}

std::vector<uint8_t> networkPage(const std::array<uint8_t, 4>& ip, bool assignedByNetwork) {
    // 4..7 address, 8..11 netmask, 12..15 gateway, 28 address mode: 32 bytes.
    std::vector<uint8_t> body(28, 0);
    std::copy(ip.begin(), ip.end(), body.begin());
    body[4] = 255;
    body[5] = 255;
    body[6] = 255;
    body[8] = ip[0];
    body[9] = ip[1];
    body[10] = ip[2];
    body[11] = 1;
    body[24] = assignedByNetwork ? 1 : 0;
    return buildPage(kPageNetwork, body);
}

}  // namespace qemu::images
