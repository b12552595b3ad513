// Firmware image checks. Offsets come from the image itself, so each one is
// checked against the bytes at hand before it is followed.
#include "hba/firmware_image.h"

#include <vector>

#include "shell/bytes.h"
#include "shell/logger.h"

namespace {

constexpr uint32_t kFormA[4] = {0xEA000000, 0x5AFAA55A, 0xA55AFAA5, 0x5AA55AFA};
constexpr uint32_t kFormB[4] = {0xEB000000, 0x5AEAA500, 0xA55AEAA5, 0x5AA55AEA};
constexpr uint32_t kFormBWordMask = 0xA5155AFF;
constexpr size_t kFormBHeaderPointer = 0x2C;
constexpr size_t kSignatureSize = 16;

// Extended image header.
constexpr size_t kExtType = 0;
constexpr size_t kExtSize = 8;
constexpr size_t kExtNext = 12;
constexpr size_t kExtHeaderSize = 16;

// Supported-device list.
constexpr size_t kDeviceCount = 66;
constexpr size_t kDeviceFirst = 72;
constexpr size_t kDeviceStride = 16;

// NVDATA image and its product-ID block.
constexpr size_t kNvdataSignature = 64;
constexpr uint32_t kNvdataSignatureValue = 0x546F6C62;
constexpr size_t kNvdataVersion = 72;
constexpr size_t kNvdataProductBlockWord = 92;
constexpr uint32_t kProductSignatureValue = 0x57657370;
constexpr size_t kProductDeviceTest = 40;
constexpr uint16_t kDeviceTestOff = 0xFFFF;
constexpr size_t kProductDeviceId = 42;
constexpr size_t kProductRevision = 48;
constexpr uint8_t kAnyRevision = 255;
constexpr size_t kProductUpperRevision = 50;
constexpr size_t kProductBlockSize = 51;

// Firmware kinds (product ID bits 8-11).
constexpr uint16_t kKindMask = 0x0F00;
constexpr uint16_t kKindIt = 0x200;
constexpr uint16_t kKindIr = 0x700;

// Related parts that run each other's firmware.
constexpr uint16_t kFamilyEnd = 0;
constexpr uint16_t kDeviceFamilies[][4] = {
    {0x0410, 0x0411, kFamilyEnd, kFamilyEnd},
    {0x0520, 0x0521, 0x0528, kFamilyEnd},
    {0x0630, 0x0631, 0x0632, kFamilyEnd},
};

bool inFamily(const uint16_t* family, uint16_t id) {
    for (size_t i = 0; i < 4 && family[i] != kFamilyEnd; ++i) {
        if (family[i] == id)
            return true;
    }
    return false;
}

bool fits(size_t size, size_t offset, size_t length) {
    return offset <= size && length <= size - offset;
}

bool wordsMatch(const uint8_t* image, size_t at, const uint32_t* words, size_t from) {
    for (size_t i = from; i < 4; ++i) {
        if (getLe32(image, at + 4 * i) != words[i])
            return false;
    }
    return true;
}

// A view of one extended image; reads outside it report failure.
struct ImageView {
    const uint8_t* base;
    size_t size;
    bool has(size_t offset, size_t length) const { return fits(size, offset, length); }
};

ImageView viewOf(const uint8_t* image, const ExtendedImage& ext) {
    return ImageView{image + ext.offset, ext.size};
}

enum class NvdataVerdict {
    Fits,
    BadSignature,
    BadProductSignature,
    WrongDevice,
    WrongRevision,
    OutsideRevisionRange,
};

struct NvdataFields {
    uint32_t version = 0;
    uint16_t deviceTest = 0;
    uint16_t deviceId = 0;
    uint8_t revision = 0;
    uint8_t upperRevision = 0;
};

// Reads the signatures and fields the check needs; a field outside the image
// counts as a wrong product-ID signature.
NvdataVerdict readNvdata(const ImageView& nv, NvdataFields* out) {
    if (!nv.has(kNvdataSignature, 4) || getLe32(nv.base, kNvdataSignature) != kNvdataSignatureValue)
        return NvdataVerdict::BadSignature;
    if (!nv.has(kNvdataVersion, 4) || !nv.has(kNvdataProductBlockWord, 2))
        return NvdataVerdict::BadProductSignature;
    const size_t block = kNvdataSignature + 4 * size_t{getLe16(nv.base, kNvdataProductBlockWord)};
    if (!nv.has(block, kProductBlockSize) || getLe32(nv.base, block) != kProductSignatureValue)
        return NvdataVerdict::BadProductSignature;
    out->version = getLe32(nv.base, kNvdataVersion);
    out->deviceTest = getLe16(nv.base, block + kProductDeviceTest);
    out->deviceId = getLe16(nv.base, block + kProductDeviceId);
    out->revision = nv.base[block + kProductRevision];
    out->upperRevision = nv.base[block + kProductUpperRevision];
    return NvdataVerdict::Fits;
}

NvdataVerdict judgeNvdata(const ImageView& nv, const ControllerIdentity& ioc, NvdataFields* f) {
    const NvdataVerdict read = readNvdata(nv, f);
    if (read != NvdataVerdict::Fits)
        return read;
    if (f->deviceTest != kDeviceTestOff && !deviceIdsMatch(ioc.deviceId, f->deviceId))
        return NvdataVerdict::WrongDevice;
    if (f->revision == kAnyRevision)
        return NvdataVerdict::Fits;
    if (f->upperRevision != 0) {
        return ioc.chipRevision >= f->revision && ioc.chipRevision <= f->upperRevision
                   ? NvdataVerdict::Fits
                   : NvdataVerdict::OutsideRevisionRange;
    }
    return ioc.chipRevision == f->revision ? NvdataVerdict::Fits : NvdataVerdict::WrongRevision;
}

void reportNvdata(NvdataVerdict verdict, const NvdataFields& f, const ControllerIdentity& ioc) {
    switch (verdict) {
        case NvdataVerdict::BadProductSignature:
            logError("Invalid NVDATA PROD_ID signature in Firmware image from File");
            break;
        case NvdataVerdict::BadSignature:
            logError("Invalid NVDATA signature in Firmware image from File");
            break;
        case NvdataVerdict::WrongDevice:
            logError(
                "NVDATA image does not match Controller Device ID. Device ID - NVDATA:0x%x "
                "Controller:0x%x ",
                f.deviceId, ioc.deviceId);
            break;
        case NvdataVerdict::WrongRevision:
            logError(
                "NVDATA image does not match Controller Chip Revision.Chip Revision - "
                "NVDATA:0x%x Controller:0x%x",
                f.revision, ioc.chipRevision);
            break;
        case NvdataVerdict::OutsideRevisionRange:
            logError(
                "NVDATA image does not match Controller Chip Revision.NVDATA Chip Revision "
                "Range: 0x%x to 0x%xController Chip Revision: 0x%x ",
                f.revision, f.upperRevision, ioc.chipRevision);
            break;
        case NvdataVerdict::Fits:
            break;
    }
}

uint32_t checkSupportedDevices(const uint8_t* file, size_t size, const ControllerIdentity& ioc) {
    ExtendedImage ext;
    if (findExtendedImage(file, size, kExtImageSupportedDevices, 0, &ext) != 0) {
        logError("Failed to find supported devices in extended Image");
        return 1;
    }
    const ImageView list = viewOf(file, ext);
    const size_t declared = list.has(kDeviceCount, 1) ? list.base[kDeviceCount] : 0;
    // Entries the image does not hold are neither compared nor listed.
    size_t count = 0;
    while (count < declared && list.has(kDeviceFirst + kDeviceStride * count, 2))
        ++count;
    for (size_t i = 0; i < count; ++i) {
        if (deviceIdsMatch(ioc.deviceId, getLe16(list.base, kDeviceFirst + kDeviceStride * i))) {
            logPrintLine(" Firmware image compatible with Controller");
            return 0;
        }
    }
    logError("Firmware image does not support target, Adapter Device ID %x", ioc.deviceId);
    for (size_t i = 0; i < count; ++i) {
        logPrintLine("Supported device ID's are 0x%x ",
                     getLe16(list.base, kDeviceFirst + kDeviceStride * i));
    }
    logError("Firmware image not compatible with Controller");
    return 1;
}

// Walks the chain and keeps the first `limit` images of the type. A repeated
// offset, or a header or declared size past the end, ends the walk there.
void collectExtendedImages(const uint8_t* image, size_t size, uint32_t type, size_t limit,
                           std::vector<ExtendedImage>* out) {
    size_t header = 0;
    if (locateFirmwareHeader(image, size, &header) != 0 ||
        !fits(size, header, kFwHeaderMinimumSize)) {
        return;
    }
    std::vector<bool> seen(size, false);
    uint32_t relative = getLe32(image, header + kFwHeaderFirstExtended);
    while (relative != 0 && out->size() < limit) {
        const size_t at = header + relative;
        if (!fits(size, at, kExtHeaderSize) || seen[at])
            return;
        seen[at] = true;
        const uint32_t declared = getLe32(image, at + kExtSize);
        if (!fits(size, at, declared))
            return;
        if (getLe32(image, at + kExtType) == type)
            out->push_back(ExtendedImage{at, declared});
        relative = getLe32(image, at + kExtNext);
    }
}

bool hasExtendedImage(const uint8_t* image, size_t size, uint32_t type) {
    ExtendedImage ext;
    return findExtendedImage(image, size, type, 0, &ext) == 0;
}

}  // namespace

