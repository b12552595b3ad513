#include "expander/dl.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "expander/expander_access.h"
#include "expander/expander_images.h"
#include "expander/post_validation.h"
#include "expander/region_transfer.h"
#include "shell/byte_buffer.h"
#include "shell/confirm.h"
#include "shell/logger.h"
#include "shell/prompt.h"
#include "targets/expander_device.h"

namespace {

constexpr uint32_t kPauseMs = 2000;

enum OptionId : uint32_t { kFw, kMfg, kSilent, kNoReset, kNoValidation, kBuffer, kOptionCount };

struct DownloadOption {
    const char* name;
    OptionId id;
};

constexpr DownloadOption kOptions[] = {
    {"-fw", kFw},      {"-mfg", kMfg},         {"-s", kSilent},
    {"-nr", kNoReset}, {"-nv", kNoValidation}, {"-buffer", kBuffer},
};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct DownloadRequest {
    uint32_t counts[kOptionCount] = {};
    FilePtr firmware;
    FilePtr manufacturing;
    FilePtr buffer;
    uint8_t bufferId = 0;
};

enum class FileRead : uint32_t { Ok, Empty, NoMemory, Short };

// Reads an opened image whole; its size is taken from the descriptor.
FileRead readImage(FILE* file, ByteBuffer* contents) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || info.st_size <= 0)
        return FileRead::Empty;
    const auto size = static_cast<unsigned long long>(info.st_size);
    if (size > SIZE_MAX || !contents->allocate(static_cast<size_t>(size)))
        return FileRead::NoMemory;
    std::rewind(file);
    if (std::fread(contents->data(), 1, contents->size(), file) != contents->size())
        return FileRead::Short;
    return FileRead::Ok;
}

// readImage with the failure reported: the empty-file text is shared, the
// allocation and read texts are each download's own.
bool readImageReported(FILE* file, ByteBuffer* contents, const char* noMemory,
                       const char* readFailed) {
    switch (readImage(file, contents)) {
        case FileRead::Ok:
            return true;
        case FileRead::Empty:
            logError("File length is not sufficent, size is less than 1.");
            return false;
        case FileRead::NoMemory:
            logError("%s", noMemory);
            return false;
        case FileRead::Short:
            logError("%s", readFailed);
            return false;
    }
    return false;
}

// Opens the file named after an -fw or -mfg option.
uint32_t openImageOption(const char* option, const char* path, FilePtr* file) {
    file->reset(std::fopen(path, "rb"));
    if (!*file) {
        logError("File path specified for option '%s' not found.", option);
        return 1;
    }
    struct stat info;
    if (fstat(fileno(file->get()), &info) != 0 || !S_ISREG(info.st_mode)) {
        logError("File path specified is not valid.");
        return 1;
    }
    return 0;
}

uint32_t parseOptions(uint32_t count, char** words, DownloadRequest* request) {
    for (uint32_t i = 1; i < count; ++i) {
        const DownloadOption* option = nullptr;
        for (const DownloadOption& candidate : kOptions) {
            if (std::strcmp(words[i], candidate.name) == 0)
                option = &candidate;
        }
        if (option == nullptr) {
            logError("Invalid argument '%s' specified. \n", words[i]);
            return 1;
        }
        if (++request->counts[option->id] > 1) {
            logError("Option '%s' cannot be used multiple times.", option->name);
            return 1;
        }
        if (option->id != kFw && option->id != kMfg && option->id != kBuffer)
            continue;
        if (i + 1 >= count) {
            logError("Option '%s' requires a mandatory filename.", option->name);
            return 1;
        }
        const char* path = words[++i];
        if (option->id == kFw || option->id == kMfg) {
            FilePtr* file = option->id == kFw ? &request->firmware : &request->manufacturing;
            if (openImageOption(option->name, path, file) != 0)
                return 1;
            continue;
        }
        request->buffer.reset(std::fopen(path, "rb"));
        if (!request->buffer) {
            logError("Invalid file specified.");
            return 1;
        }
        if (i + 1 >= count) {
            logError("Option '-buffer' requires a mandatory RegionId to be specified.");
            return 1;
        }
        if (!parseRegionId(words[++i], &request->bufferId)) {
            logError("BufferId specified is invalid.");
            logError("BufferId should be specified in valid 0xXX hex format.");
            return 1;
        }
    }
    return 0;
}

enum class Consent : uint32_t { Go, Declined, NoAnswer };

