// BIOS flash: the file's option ROM images are merged with those already in
// the controller's BIOS region, so that a file carrying only one kind of
// image does not wipe the others.
#include "hba/bios_flash.h"

#include <vector>

#include "hba/option_rom.h"
#include "hba/region_download.h"
#include "hba/region_upload.h"
#include "hba/rom_version.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/confirm.h"
#include "shell/logger.h"
#include "shell/prompt.h"
#include "xollib/xollib2.h"

namespace {

// Outcomes of the merge and download besides 0 (flashed) and 1 (failed).
constexpr uint32_t kMergeCancelled = 3;
constexpr uint32_t kMergeNoAnswer = 4;
constexpr uint32_t kMergeSkipped = 5;

const char* const kQuestion = "Do you want to continue to download (Yes/No) : ";

// Flash versions that are not there count as 0.
uint32_t flashVersion(const ByteBuffer& flash, uint8_t codeType) {
    if (flash.empty())
        return 0;
    const uint32_t v = romImageVersion(flash.data(), flash.size(), codeType);
    return v == kRomVersionNotFound ? 0 : v;
}

void printVersion(const char* label, uint32_t v) {
    logPrintLine("%s%02d.%02d.%02d.%02d", label, v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF,
                 v & 0xFF);
}

uint32_t ask() {
    const uint32_t answer = confirmYesNo(kQuestion);
    if (answer == kConfirmNo)
        return kMergeCancelled;
    return answer == kConfirmNoAnswer ? kMergeNoAnswer : 0;
}

// The BIOS region as it is now; empty when its size cannot be learned or it
// is blank. 0, or 1 when a region that has a size cannot be read.
uint32_t readFlashBios(AdapterRecord* adapter, ByteBuffer* flash) {
    uint32_t size = 0;
    if (queryImageSize(&adapter->adapterHandle, kRegionBios, &size) != 0 || size <= 1)
        return 0;
    if (!flash->allocate(size)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    if (uploadRegionChunks(&adapter->adapterHandle, 0, kRegionBios, flash->data(), size) != 0) {
        flash->reset();
        return 1;
    }
    return 0;
}

uint32_t mergeAndDownload(AdapterRecord* adapter, const ByteBuffer& file, bool silent,
                          bool noVerify) {
    ByteBuffer flash;
    if (readFlashBios(adapter, &flash) != 0)
        return 1;
    const std::vector<RomImage> images = walkRomImages(file.data(), file.size());
    const uint8_t firstType = images.empty() ? 0xFF : images.front().codeType;

    if (firstType == kRomCodeX86) {
        if (!silent) {
            printVersion(" \n      BIOS Version in flash : ", flashVersion(flash, kRomCodeX86));
            printVersion("      BIOS Version in file  : ",
                         romImageVersion(file.data(), file.size(), kRomCodeX86));
            if (const uint32_t answer = ask())
                return answer;
        }
        logPrintLine(" Beginning to download BIOS");
    }
    for (const RomImage& img : images) {
        if (img.codeType != kRomCodeEfi)
            continue;
        if (!silent) {
            printVersion("\n     UEFI Version in flash : ", flashVersion(flash, kRomCodeEfi));
            printVersion("      UEFI Version in file  : ",
                         romImageVersion(file.data(), file.size(), kRomCodeEfi));
            if (const uint32_t answer = ask())
                return answer;
        }
        logPrintLine(" Beginning to download EFI BIOS");
        break;
    }
    if (firstType == kRomCodeOpenFirmware) {
        const uint32_t inFlash = flashVersion(flash, kRomCodeOpenFirmware);
        const uint32_t inFile = romImageVersion(file.data(), file.size(), kRomCodeOpenFirmware);
        if (inFlash >= inFile) {
            logPrintLine("      FCODE Version in flash: %08X\n", inFlash);
            logPrintLine("      FCODE Version from file: %08X\n", inFile);
            logPrintLine(" Skipping flash since file version is not greater than existing.");
            return kMergeSkipped;
        }
    }

    std::vector<uint8_t> merged;
    if (!assembleBios(file.data(), file.size(), flash.empty() ? nullptr : flash.data(),
                      flash.size(), &merged)) {
        return 1;
    }
    if (downloadImage(adapter, kDownloadBios, merged.data(), merged.size()) != 0) {
        logError("BIOS download failed");
        return 1;
    }
    logPrintLine(" BIOS image flashed");
    if (noVerify) {
        logPrintLine(" Post Validation not performed, flag has been set");
        return 0;
    }
    logPrintLine(" Verifying the download");
    return postValidate(adapter, merged.data(), merged.size(), kRegionBios);
}

}  // namespace

uint32_t flashBios(AdapterRecord* adapter, const char* path, bool silent, bool noVerify) {
    logPrintLine("\n Executing Operation: Flash BIOS Image \n");
    ByteBuffer file;
    if (readWholeFile(path, &file) != 0) {
        logError("File Open/Read has a problem \n");
        return 1;
    }
    logPrintLine(" Validating BIOS image");
    const uint16_t deviceId =
        static_cast<uint16_t>(getLe32(adapter->adapterInfo.data(), kAdapterInfoDeviceId));
    if (validateBiosImage(file.data(), file.size(), deviceId) != 0) {
        logError("BIOS image validation failed");
        return 1;
    }
    switch (mergeAndDownload(adapter, file, silent, noVerify)) {
        case 0:
            logPrintLine("BIOS flashed successfully");
            return 0;
        case kMergeSkipped:
            return 0;
        case kMergeCancelled:
            logPrintLine(" User cancelled. Download operation not performed");
            return 0;
        case kMergeNoAnswer:
            logPrintLine(" User cancelled. Download operation not performed");
            return 1;
        default:
            logError("BIOS image validation failed");
            return 1;
    }
}
