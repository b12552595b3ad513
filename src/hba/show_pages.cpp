#include "hba/show_pages.h"

#include "shell/bytes.h"

namespace {

constexpr size_t kHeaderPackageVersion = 28;
constexpr size_t kHeaderFirmwareName = 104;
constexpr size_t kHeaderVendorName = 140;
constexpr size_t kHeaderPackageName = 176;

constexpr size_t kMfg0ChipName = 4;
constexpr size_t kMfg0BoardName = 28;
constexpr size_t kMfg0MinimumSize = kMfg0BoardName + kMfgNameLength;

constexpr uint32_t kFormASignature[4] = {0xEA000000, 0x5AFAA55A, 0xA55AFAA5, 0x5AA55AFA};
constexpr uint32_t kFormBSignature[3] = {0x5AEAA500, 0xA55AEAA5, 0x5AA55AEA};
constexpr uint32_t kFormBWord1Mask = 0xA5155AFF;
constexpr uint32_t kFormBTopByte = 0xEB;
constexpr size_t kFormBHeaderOffset = 0x2C;

}  // namespace

bool firmwareHeaderIsPrefixed(const uint8_t* start, size_t size, uint32_t* offset) {
    if (start == nullptr || size < kFormBHeaderOffset + 4)
        return false;
    bool formA = true;
    for (size_t i = 0; i < 4; ++i)
        formA = formA && getLe32(start, 4 * i) == kFormASignature[i];
    if (formA || (getLe32(start, 4) & kFormBWord1Mask) > 1)
        return false;
    *offset = getLe32(start, kFormBHeaderOffset);
    return true;
}

bool isPrefixedFormHeader(const uint8_t* header, size_t size) {
    if (header == nullptr || size < 16 || header[3] != kFormBTopByte)
        return false;
    for (size_t i = 0; i < 3; ++i) {
        if (getLe32(header, 4 + 4 * i) != kFormBSignature[i])
            return false;
    }
    return true;
}

void copyDeviceText(const uint8_t* src, size_t srcSize, size_t offset, size_t maxChars, char* out) {
    size_t n = 0;
    if (src != nullptr && offset < srcSize) {
        const size_t available = srcSize - offset;
        const size_t limit = available < maxChars ? available : maxChars;
        for (; n < limit && src[offset + n] != 0; ++n) {
            const uint8_t c = src[offset + n];
            out[n] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
        }
    }
    out[n] = '\0';
}

bool decodeFirmwareHeader(const uint8_t* header, size_t size, FirmwareHeaderFields* out) {
    if (header == nullptr || size < kFirmwareHeaderReadSize)
        return false;
    out->packageVersion = getLe32(header, kHeaderPackageVersion);
    copyDeviceText(header, size, kHeaderFirmwareName, kFirmwareNameLength, out->firmwareName);
    copyDeviceText(header, size, kHeaderVendorName, kVendorNameLength, out->vendorName);
    copyDeviceText(header, size, kHeaderPackageName, kPackageNameLength, out->packageName);
    return true;
}

bool decodeMfgPage0(const uint8_t* page, size_t size, MfgPage0Fields* out) {
    if (page == nullptr || size < kMfg0MinimumSize)
        return false;
    copyDeviceText(page, size, kMfg0ChipName, kMfgNameLength, out->chipName);
    copyDeviceText(page, size, kMfg0BoardName, kMfgNameLength, out->boardName);
    return true;
}
