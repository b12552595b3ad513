// HBA `dl`: validates a firmware and/or BIOS file against its own structure
// and the selected controller, writes it, reads it back and resets the
// controller. Nothing reaches the flash before validation has passed.
#include "hba/dl.h"

#include <cstring>

#include "hba/adapter_reset.h"
#include "hba/bios_flash.h"
#include "hba/firmware_image.h"
#include "hba/region_download.h"
#include "hba/region_upload.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/confirm.h"
#include "shell/logger.h"
#include "shell/prompt.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kMaxWords = 8;
constexpr uint32_t kIoUnit0Size = 20;
constexpr size_t kIoUnit0NvdataDefault = 12;
constexpr size_t kIoUnit0NvdataPersistent = 16;

enum OptionId : uint32_t { kSilent, kNoReset, kNoVerify, kFirmware, kBios, kOptionCount };

struct DlOption {
    const char* word;
    OptionId id;
    const char* missingFile;  // options that take a file name
};

const DlOption kDlOptions[] = {
    {"-s", kSilent, nullptr},
    {"-nr", kNoReset, nullptr},
    {"-nv", kNoVerify, nullptr},
    {"-fw", kFirmware, "Firmware file name should be specified"},
    {"-bios", kBios, "BIOS file name should be specified"},
};

struct DlRequest {
    bool seen[kOptionCount] = {};
    const char* firmwareFile = nullptr;
    const char* biosFile = nullptr;
};

const DlOption* findOption(const char* word) {
    for (const DlOption& o : kDlOptions) {
        if (std::strcmp(o.word, word) == 0)
            return &o;
    }
    return nullptr;
}

// 0 with the request filled; 1 after reporting the first bad word.
uint32_t parseWords(uint32_t count, char** words, DlRequest* request) {
    for (uint32_t i = 1; i < count; ++i) {
        const DlOption* option = findOption(words[i]);
        if (option == nullptr) {
            logError("Invalid argument '%s' specified", words[i]);
            return 1;
        }
        if (request->seen[option->id]) {
            logError("Multiple %s arguments specified", option->word);
            return 1;
        }
        request->seen[option->id] = true;
        if (option->missingFile == nullptr)
            continue;
        // An option word here is a forgotten file name ("./-s" names a file).
        if (i + 1 >= count || findOption(words[i + 1]) != nullptr) {
            logError("%s", option->missingFile);
            return 1;
        }
        ++i;
        (option->id == kFirmware ? request->firmwareFile : request->biosFile) = words[i];
    }
    return 0;
}

ControllerIdentity identityOf(const AdapterRecord& adapter) {
    const uint8_t* info = adapter.adapterInfo.data();
    const uint32_t type = getLe32(info, kAdapterInfoAdapterType);
    ControllerIdentity id;
    id.deviceId = static_cast<uint16_t>(getLe32(info, kAdapterInfoDeviceId));
    id.chipRevision = static_cast<uint8_t>(getLe32(info, kAdapterInfoRevision));
    id.newestFamily = type >= 8 && type <= 10;
    return id;
}

void printVersion(const char* label, uint32_t v) {
    logPrintLine("      %-20s : %02d.%02d.%02d.%02d", label, v >> 24, (v >> 16) & 0xFF,
                 (v >> 8) & 0xFF, v & 0xFF);
}

void printPair(const char* label, uint32_t major, uint32_t minor) {
    logPrintLine("      %-20s : %02d.%02d", label, major, minor);
}

// The running firmware's versions, as the question's left-hand side. 0 or 1.
uint32_t printCurrentDetails(AdapterRecord* adapter) {
    logPrintLine("\nCurrent Firmware Details :");
    uint8_t facts[kXolIocFactsReplySize] = {};
    uint32_t length = sizeof facts;
    XolStatusInfo status = {};
    const uint32_t result = XolLib2GetIocFacts(&adapter->adapterHandle, facts, &length, &status);
    if (result != kXolStatusSuccess) {
        logError("IOC Facts request failure. Status - %x.", result);
        return 1;
    }
    if ((status.flags & kXolStatusFlagIocStatus) != 0) {
        logError("IOC Status failed.");
        return 1;
    }
    printVersion("Firmware Version", getLe32(facts, kIocFactsFirmwareVersion));
    const uint16_t xif = getLe16(facts, kIocFactsMessageVersion);
    printPair("XIF Version", xif >> 8, xif & 0xFF);
    uint8_t page[kIoUnit0Size] = {};
    uint32_t size = sizeof page;
    if (XolLib2ReadIoUnitPage0(&adapter->adapterHandle, page, &size, kPageSelectorCurrent) !=
        kXolStatusSuccess) {
        logError("Unable to get the IO Unit Page 0.");
        return 0;
    }
    const uint32_t nvDefault = getLe32(page, kIoUnit0NvdataDefault);
    const uint32_t nvPersistent = getLe32(page, kIoUnit0NvdataPersistent);
    if (nvDefault == nvPersistent) {
        printPair("Nvdata Major Version", nvDefault >> 24, (nvDefault >> 16) & 0xFF);
    } else {
        printVersion("Nvdata (Default)", nvDefault);
        printVersion("Nvdata (Persistent)", nvPersistent);
    }
    return 0;
}

// The file's versions, read from its own header (validation located it).
void printFileDetails(const uint8_t* file, size_t size) {
    size_t header = 0;
    if (locateFirmwareHeader(file, size, &header) != 0 || size - header < kFwHeaderMinimumSize)
        return;
    logPrintLine("Replace with Firmware Details : ");
    printVersion("Firmware Version", getLe32(file, header + kFwHeaderFirmwareVersion));
    const uint8_t* iv = file + header + kFwHeaderInterfaceVersion;
    printPair("XIF Version", iv[3], iv[2]);
    const uint8_t* nv = file + header + kFwHeaderNvdataVersion;
    printPair("Nvdata Major Version", nv[3], nv[2]);
}

