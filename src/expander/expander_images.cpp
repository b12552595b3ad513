#include "expander/expander_images.h"

#include <algorithm>
#include <cstring>

#include "shell/bytes.h"

namespace {

// A 32-bit field at off, or nothing when it does not lie inside the data.
bool wordAt(const uint8_t* data, size_t size, size_t off, uint32_t* value) {
    if (size < 4 || off > size - 4)
        return false;
    *value = getLe32(data, off);
    return true;
}

// First differing offset in [from, to), or to when the ranges agree.
size_t differenceIn(const uint8_t* a, const uint8_t* b, size_t from, size_t to) {
    if (from >= to || std::memcmp(a + from, b + from, to - from) == 0)
        return to;
    while (a[from] == b[from])
        ++from;
    return from;
}

}  // namespace

uint32_t firmwareWordSum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t off = 0; off + 4 <= length; off += 4)
        sum += getLe32(data, off);
    return sum;
}

FirmwareImageCheck checkFirmwareImage(const uint8_t* data, size_t size) {
    FirmwareImageCheck check;
    uint32_t s1 = 0;
    uint32_t s2 = 0;
    uint32_t s3 = 0;
    check.signatureValid = wordAt(data, size, 4, &s1) && wordAt(data, size, 8, &s2) &&
                           wordAt(data, size, 12, &s3) && s1 == kFirmwareSignature1 &&
                           s2 == kFirmwareSignature2 && s3 == kFirmwareSignature3;
    wordAt(data, size, kFirmwareVersionOffset, &check.version);

    uint32_t lengthWord = kFirmwareLengthUnset;
    wordAt(data, size, kFirmwareLengthWordOffset, &lengthWord);
    size_t length = size;
    if (lengthWord != kFirmwareLengthUnset && lengthWord < size)
        length = lengthWord;
    length &= ~static_cast<size_t>(3);
    // A size beyond 32 bits cannot be sent anyway; keep the value in range.
    check.imageLength = static_cast<uint32_t>(std::min<size_t>(length, 0xFFFFFFFCu));
    check.checksumValid = firmwareWordSum(data, check.imageLength) == 0;
    return check;
}

MfgImageCheck checkManufacturingImage(const uint8_t* data, size_t size) {
    MfgImageCheck check;
    check.signatureValid = size > kMfgSignatureOffset && data[kMfgSignatureOffset] == kMfgSignature;
    if (size <= kMfgHeaderLengthOffset) {
        check.checksum = MfgChecksum::TooShort;
        return check;
    }
    size_t record = data[kMfgHeaderLengthOffset];
    if (size < record + 1) {
        check.checksum = MfgChecksum::TooShort;
        return check;
    }
    // Marker, checksum, two unused bytes, then the page and its length word.
    constexpr size_t kPageStart = 4;
    while (record + 1 <= size && data[record] != kMfgRecordEnd) {
        if (size - record < kPageStart + 2) {
            check.checksum = MfgChecksum::Mismatch;
            return check;
        }
        const size_t pageLength = getLe16(data, record + kPageStart);
        const size_t page = record + kPageStart;
        if (pageLength > size - page) {
            check.checksum = MfgChecksum::Mismatch;
            return check;
        }
        uint8_t sum = 0;
        for (size_t i = 0; i < pageLength; ++i)
            sum = static_cast<uint8_t>(sum + data[page + i]);
        if (sum != data[record + 1]) {
            check.checksum = MfgChecksum::Mismatch;
            return check;
        }
        record = page + pageLength;
    }
    check.checksum = MfgChecksum::Passed;
    return check;
}

bool regionHeaderImageLength(const uint8_t* header, size_t size, uint32_t* length) {
    return wordAt(header, size, kRegionImageLengthOffset, length);
}

size_t firstImageDifference(const uint8_t* image, const uint8_t* readBack, size_t length) {
    const size_t head = std::min(length, kFirmwareStampFirst);
    const size_t first = differenceIn(image, readBack, 0, head);
    if (first != head)
        return first;
    return differenceIn(image, readBack, std::min(length, kFirmwareStampLast + 1), length);
}