bool deviceIdsMatch(uint16_t controller, uint16_t other) {
    if (controller == other)
        return true;
    for (const auto& family : kDeviceFamilies) {
        if (inFamily(family, controller))
            return inFamily(family, other);
    }
    return false;
}

uint32_t firmwareChecksum(const uint8_t* image, size_t size) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 4 <= size; i += 4)
        sum += getLe32(image, i);
    uint8_t tail[4] = {};
    for (size_t t = 0; i + t < size; ++t)
        tail[t] = image[i + t];
    return sum + getLe32(tail, 0);
}

uint32_t locateFirmwareHeader(const uint8_t* image, size_t size, size_t* header) {
    if (image == nullptr || size < kSignatureSize)
        return 1;
    if (getLe32(image, 4) == kFormA[1]) {
        // Looks like form A: it is form A or nothing.
        if (getLe32(image, 0) != kFormA[0] || !wordsMatch(image, 0, kFormA, 2))
            return 1;
        *header = 0;
        return 0;
    }
    if ((getLe32(image, 4) & kFormBWordMask) > 1 || !fits(size, kFormBHeaderPointer, 4))
        return 1;
    const size_t at = getLe32(image, kFormBHeaderPointer);
    if (!fits(size, at, kFwHeaderMinimumSize))
        return 1;
    if ((getLe32(image, at) >> 24) != (kFormB[0] >> 24) || !wordsMatch(image, at, kFormB, 1))
        return 1;
    *header = at;
    return 0;
}