// Reads the firmware now in flash for the NVDATA and identity checks.
uint32_t readFlashFirmware(AdapterRecord* adapter, ByteBuffer* flash) {
    uint32_t size = 0;
    if (queryImageSize(&adapter->adapterHandle, kRegionFlashFirmware, &size) != 0 || size == 0)
        return 1;
    if (!flash->allocate(size)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    if (uploadRegionChunks(&adapter->adapterHandle, 0, kRegionFlashFirmware, flash->data(), size) !=
        0) {
        logError("Firmware upload failed.");
        return 1;
    }
    return 0;
}

uint32_t validateFirmware(AdapterRecord* adapter, const uint8_t* file, size_t size) {
    const ControllerIdentity ioc = identityOf(*adapter);
    if (validateFirmwareFile(file, size, ioc) != 0)
        return 1;
    ByteBuffer flash;
    if (readFlashFirmware(adapter, &flash) != 0)
        return 1;
    if (checkNvdataCompatibility(file, size, flash.data(), flash.size(), ioc) != 0) {
        logError("NVDATA compatibility check failed.");
        return 1;
    }
    return checkFirmwareIdentity(file, size, flash.data(), flash.size(), ioc);
}

// Resets the controller and waits until it answers again. 0 or 1.
uint32_t resetAdapter(AdapterRecord* adapter) {
    const uint32_t result = resetAdapterAndWait(adapter);
    if (result == kXolStatusSuccess) {
        logPrintLine(" Adapter successfully reset");
        return 0;
    }
    logPrintLine(" Adapter Reset Failed with %x", result);
    logError("Adapter Reset failed");
    return 1;
}

uint32_t flashFirmware(AdapterRecord* adapter, const char* path, bool silent, bool noReset,
                       bool noVerify) {
    ByteBuffer file;
    if (readWholeFile(path, &file) != 0) {
        logError("File Open/Read has a problem \n");
        return 1;
    }
    if (file.size() == 0) {
        logError("File length is not sufficent, size is less than 1");
        return 1;
    }
    logPrintLine("\n Executing Operation : Flash Firmware Image \n");
    if (validateFirmware(adapter, file.data(), file.size()) != 0) {
        logError("Firmware validation failed");
        return 1;
    }
    if (!silent) {
        if (printCurrentDetails(adapter) != 0)
            return 1;
        printFileDetails(file.data(), file.size());
        const uint32_t answer = confirmYesNo("Do you want to continue to Download (Yes/No) : ");
        if (answer != kConfirmYes) {
            logPrintLine(" User cancelled. Download operation not performed.");
            return answer == kConfirmNo ? 0 : 1;
        }
        logPrintLine(" Beginning firmware download");
    }
    if (downloadImage(adapter, kDownloadFirmware, file.data(), file.size()) != 0) {
        logError("Firmware download failed ");
        return 1;
    }
    logPrintLine(" Firmware download complete ");
    if (noVerify) {
        logPrintLine(" Post Validation not performed, flag been set");
    } else {
        logPrintLine(" Verifying the download");
        if (postValidate(adapter, file.data(), file.size(), kRegionDownloadedFirmware) != 0) {
            logError(" Downloaded image is corrupted ");
            return 1;
        }
    }
    if (noReset) {
        logPrintLine(" Adapter Reset not performed, user flag been set");
    } else if (resetAdapter(adapter) != 0) {
        return 1;
    }
    logPrintLine("Adapter flashed successfully");
    return 0;
}

}  // namespace

uint32_t dlCommand(uint32_t count, char** words) {
    AdapterRecord* adapter = adapterOf(currentTarget());
    if (adapter == nullptr) {
        logError("Select valid device. Device is not selected.");
        return 1;
    }
    if (count < 2 || count > kMaxWords) {
        logError("Invalid command sytax. Specify the Download operation argument.");
        return 1;
    }
    DlRequest request;
    if (parseWords(count, words, &request) != 0)
        return 1;
    if (request.firmwareFile == nullptr && request.biosFile == nullptr) {
        logError("-fw or -bios argument should be specified along with other flags");
        return 1;
    }
    const bool silent = request.seen[kSilent];
    const bool noVerify = request.seen[kNoVerify];
    if (request.firmwareFile != nullptr) {
        const uint32_t result =
            flashFirmware(adapter, request.firmwareFile, silent, request.seen[kNoReset], noVerify);
        if (result != 0 || request.biosFile == nullptr)
            return result;
    }
    return flashBios(adapter, request.biosFile, silent, noVerify);
}

uint32_t dlUsage() {
    logPrintLine("Firmware/BIOS Download Operations:");
    logPrintLine("To download Firmware/BIOS to IOC ");
    logPrintLine("%4s %s", " ",
                 " dl -fw <firmware file name> -bios <bios file name> [-s] [-nr] [-nv]");
    logPrintLine("%4s %s", " ", " dl -fw <firmware file name> [-s] [-nr] [-nv]");
    logPrintLine("%4s %s", " ", " dl -bios <bios file name> [-s] [-nr] [-nv]");
    logPrintLine("%7s %s", " ", " -fw   : For downloading firmware to IOC");
    logPrintLine("%7s %s", " ", " -bios : For downloading bios to IOC");
    logPrintLine("%7s %s", " ", " -s    : Silent download options and does not query");
    logPrintLine("%7s %s", " ", " -nr   : Do not perform reset");
    logPrintLine("%7s %s", " ", " -nv   : Do not perform post validation");
    logPrintLine("Example : dl -fw ctrlfw_t.bin -bios ctrlbios.rom");
    return 0;
}
