// Fields `show` prints from controller bytes: the firmware header's version
// and names, Manufacturing page 0's names, and the bounded text copy they all
// use. Pure: names stop at their field, the page's end or a NUL, and bytes a
// terminal would act on are shown as '.'.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kFirmwareHeaderReadSize = 256;
inline constexpr size_t kFirmwareNameLength = 36;
inline constexpr size_t kVendorNameLength = 36;
inline constexpr size_t kPackageNameLength = 80;
inline constexpr size_t kMfgNameLength = 16;

// Copies the text at `offset` of src (srcSize bytes received) into out: at
// most maxChars characters, ending at the first NUL, the field or the data;
// always NUL-terminated (out holds maxChars + 1 bytes at least).
void copyDeviceText(const uint8_t* src, size_t srcSize, size_t offset, size_t maxChars, char* out);

struct FirmwareHeaderFields {
    uint32_t packageVersion = 0;
    char firmwareName[kFirmwareNameLength + 1] = {};
    char vendorName[kVendorNameLength + 1] = {};
    char packageName[kPackageNameLength + 1] = {};
};
// Newer images start with a prefix block whose word at 0x2C locates the
// header. True with *offset when the first bytes of an image are such a
// prefix (word 1 masked with 0xA5155AFF is 0 or 1, and not the older header's
// own signature).
bool firmwareHeaderIsPrefixed(const uint8_t* start, size_t size, uint32_t* offset);
// True when the bytes begin with the prefixed form's header signature.
bool isPrefixedFormHeader(const uint8_t* header, size_t size);

// False when fewer than kFirmwareHeaderReadSize bytes came.
bool decodeFirmwareHeader(const uint8_t* header, size_t size, FirmwareHeaderFields* out);

struct MfgPage0Fields {
    char chipName[kMfgNameLength + 1] = {};
    char boardName[kMfgNameLength + 1] = {};
};
// False when the page is too short to hold both names.
bool decodeMfgPage0(const uint8_t* page, size_t size, MfgPage0Fields* out);