uint32_t findExtendedImage(const uint8_t* image, size_t size, uint32_t type, uint32_t ordinal,
                           ExtendedImage* found) {
    std::vector<ExtendedImage> images;
    collectExtendedImages(image, size, type, size_t{ordinal} + 1, &images);
    if (images.size() <= ordinal)
        return 1;
    *found = images[ordinal];
    return 0;
}

uint32_t validateFirmwareFile(const uint8_t* file, size_t size, const ControllerIdentity& ioc) {
    size_t header = 0;
    if (locateFirmwareHeader(file, size, &header) != 0) {
        logError("Firmware Image does not have a valid Signature");
        return 1;
    }
    logPrintLine(" Firmware image have a valid signature");
    const uint32_t sum = firmwareChecksum(file, size);
    if (sum != 0) {
        logError("Firmware image checksum failed : %08X ", sum);
        return 1;
    }
    if (checkSupportedDevices(file, size, ioc) != 0)
        return 1;
    if (!hasExtendedImage(file, size, kExtImageNvdata)) {
        logError("Firmware image does not have a valid NVDATA image");
        return 1;
    }
    logPrintLine(" Valid NVDATA image found.");
    return 0;
}

uint32_t checkNvdataCompatibility(const uint8_t* file, size_t fileSize, const uint8_t* flash,
                                  size_t flashSize, const ControllerIdentity& ioc) {
    logPrintLine(" Checking for a compatible NVData image...");
    ExtendedImage ext;
    if (findExtendedImage(flash, flashSize, kExtImageNvdata, 0, &ext) != 0) {
        logError("Failed to get valid NVDATA image from Flash.");
        return 1;
    }
    NvdataFields current;
    switch (readNvdata(viewOf(flash, ext), &current)) {
        case NvdataVerdict::Fits:
            break;
        case NvdataVerdict::BadSignature:
            logError("Invalid NVDATA Signature in Firmware image from Flash.");
            return 1;
        default:
            logError("Invalid NVDATA PROD_ID Signature in Firmware image from Flash.");
            return 1;
    }

    // The first image of the file that fits the controller is taken; the
    // reasons of those examined before it are shown only when none fits.
    std::vector<ExtendedImage> images;
    collectExtendedImages(file, fileSize, kExtImageNvdata, fileSize, &images);
    struct Examined {
        NvdataVerdict verdict;
        NvdataFields fields;
    };
    std::vector<Examined> examined;
    const NvdataFields* chosen = nullptr;
    NvdataFields taken;
    for (const ExtendedImage& nv : images) {
        NvdataFields f;
        const NvdataVerdict verdict = judgeNvdata(viewOf(file, nv), ioc, &f);
        if (verdict == NvdataVerdict::Fits) {
            taken = f;
            chosen = &taken;
            break;
        }
        examined.push_back(Examined{verdict, f});
    }
    if (chosen == nullptr) {
        for (const Examined& e : examined)
            reportNvdata(e.verdict, e.fields, ioc);
        logError(images.empty() ? "Failed to get valid NVDATA image from File."
                                : "No compatible NVDATA image(s) found.");
        return 1;
    }
    logPrintLine(" NVDATA Device ID and Chip Revision match verified.");
    if ((chosen->version >> 16) < (current.version >> 16)) {
        logError("Cannot downgrade NVDATA version %02x.%02x.%02x.%02x to %02x.%02x.%02x.%02x.",
                 current.version >> 24, (current.version >> 16) & 0xFF,
                 (current.version >> 8) & 0xFF, current.version & 0xFF, chosen->version >> 24,
                 (chosen->version >> 16) & 0xFF, (chosen->version >> 8) & 0xFF,
                 chosen->version & 0xFF);
        return 1;
    }
    logPrintLine(" NVDATA version compatible");
    return 0;
}

