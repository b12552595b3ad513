// Checks of expander flash images, free of I/O so that tests and fuzzers
// call them directly: the firmware image (signatures, version, the length it
// declares, the word sum), the manufacturing image (signature, page-record
// walk and page sums), the image length a region header reports, and the
// comparison of a downloaded image with what the region holds. Every field
// is read only when its bytes lie inside what was given.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kFirmwareSignature1 = 0xC0EABAA0;  // offset 4
inline constexpr uint32_t kFirmwareSignature2 = 0xC0BAEAA0;  // offset 8
inline constexpr uint32_t kFirmwareSignature3 = 0xC0BAA0EA;  // offset 12
inline constexpr size_t kFirmwareVersionOffset = 36;
inline constexpr size_t kFirmwareLengthWordOffset = 76;
inline constexpr uint32_t kFirmwareLengthUnset = 0xFFFFFFFF;
// Bytes the expander may stamp on an image it stores; never compared.
inline constexpr size_t kFirmwareStampFirst = 28;
inline constexpr size_t kFirmwareStampLast = 36;
// The header a region reports, and where it keeps its image's length.
inline constexpr uint32_t kRegionHeaderSize = 84;
inline constexpr size_t kRegionImageLengthOffset = 56;

struct FirmwareImageCheck {
    bool signatureValid = false;
    bool checksumValid = false;
    uint32_t version = 0;      // bytes 39..36, most significant first; 0 when absent
    uint32_t imageLength = 0;  // bytes checked, sent and compared (a multiple of 4)
};

// A field beyond the file is absent: the signature fails, the version is 0
// and the length word counts as unset. The image length is the file size, or
// the length word when it is set and smaller, cut down to a multiple of 4.
FirmwareImageCheck checkFirmwareImage(const uint8_t* data, size_t size);

// Wrapping sum of the little-endian words of the first length bytes (length
// a multiple of 4, within the data).
uint32_t firmwareWordSum(const uint8_t* data, size_t length);

enum class MfgChecksum : uint32_t {
    Passed,
    Mismatch,  // a page sum differs, or a record runs past the file
    TooShort,  // no room for the first record (or the header length itself)
};

struct MfgImageCheck {
    bool signatureValid = false;
    MfgChecksum checksum = MfgChecksum::TooShort;
    bool passed() const { return signatureValid && checksum == MfgChecksum::Passed; }
};

inline constexpr size_t kMfgSignatureOffset = 2;
inline constexpr uint8_t kMfgSignature = 0x10;
inline constexpr size_t kMfgHeaderLengthOffset = 3;
inline constexpr uint8_t kMfgRecordEnd = 0xFF;

// Walks the page records from the header length on: each record's checksum
// byte must be the 8-bit sum of its page. The walk ends at an end marker or
// when no byte is left for the next record's marker.
MfgImageCheck checkManufacturingImage(const uint8_t* data, size_t size);

// The image length word of a region header; false when the header is too
// short to hold it.
bool regionHeaderImageLength(const uint8_t* header, size_t size, uint32_t* length);

// Offset of the first byte where the read-back differs from the image over
// length bytes, skipping the stamp bytes 28..36; length when none does.
size_t firstImageDifference(const uint8_t* image, const uint8_t* readBack, size_t length);
