#include "expander/ul.h"

#include <cstring>

#include "expander/expander_access.h"
#include "expander/region_transfer.h"
#include "shell/logger.h"
#include "shell/parse.h"

namespace {

enum class UploadOption : uint32_t { None = 0, Firmware = 1, Manufacturing = 2, Region = 3 };

struct UploadRow {
    const char* name;
    UploadOption id;
    uint8_t bufferId;  // Region: the id typed by the user
};

constexpr UploadRow kUploadOptions[] = {
    {"-fw", UploadOption::Firmware, kBufferIdFirmwareDownload},
    {"-mfg", UploadOption::Manufacturing, kRegionManufacturing},
    {"-region", UploadOption::Region, 0},
};

const UploadRow* findUploadOption(const char* word) {
    for (const UploadRow& row : kUploadOptions) {
        if (std::strcmp(word, row.name) == 0)
            return &row;
    }
    return nullptr;
}

struct UploadRequest {
    const UploadRow* option = nullptr;
    const char* path = nullptr;
    uint8_t bufferId = 0;
    uint32_t size = 0;  // 0: the whole region
};

uint32_t parseUpload(uint32_t count, char** words, UploadRequest* request) {
    for (uint32_t i = 1; i < count; ++i) {
        const UploadRow* row = findUploadOption(words[i]);
        if (row == nullptr) {
            logError("Invalid argument specified '%s'.", words[i]);
            return 1;
        }
        if (request->option != nullptr) {
            logError("Option '%s' cannot be invoked with any other option.", words[i]);
            return 1;
        }
        request->option = row;
        request->bufferId = row->bufferId;
        if (i + 1 >= count) {
            logError("Option '%s' requires a mandatory file name to be specified.", row->name);
            return 1;
        }
        request->path = words[++i];
        if (row->id != UploadOption::Region)
            continue;
        if (i + 1 >= count) {
            logError("Option '-region' requires a mandatory RegionId to be specified.");
            return 1;
        }
        if (!parseRegionId(words[++i], &request->bufferId)) {
            logError("RegionId specified is invalid.");
            logError("RegionId should be specified in valid 0xXX hex format.");
            return 1;
        }
        // A word after the id is the size, unless it is another option.
        if (i + 1 >= count || findUploadOption(words[i + 1]) != nullptr)
            continue;
        const char* size = words[++i];
        uint64_t value = 0;
        if (!isDecimalString(size)) {
            logError("Region size specified is invalid.");
            return 1;
        }
        if (!parseDecimalChecked(size, &value) || value == 0 || value > kMaxRegionTransfer) {
            logError("Region size specified is out of range.");
            logError("Region size cannot be greater than 0xFFFFFF or 16777215");
            return 1;
        }
        request->size = static_cast<uint32_t>(value);
    }
    return 0;
}

}  // namespace

uint32_t expanderUlCommand(uint32_t count, char** words) {
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("No device selected. Select a valid device.");
        return 1;
    }
    if (count < 2) {
        logError("Region name is madatory to be specified for upload command.");
        return 1;
    }
    UploadRequest request;
    if (parseUpload(count, words, &request) != 0)
        return 1;
    uint32_t size = 0;
    if (regionSize(target, request.size, &request.bufferId, &size) != 0)
        return 1;
    logPrintLine("Uploading the image...");
    if (readRegionToFile(target, request.bufferId, request.path, size) != 0) {
        logError("Error in upload operation.");
        return 1;
    }
    logPrintLine("Image has been uploaded successfully.");
    return 0;
}

uint32_t expanderUlUsage() {
    logPrintLine("Upload command options for Firmware/Manufacturing regions:");
    logPrintLine("The command is to upload various regions");
    logPrintLine("%4s ul -fw <file name> ", "");
    logPrintLine("%4s ul -mfg <file name>", "");
    logPrintLine("%4s ul -region <file name> <region id> [region size] ", "");
    logPrintLine("%7s -fw          : For uploading firmware to a file", "");
    logPrintLine("%7s -mfg         : For uploading manufacturing image to a file", "");
    logPrintLine("%7s -region      : For uploading the region to a file based upon the regionId",
                 "");
    logPrintLine("%7s -region id   : Id of region to upload", "");
    logPrintLine("%7s -region size : Total size of region to upload", "");
    logPrintLine("Example  : ul -region sample.bin 0x84 131072");
    return 0;
}