uint32_t checkFirmwareIdentity(const uint8_t* file, size_t fileSize, const uint8_t* flash,
                               size_t flashSize, const ControllerIdentity& ioc) {
    size_t fileHeader = 0;
    size_t flashHeader = 0;
    if (locateFirmwareHeader(file, fileSize, &fileHeader) != 0 ||
        locateFirmwareHeader(flash, flashSize, &flashHeader) != 0 ||
        !fits(fileSize, fileHeader, kFwHeaderMinimumSize) ||
        !fits(flashSize, flashHeader, kFwHeaderMinimumSize)) {
        logError(ioc.newestFamily ? "Product ID and Vendor ID match FAILED."
                                  : "Product ID and Vendor ID match failed.");
        return 1;
    }
    const uint16_t imageVendor = getLe16(file, fileHeader + kFwHeaderVendorId);
    const uint16_t flashVendor = getLe16(flash, flashHeader + kFwHeaderVendorId);
    const uint16_t imageProduct = getLe16(file, fileHeader + kFwHeaderProductId);
    const uint16_t flashProduct = getLe16(flash, flashHeader + kFwHeaderProductId);
    if (imageVendor != flashVendor && imageProduct != flashProduct) {
        logPrintLine("Image Vendor ID %x, Flash Vendor ID %x", imageVendor, flashVendor);
        logPrintLine("Image Product ID %x, Flash Product ID %x", imageProduct, flashProduct);
        logError(ioc.newestFamily ? "Product ID and Vendor ID match FAILED."
                                  : "Product ID and Vendor ID match failed.");
        return 1;
    }
    if (ioc.newestFamily)
        return 0;
    if (flashProduct != 0) {
        const uint16_t imageKind = imageProduct & kKindMask;
        const uint16_t flashKind = flashProduct & kKindMask;
        if (imageKind == kKindIt && flashKind == kKindIr) {
            logError("IT firmware can not be flashed on IR firmware");
            return 1;
        }
        if (imageKind != kKindIt && flashKind == kKindIt) {
            logError("IR firmware can not be flashed on IT firmware");
            return 1;
        }
    }
    if (!hasExtendedImage(file, fileSize, kExtImageInitialization)) {
        logError("Firmware image does not have a valid initialization image.");
        return 1;
    }
    logPrintLine(" Valid Initialization image verified");
    if (!hasExtendedImage(file, fileSize, kExtImageBootloader)) {
        logError("Firmware image does not have a valid bootloader image.");
        return 1;
    }
    logPrintLine(" Valid Bootloader image verified.");
    return 0;
}
