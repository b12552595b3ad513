#include "hba/ul.h"

#include <cstring>

#include "hba/region_upload.h"
#include "shell/byte_buffer.h"
#include "shell/logger.h"
#include "shell/parse.h"
#include "shell/prompt.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"

namespace {

// Options that name their region; -img takes the region code as a word.
struct UploadOption {
    const char* word;
    uint8_t regionCode;
};
constexpr UploadOption kNamedRegions[] = {
    {"-fw", kRegionFirmware},
    {"-bios", kRegionBios},
    {"-flash", kRegionFlash},
};
constexpr char kImageOption[] = "-img";

// Codes 3 and 4 are not readable regions.
constexpr uint8_t kUploadableRegions[] = {0, 1, 2, 5, 6, 7, 8, 9, 10, 11};

bool isUploadableRegion(uint32_t code) {
    for (const uint8_t accepted : kUploadableRegions) {
        if (code == accepted)
            return true;
    }
    return false;
}

// 0 with *code; 1 after reporting the region word.
uint32_t parseRegionWord(const char* word, uint8_t* code) {
    uint32_t value = 0;
    const bool hasDigits = word[0] != '\0' && std::strcmp(word, "0x") != 0;
    if (!hasDigits || !isHexString(word) || parseHex32(word, &value) != 0) {
        logError("Invalid argument for region index.");
        return 1;
    }
    if (!isUploadableRegion(value)) {
        logError("Unknown or invalid region index.");
        return 1;
    }
    *code = static_cast<uint8_t>(value);
    return 0;
}

uint32_t uploadToFile(const AdapterRecord* adapter, uint8_t regionCode, const char* path) {
    logPrintLine("Uploading image...");
    uint32_t size = 0;
    if (queryImageSize(&adapter->adapterHandle, regionCode, &size) != 0) {
        logError("Unable to get the image size");
        return 1;
    }
    if (size == 0) {
        logError("Image size is less than 1, Region requested for upload might be blank");
        return 1;
    }
    ByteBuffer image;
    if (!image.allocate(size)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    if (uploadRegionChunks(&adapter->adapterHandle, 0, regionCode, image.data(), size) != 0) {
        logError("Upload failed.");
        return 1;
    }
    if (writeWholeFile(path, image.data(), image.size()) != 0) {
        logError("File Open/Write has a problem");
        return 1;
    }
    logPrintLine("Image has been uploaded successfully.");
    return 0;
}

}  // namespace

uint32_t hbaUlUsage() {
    logPrintLine("Firmware/BIOS Upload Operations:");
    logPrintLine("To upload the various flash images");
    logPrintLine("%4s %s", " ",
                 " ul [-fw <file name>] [-bios <file name>] [-img <region id> <file name>]");
    logPrintLine("%7s %s", " ", " -fw   : For uploading firmware into a file");
    logPrintLine("%7s %s", " ", " -bios : For uploading bios");
    logPrintLine("%7s %s", " ",
                 " -img  : For uploading other regions such as FW Current, Fw Backup,");
    logPrintLine("%7s %s", " ", "         CFG1, CFG2, Flash, Boot code etc");
    logPrintLine("Example : ul -fw sample.bin");
    return 0;
}

uint32_t hbaUlCommand(uint32_t count, char** words) {
    const Target* target = currentTarget();
    const AdapterRecord* adapter = target != nullptr ? adapterOf(target) : nullptr;
    if (adapter == nullptr) {
        logError("Select valid device. Device is not selected.");
        return 1;
    }
    if (count < 2) {
        logError("Invalid command syntax. Specify the Upload operation argument.");
        return 1;
    }
    const char* option = words[1];
    if (std::strcmp(option, kImageOption) == 0) {
        if (count != 4) {
            logError("Invalid argument for '-img'");
            return 1;
        }
        uint8_t code = 0;
        if (parseRegionWord(words[2], &code) != 0)
            return 1;
        return uploadToFile(adapter, code, words[3]);
    }
    for (const UploadOption& row : kNamedRegions) {
        if (std::strcmp(option, row.word) != 0)
            continue;
        if (count != 3) {
            logError("Invalid argument specified. Argument must have both region ID and filename.");
            return 1;
        }
        return uploadToFile(adapter, row.regionCode, words[2]);
    }
    logError("Invalid argument specified. Unknown option '%s'", option);
    return 1;
}
