// Option ROM validation, walks and merge assembly.
#include "hba/option_rom.h"

#include <cstring>

#include "shell/bytes.h"
#include "shell/logger.h"

namespace {

constexpr uint16_t kRomSignature = 0xAA55;
constexpr size_t kRomPcirPointer = 0x18;
constexpr size_t kPcirDeviceId = 6;
constexpr size_t kPcirLength = 0x10;  // in 512-byte units
constexpr size_t kPcirCodeType = 0x14;
constexpr size_t kPcirIndicator = 0x15;
constexpr size_t kPcirExtent = 0x1E;  // the fields read, through +0x1D
constexpr uint8_t kLastImage = 0x80;
constexpr size_t kRomUnit = 512;

constexpr size_t kComponentDescriptor = 56;
constexpr size_t kComponentSize = 96;
constexpr size_t kComponentHeader = 100;
constexpr uint32_t kComponentFromFlash = 1;
constexpr uint32_t kComponentFromFile = 3;
constexpr uint32_t kComponentIds[] = {0x102, 0x110, 0x112, 0x113, 0x120};

constexpr uint16_t kBiosDeviceIds[] = {0x0410, 0x0411, 0x0418, 0x0520, 0x0521,
                                       0x0528, 0x0630, 0x0631, 0x0632};

bool fits(size_t size, size_t offset, size_t length) {
    return offset <= size && length <= size - offset;
}

bool startsRom(const uint8_t* rom, size_t size, size_t at) {
    return fits(size, at, 2) && getLe16(rom, at) == kRomSignature;
}

// A byte range of the file or the flash that becomes part of the new content.
struct Part {
    const uint8_t* base = nullptr;
    size_t offset = 0;
    size_t length = 0;
    size_t pcir = 0;  // from the part's start
    bool rom = true;  // ROM image parts carry the last bit and their own sum
};

Part imagePart(const uint8_t* base, const RomImage& img) {
    return Part{base, img.offset, img.length, img.pcir - img.offset, true};
}

const RomImage* firstOfType(const std::vector<RomImage>& images, uint8_t type, size_t skip = 0) {
    for (const RomImage& img : images) {
        if (img.codeType == type && skip-- == 0)
            return &img;
    }
    return nullptr;
}

const RomComponent* componentOf(const std::vector<RomComponent>& comps, uint32_t kind,
                                uint32_t id) {
    for (const RomComponent& c : comps) {
        if (c.kind == kind && c.id == id)
            return &c;
    }
    return nullptr;
}

// The two x86 pieces.
void x86Parts(const uint8_t* file, const std::vector<RomImage>& fileImages, const uint8_t* flash,
              const std::vector<RomImage>& flashImages, size_t fileSize, std::vector<Part>* parts) {
    const RomImage* fileX86 = firstOfType(fileImages, kRomCodeX86);
    const RomImage* flashX86 = flash != nullptr ? firstOfType(flashImages, kRomCodeX86) : nullptr;
    if (fileImages.empty() || fileImages.front().codeType != kRomCodeX86) {
        // The file brings no x86 BIOS first: keep the one in flash.
        if (flash == nullptr) {
            if (fileX86 != nullptr)
                parts->push_back(imagePart(file, *fileX86));
        } else if (flashX86 != nullptr) {
            parts->push_back(imagePart(flash, *flashX86));
        }
        return;
    }
    const RomImage& first = fileImages.front();
    if (flashX86 == nullptr) {
        parts->push_back(imagePart(file, first));
        return;
    }
    if (first.deviceId == flashX86->deviceId) {
        parts->push_back(imagePart(file, first));
        if (const RomImage* second = firstOfType(flashImages, kRomCodeX86, 1))
            parts->push_back(imagePart(flash, *second));
    } else if (first.deviceId == static_cast<uint16_t>(flashX86->deviceId + 1)) {
        parts->push_back(imagePart(flash, *flashX86));
        parts->push_back(Part{file, 0, fileSize, first.pcir, true});
    } else {
        parts->push_back(imagePart(file, first));
        parts->push_back(imagePart(flash, *flashX86));
    }
}

}  // namespace

std::vector<RomImage> walkRomImages(const uint8_t* rom, size_t size) {
    std::vector<RomImage> images;
    size_t at = 0;
    while (rom != nullptr && startsRom(rom, size, at) && fits(size, at, kRomPcirPointer + 2)) {
        RomImage img;
        img.offset = at;
        img.pcir = at + getLe16(rom, at + kRomPcirPointer);
        if (!fits(size, img.pcir, kPcirExtent))
            break;
        img.length = size_t{getLe16(rom, img.pcir + kPcirLength)} * kRomUnit;
        if (img.length == 0 || !fits(size, at, img.length) ||
            img.pcir + kPcirExtent > at + img.length) {
            break;
        }
        img.codeType = rom[img.pcir + kPcirCodeType];
        img.deviceId = getLe16(rom, img.pcir + kPcirDeviceId);
        img.last = (rom[img.pcir + kPcirIndicator] & kLastImage) != 0;
        images.push_back(img);
        if (img.last)
            break;
        at += img.length;
    }
    return images;
}

