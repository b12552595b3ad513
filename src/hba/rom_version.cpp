#include "hba/rom_version.h"

#include <cstring>

#include "shell/bytes.h"

namespace {

constexpr uint16_t kRomSignature = 0xAA55;
constexpr size_t kPcirPointer = 0x18;
constexpr size_t kEfiVersionLow = 26;  // image bytes 26 (low) and 27
constexpr size_t kImageUnit = 512;

// Offsets inside the PCI data structure; the last byte read is at +0x1D.
constexpr size_t kPcirRevision = 0x0C;
constexpr size_t kPcirLength = 0x10;
constexpr size_t kPcirCodeRevision = 0x12;
constexpr size_t kPcirCodeType = 0x14;
constexpr size_t kPcirIndicator = 0x15;
constexpr size_t kPcirOldBuild = 0x18;
constexpr size_t kPcirNewBuild = 0x1C;
constexpr size_t kPcirExtent = 0x1E;
constexpr uint8_t kIndicatorLastImage = 0x80;
constexpr uint8_t kPcirRevisionNewBuild = 3;

constexpr char kWhatMarker[] = "@(#)";
constexpr size_t kWhatMarkerLength = 4;
constexpr char kVersionWord[] = "Version";
constexpr size_t kVersionWordLength = 7;
constexpr size_t kVersionSkip = 8;
// NUL, line feed, double quote and '>' end the what-string text.
constexpr uint64_t kTextEndMask = 0x4000000400000401ULL;

struct RomImage {
    size_t start;
    size_t length;  // bytes, inside the buffer
    size_t pcir;    // absolute offset; the structure lies inside the image
};

// Reads the image at `start`; false when the walk must end there.
bool readImage(const uint8_t* rom, size_t size, size_t start, RomImage* image) {
    if (start > size || size - start < kPcirPointer + 2)
        return false;
    if (getLe16(rom, start) != kRomSignature)
        return false;
    const size_t pcir = start + getLe16(rom, start + kPcirPointer);
    if (pcir > size || size - pcir < kPcirExtent)
        return false;
    const size_t length = static_cast<size_t>(getLe16(rom, pcir + kPcirLength)) * kImageUnit;
    if (length == 0 || length > size - start)
        return false;
    if (pcir + kPcirExtent > start + length)
        return false;
    *image = RomImage{start, length, pcir};
    return true;
}

bool endsText(uint8_t c) {
    return c < 63 && ((kTextEndMask >> c) & 1) != 0;
}

// The value of a hex digit character; 255 for anything else, including bytes
// past the image.
uint32_t digitAt(const uint8_t* image, size_t size, size_t at) {
    if (at >= size)
        return 255;
    const uint8_t c = image[at];
    if (c >= '0' && c <= '9')
        return static_cast<uint32_t>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<uint32_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<uint32_t>(c - 'A' + 10);
    return 255;
}

uint32_t pairAt(const uint8_t* image, size_t size, size_t at) {
    return 10 * digitAt(image, size, at) + digitAt(image, size, at + 1);
}

size_t findMarker(const uint8_t* image, size_t size) {
    size_t at = 0;
    while (size - at >= kWhatMarkerLength) {
        const void* hit =
            std::memchr(image + at, kWhatMarker[0], size - at - kWhatMarkerLength + 1);
        if (hit == nullptr)
            return size;
        at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - image);
        if (std::memcmp(image + at, kWhatMarker, kWhatMarkerLength) == 0)
            return at;
        ++at;
    }
    return size;
}

}  // namespace

uint32_t openFirmwareVersion(const uint8_t* image, size_t size) {
    const size_t marker = findMarker(image, size);
    if (marker == size)
        return kRomVersionNotFound;
    const size_t text = marker + kWhatMarkerLength;
    size_t textEnd = text;
    while (textEnd < size && !endsText(image[textEnd]))
        ++textEnd;
    size_t p = text;
    for (size_t at = text; textEnd - at >= kVersionWordLength; ++at) {
        if (std::memcmp(image + at, kVersionWord, kVersionWordLength) == 0) {
            p = at + kVersionSkip;
            break;
        }
    }
    const uint32_t last = p + 8 < size && image[p + 8] == '(' ? 0 : pairAt(image, size, p + 8);
    return (digitAt(image, size, p) << 24) | (pairAt(image, size, p + 2) << 16) |
           (pairAt(image, size, p + 5) << 8) | last;
}

uint32_t romImageVersion(const uint8_t* rom, size_t size, uint8_t codeType) {
    if (rom == nullptr || size < 2 || getLe16(rom, 0) != kRomSignature)
        return kRomVersionNotFound;
    uint8_t wanted = codeType == kRomCodeX86Alias ? kRomCodeX86 : codeType;
    RomImage image{};
    if (wanted == kRomCodeFirstImage) {
        if (!readImage(rom, size, 0, &image))
            return kRomVersionNotFound;
        wanted = rom[image.pcir + kPcirCodeType];
    }
    uint32_t openFirmware = kRomVersionNotFound;
    // Every image is at least 512 bytes long, so the walk always moves on.
    for (size_t start = 0; readImage(rom, size, start, &image); start += image.length) {
        const uint8_t* pcir = rom + image.pcir;
        const uint8_t type = pcir[kPcirCodeType];
        const uint16_t revision = getLe16(pcir, kPcirCodeRevision);
        if (type == wanted && type == kRomCodeX86) {
            const size_t build =
                pcir[kPcirRevision] < kPcirRevisionNewBuild ? kPcirOldBuild : kPcirNewBuild;
            return (static_cast<uint32_t>(revision) << 16) |
                   (static_cast<uint32_t>(pcir[build]) << 8) | pcir[build + 1];
        }
        if (type == wanted && type == kRomCodeEfi) {
            const uint8_t* base = rom + image.start;
            return (static_cast<uint32_t>(revision >> 8) << 24) |
                   (static_cast<uint32_t>(revision & 0xFF) << 16) |
                   (static_cast<uint32_t>(base[kEfiVersionLow + 1]) << 8) | base[kEfiVersionLow];
        }
        if (type == wanted && type == kRomCodeOpenFirmware) {
            const uint32_t version = openFirmwareVersion(rom + image.start, image.length);
            if (version != kRomVersionNotFound)
                openFirmware = version;
        }
        if ((pcir[kPcirIndicator] & kIndicatorLastImage) != 0)
            break;
    }
    return openFirmware;
}