// Asks unless -s was given; a declined download prints the abort lines.
Consent confirmDownload(const DownloadRequest& request) {
    if (request.counts[kSilent] != 0)
        return Consent::Go;
    const uint32_t answer = confirmYesNo("Do you want to continue to download(Yes/No) :");
    if (answer == kConfirmYes)
        return Consent::Go;
    logPrintLine("");
    logPrintLine(" %s Download operation aborted by user.", "");
    return answer == kConfirmNo ? Consent::Declined : Consent::NoAnswer;
}

// Result of one download: go on with the next, stop with 0, or fail.
enum class Step : uint32_t { Next, StopOk, Failed };

Step consentStep(Consent consent) {
    return consent == Consent::Declined ? Step::StopOk : Step::Failed;
}

uint32_t resetCurrent() {
    Target* target = currentExpander();
    const ExpanderDevice* device = expanderOf(target);
    if (device == nullptr)
        return 1;
    return resetExpander(device->sasAddress, ResetPurpose::Reset);
}

uint32_t versionByte(uint32_t version, int index) {
    return (version >> (8 * (3 - index))) & 0xFF;
}

Step downloadFirmware(const DownloadRequest& request) {
    logPrintLine("\nExecuting Operation : Flash Firmware Image \n");
    ByteBuffer image;
    if (!readImageReported(request.firmware.get(), &image, "Error in allocating memory.",
                           "Error in reading FW file contents."))
        return Step::Failed;
    const FirmwareImageCheck check = checkFirmwareImage(image.data(), image.size());
    // A declared length below one word leaves nothing to send.
    if (check.imageLength == 0) {
        logError("File length is not sufficent, size is less than 1.");
        return Step::Failed;
    }
    logPrintLine("");
    logPrintLine("Signature validation   : %s", check.signatureValid ? "Passed" : "Failed");
    logPrintLine("Checksum Validation    : %s", check.checksumValid ? "Passed" : "Failed");
    const ExpanderDevice* device = expanderOf(currentExpander());
    const uint32_t running = device != nullptr ? device->firmwareVersion : 0;
    logPrintLine("Current FW Version     : %02d.%02d.%02d.%02d", versionByte(running, 0),
                 versionByte(running, 1), versionByte(running, 2), versionByte(running, 3));
    logPrintLine("Replacement FW Version : %02d.%02d.%02d.%02d ", versionByte(check.version, 0),
                 versionByte(check.version, 1), versionByte(check.version, 2),
                 versionByte(check.version, 3));
    logPrintLine("");
    logPrintLine("Image validation %-5s : %s", " ",
                 check.signatureValid && check.checksumValid ? "Passed" : "Failed");
    logPrintLine("");

    const Consent consent = confirmDownload(request);
    if (consent != Consent::Go)
        return consentStep(consent);

    logPrintLine("Downloading the firmware region...");
    sleepMilliseconds(kPauseMs);
    if (writeRegion(currentExpander(), kBufferIdFirmwareDownload, image.data(), check.imageLength,
                    kWriteModeData) != 0) {
        logError("Error in firmware download operation.");
        return Step::Failed;
    }
    logPrintLine("Firmware Image downloaded successfully.\n");
    if (request.counts[kNoReset] == 0) {
        sleepMilliseconds(kPauseMs);
        if (resetCurrent() != 0)
            return Step::Failed;
    }
    logPrintLine("");
    if (request.counts[kNoValidation] == 0) {
        sleepMilliseconds(kPauseMs);
        if (postValidateFirmware(image.data(), check.imageLength) != 0)
            return Step::Failed;
    }
    sleepMilliseconds(kPauseMs);
    return Step::Next;
}

Step downloadManufacturing(const DownloadRequest& request) {
    logPrintLine("\nExecuting Operation : Flash Manufacturing image.\n");
    ByteBuffer image;
    if (!readImageReported(request.manufacturing.get(), &image,
                           "Error in allocating memory for mfg page header.",
                           "Error in Manufacturing image download operation."))
        return Step::Failed;
    const MfgImageCheck check = checkManufacturingImage(image.data(), image.size());
    logPrintLine("Image signature validation : %s", check.signatureValid ? "Passed" : "Failed");
    logPrintLine("");
    switch (check.checksum) {
        case MfgChecksum::Passed:
            logPrintLine("Checksum validation %5s  : %s", " ", "Passed");
            break;
        case MfgChecksum::Mismatch:
            logPrintLine("Checksum validation %5s  : Failed.", " ");
            break;
        case MfgChecksum::TooShort:
            logPrintLine("Checksum validation %5s  : %s", " ", "Failed");
            break;
    }
    logPrintLine("\nImage validation %-9s : %s", " ", check.passed() ? "Passed" : "Failed");

    const Consent consent = confirmDownload(request);
    if (consent != Consent::Go)
        return consentStep(consent);

    logPrintLine("Downloading Manufacturing Image...");
    sleepMilliseconds(kPauseMs);
    if (image.size() > kMaxRegionTransfer ||
        writeRegion(currentExpander(), kRegionManufacturing, image.data(),
                    static_cast<uint32_t>(image.size()), kWriteModeData) != 0) {
        logError("Error in Manufacturing image download operation.");
        return Step::Failed;
    }
    logPrintLine("\nManufacturing Image downloaded successfully.\n");
    if (request.counts[kNoReset] == 0) {
        sleepMilliseconds(kPauseMs);
        if (resetCurrent() != 0)
            return Step::Failed;
    }
    return Step::Next;
}