std::vector<RomComponent> walkRomComponents(const uint8_t* rom, size_t size,
                                            const std::vector<RomImage>& images) {
    std::vector<RomComponent> comps;
    if (images.empty() || !images.back().last)
        return comps;
    size_t at = images.back().offset + images.back().length;
    while (startsRom(rom, size, at) && fits(size, at, kComponentHeader)) {
        const uint32_t descriptor = getLe32(rom, at + kComponentDescriptor);
        const size_t length = getLe32(rom, at + kComponentSize);
        if (length == 0 || !fits(size, at, length))
            break;
        comps.push_back(RomComponent{at, length, descriptor >> 28, descriptor & 0xFFFF});
        at += length;
    }
    return comps;
}

bool isSupportedBiosDeviceId(uint16_t deviceId) {
    for (uint16_t id : kBiosDeviceIds) {
        if (id == deviceId)
            return true;
    }
    return false;
}

uint32_t validateBiosImage(uint8_t* rom, size_t size, uint16_t controllerDeviceId) {
    logPrintLine(" Validating BIOS Image");
    if (!startsRom(rom, size, 0)) {
        logError("BIOS Header signature is invalid. \n");
        return 1;
    }
    logPrintLine(" BIOS Header signature is valid.");
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum = static_cast<uint8_t>(sum + rom[i]);
    if (sum != 0) {
        logError("BIOS image Checksum Failed: %08X", sum);
        return 1;
    }
    logPrintLine(" BIOS image has a valid Checksum.");
    const size_t pcir = fits(size, kRomPcirPointer, 2) ? getLe16(rom, kRomPcirPointer) : size;
    if (!fits(size, pcir, 4) || std::memcmp(rom + pcir, "PCIR", 4) != 0) {
        logError("BIOS PCI Structure signature invalid.");
        return 1;
    }
    logPrintLine(" BIOS PCI Structure signature valid.");
    if (!fits(size, pcir + kPcirDeviceId, 2) ||
        !isSupportedBiosDeviceId(getLe16(rom, pcir + kPcirDeviceId))) {
        logError("BIOS image not compatible with the SAS Controller.");
        return 1;
    }
    putLe16(rom, pcir + kPcirDeviceId, controllerDeviceId);
    logPrintLine(" BIOS image compatible with the SAS Controller.");
    return 0;
}

bool assembleBios(const uint8_t* file, size_t fileSize, const uint8_t* flash, size_t flashSize,
                  std::vector<uint8_t>* out) {
    const std::vector<RomImage> fileImages = walkRomImages(file, fileSize);
    const std::vector<RomImage> flashImages =
        flash != nullptr ? walkRomImages(flash, flashSize) : std::vector<RomImage>();
    std::vector<Part> parts;
    x86Parts(file, fileImages, flash, flashImages, fileSize, &parts);

    if (const RomImage* efi = firstOfType(fileImages, kRomCodeEfi)) {
        parts.push_back(imagePart(file, *efi));
    } else if (const RomImage* kept = firstOfType(flashImages, kRomCodeEfi)) {
        parts.push_back(imagePart(flash, *kept));
    }
    if (!fileImages.empty() && fileImages.front().codeType == kRomCodeOpenFirmware) {
        parts.push_back(imagePart(file, fileImages.front()));
    } else if (const RomImage* kept = firstOfType(flashImages, kRomCodeOpenFirmware)) {
        parts.push_back(imagePart(flash, *kept));
    }
    const size_t romParts = parts.size();

    const std::vector<RomComponent> flashComps =
        flash != nullptr ? walkRomComponents(flash, flashSize, flashImages)
                         : std::vector<RomComponent>();
    const std::vector<RomComponent> fileComps = walkRomComponents(file, fileSize, fileImages);
    for (uint32_t id : kComponentIds) {
        if (const RomComponent* c = componentOf(flashComps, kComponentFromFlash, id))
            parts.push_back(Part{flash, c->offset, c->size, 0, false});
    }
    for (uint32_t id : kComponentIds) {
        if (const RomComponent* c = componentOf(fileComps, kComponentFromFile, id))
            parts.push_back(Part{file, c->offset, c->size, 0, false});
    }

    out->clear();
    for (size_t i = 0; i < parts.size(); ++i) {
        const Part& p = parts[i];
        const size_t start = out->size();
        out->insert(out->end(), p.base + p.offset, p.base + p.offset + p.length);
        if (!p.rom)
            continue;
        uint8_t* part = out->data() + start;
        part[p.pcir + kPcirIndicator] = i + 1 == romParts ? kLastImage : 0;
        uint8_t sum = 0;
        for (size_t b = 0; b + 1 < p.length; ++b)
            sum = static_cast<uint8_t>(sum + part[b]);
        part[p.length - 1] = static_cast<uint8_t>(0x100 - sum);
    }
    return !out->empty();
}
