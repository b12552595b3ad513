#include "hba/erase.h"

#include <cstdio>
#include <cstring>

#include "shell/bytes.h"
#include "shell/confirm.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

struct EraseRegion {
    const char* word;
    const char* name;
    uint32_t cleanFlag;
};
constexpr EraseRegion kEraseRegions[] = {
    {"-boot", "Boot Services", 0x80000000},       {"-persistent", "Persistent", 0x40000000},
    {"-other", "Other Persistent", 0x20000000},   {"-fwcurrent", "Firmware Current", 0x10000000},
    {"-fwbackup", "Firmware Backup", 0x08000000}, {"-tv", "Trivault", 0x02000000},
};
constexpr char kSilentOption[] = "-s";
constexpr uint32_t kMaxEraseWords = 3;

// Toolbox clean request: tool 0 (clean), function 0x17, region flags at 12.
constexpr uint32_t kCleanRequestSize = 16;
constexpr size_t kCleanFunction = 3;
constexpr uint8_t kFunctionToolbox = 0x17;
constexpr size_t kCleanFlags = 12;
constexpr size_t kReplyIocStatus = 14;
constexpr uint32_t kCleanTimeoutSeconds = 512;

const EraseRegion* findRegion(const char* word) {
    for (const EraseRegion& row : kEraseRegions) {
        if (std::strcmp(word, row.word) == 0)
            return &row;
    }
    return nullptr;
}

uint32_t sendClean(const AdapterRecord* adapter, uint32_t flags) {
    uint8_t request[kCleanRequestSize] = {};
    request[kCleanFunction] = kFunctionToolbox;
    putLe32(request, kCleanFlags, flags);
    uint8_t reply[kXolEraseReplySize] = {};
    XolPassthroughBlock block = {};
    block.size = kXolPassthroughBlockSize;
    block.adapterHandle = adapter->adapterHandle;
    block.signature = kXolPassthroughSignature;
    block.requestLength = sizeof request;
    block.request = request;
    block.replyLength = sizeof reply;
    block.reply = reply;
    block.timeoutSeconds = kCleanTimeoutSeconds;
    const uint32_t status = XolLib2Passthrough(&block);
    if (status != kXolStatusSuccess) {
        logError("XolLib2 Error: '0x%08X'. XOL Passthrough failed. *** ", status);
        return 1;
    }
    const uint16_t iocStatus = getLe16(reply, kReplyIocStatus);
    if (iocStatus != 0) {
        logError(" *** XolLib2 Error: '0x%08X'. Invalid IOCTL status. *** ", iocStatus);
        return 1;
    }
    logPrintLine("Region has been erased successfully.");
    return 0;
}

}  // namespace

uint32_t hbaEraseUsage() {
    logPrintLine("Erase Operations:");
    logPrintLine("Erase command erases the specified region");
    logPrintLine("%4s %s", " ", " erase -<region> [-s]");
    logPrintLine("%10s %s", " ", " -boot       : Erase boot services");
    logPrintLine("%10s %s", " ", " -persistent : Erase persistent manufacturing pages");
    logPrintLine("%10s %s", " ", " -other      : Erase other persistent manfacturing pages");
    logPrintLine("%10s %s", " ", " -s          : Silent erase flag and does not query");
    logPrintLine("Example       : erase -persistent");
    return 0;
}

uint32_t hbaEraseCommand(uint32_t count, char** words) {
    const Target* target = currentTarget();
    const AdapterRecord* adapter = target != nullptr ? adapterOf(target) : nullptr;
    if (adapter == nullptr) {
        logError("Select valid device. Device is not selected.");
        return 1;
    }
    if (count < 2 || count > kMaxEraseWords) {
        logError("Invalid command syntax or unknown argument(s) specified.");
        return 1;
    }
    bool silent = false;
    const EraseRegion* region = nullptr;
    for (uint32_t i = 1; i < count; ++i) {
        if (std::strcmp(words[i], kSilentOption) == 0) {
            if (silent) {
                logError("Multiple -s arguments specified");
                return 1;
            }
            silent = true;
            continue;
        }
        const EraseRegion* row = findRegion(words[i]);
        if (row == nullptr) {
            logError("Invalid argument specified. Unknown option '%s'", words[i]);
            return 1;
        }
        if (region != nullptr) {
            logError("Multiple erase regions specified.");
            return 1;
        }
        region = row;
    }
    if (region == nullptr) {
        logError("Invalid syntax entered. Valid region ID should be specified");
        return 1;
    }
    if (!silent) {
        char question[128];
        std::snprintf(question, sizeof question,
                      "Are you sure want to erase '%s' region ? (Yes/No) : ", region->name);
        const uint32_t answer = confirmYesNo(question);
        if (answer != kConfirmYes) {
            logPrintLine(" User cancelled. Erase operation not performed.");
            // Nobody answered at the end of input: not a success.
            return answer == kConfirmNo ? 0 : 1;
        }
    }
    return sendClean(adapter, region->cleanFlag);
}