Step downloadBuffer(const DownloadRequest& request) {
    logPrintLine("\nExecuting Operation : Flash Buffer image.\n");
    ByteBuffer image;
    if (!readImageReported(request.buffer.get(), &image,
                           "Error in allocating memory for buffer image.",
                           "Error in Buffer image download operation."))
        return Step::Failed;
    const Consent consent = confirmDownload(request);
    if (consent != Consent::Go)
        return consentStep(consent);

    logPrintLine("Downloading Buffer Id %x...", request.bufferId);
    sleepMilliseconds(kPauseMs);
    if (image.size() > kMaxRegionTransfer ||
        writeRegion(currentExpander(), request.bufferId, image.data(),
                    static_cast<uint32_t>(image.size()), kWriteModeData) != 0) {
        logError("Error in Buffer image download operation.");
        return Step::Failed;
    }
    logPrintLine("\n Buffer Image downloaded successfully.\n");
    return Step::Next;
}

}  // namespace

uint32_t expanderDlCommand(uint32_t count, char** words) {
    if (currentExpander() == nullptr) {
        logError("No device selected. Select a valid device.");
        return 1;
    }
    DownloadRequest request;
    if (parseOptions(count, words, &request) != 0)
        return 1;
    const uint32_t* n = request.counts;
    if (n[kFw] == 0 && n[kMfg] == 0 && n[kBuffer] == 0) {
        logError("'-fw' or '-buffer' or '-mfg' options is/are mandatory for download command.");
        return 1;
    }
    // Refused before anything is written: finding out after the firmware was
    // flashed and the expander reset would leave the update half done.
    if (n[kMfg] != 0 && n[kNoValidation] != 0) {
        logError("'-nv' option cannot be used with -mfg option.");
        return 1;
    }
    if (n[kBuffer] != 0 && (n[kNoValidation] != 0 || n[kNoReset] != 0)) {
        logError("'-nv' or/and '-nr' options cannot be used with -region option.");
        return 1;
    }
    using Download = Step (*)(const DownloadRequest&);
    const struct {
        OptionId option;
        Download run;
    } kOrder[] = {
        {kFw, downloadFirmware}, {kMfg, downloadManufacturing}, {kBuffer, downloadBuffer}};
    for (const auto& step : kOrder) {
        if (n[step.option] == 0)
            continue;
        const Step result = step.run(request);
        if (result == Step::Failed)
            return 1;
        if (result == Step::StopOk)
            return 0;
    }
    return 0;
}

uint32_t expanderDlUsage() {
    logPrintLine("Download command options for Firmware / Manufacturing pages:");
    logPrintLine("The command is to download Firmware / Manufacturing Pages to the expander. ");
    logPrintLine("%4s dl -fw <firmware_file name> -mfg <mfg_file name> [-s] [-nr] [-nv]", "");
    logPrintLine("%7s -fw   \t\t: For downloading firmware to expander", "");
    logPrintLine("%7s -mfg  \t\t: For downloading mfg to expander", "");
    logPrintLine("%7s -nr   \t\t: Do not perform reset", "");
    logPrintLine("%7s -nv   \t\t: Do not perform post validation", "");
    logPrintLine("%7s -s    \t\t: Silent download options and does not query", "");
    logPrintLine("%4s dl -buffer <file name> <Id> [-s]", "");
    logPrintLine("%7s -buffer <file> <id> : For downloading buffer region to expander.", "");
    logPrintLine("%10s <file> File to download.", "");
    logPrintLine("%10s <Id>   Buffer Id should be in hex. Valid values are from 0x00 to 0xFF", "");
    logPrintLine("%10s Image downloaded will not be validated, make sure proper image is passed",
                 "");
    logPrintLine("Example  : dl -fw xpdrfw.fw -mfg mfg.bin");
    logPrintLine("Example  : dl -buffer sample.fw 0x80");
    return 0;
}
