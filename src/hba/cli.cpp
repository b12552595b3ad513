// HBA cli; see cli.h.
#include "hba/cli.h"

#include <cstring>

#include "hba/log_page.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint8_t kToolDiagCommand = 6;
constexpr uint8_t kFunctionToolbox = 0x17;
constexpr size_t kRequestFlags = 16;
constexpr uint32_t kDiagFlags = 0x400000;
constexpr size_t kRequestText = 20;
constexpr size_t kTextField = 92;  // the last byte stays NUL
constexpr uint32_t kRequestSize = kRequestText + kTextField;
constexpr uint32_t kReplySize = 24;
constexpr size_t kReplyIocStatus = 14;
constexpr size_t kReplyLength = 20;
constexpr uint32_t kAnswerSize = 0x100000;
// Pieces well under the logger's 2048-byte message buffer.
constexpr size_t kPrintPiece = 1024;

void printAnswer(const uint8_t* answer, size_t length) {
    char piece[kPrintPiece + 1];
    for (size_t at = 0; at < length; at += kPrintPiece) {
        const size_t n = length - at < kPrintPiece ? length - at : kPrintPiece;
        std::memcpy(piece, answer + at, n);
        makeAnswerPrintable(piece, n);
        piece[n] = '\0';
        logPrint("%s", piece);
    }
    logPrint("\n");
}

}  // namespace

uint32_t hbaCliUsage() {
    logPrintLine("Diagnostic CLI Command:");
    logPrintLine("To send diagnostic commands to the IOC's command line");
    logPrintLine("cli      : Command followed by diag commands");
    logPrintLine("Example : cli iop show ver");
    logPrintLine("Example : cli pl dbg");
    return 0;
}

uint32_t hbaCliCommand(uint32_t count, char** words) {
    Target* target = currentTarget();
    AdapterRecord* adapter = adapterOf(target);
    if (target == nullptr || adapter == nullptr) {
        logError("Select valid device. Device is not selected.");
        return 1;
    }
    if (count < 2) {
        logError("Invalid command buffer specified. Command must have a valid string.");
        return 1;
    }
    uint8_t request[kRequestSize] = {};
    request[0] = kToolDiagCommand;
    request[3] = kFunctionToolbox;
    putLe32(request, kRequestFlags, kDiagFlags);
    size_t used = 0;
    for (uint32_t i = 1; i < count; ++i) {
        const size_t length = std::strlen(words[i]);
        if (length + 1 > kTextField - 1 - used) {
            logError("Diagnostic CLI command is too long for execution.");
            return 1;
        }
        std::memcpy(request + kRequestText + used, words[i], length);
        used += length;
        request[kRequestText + used++] = ' ';
    }
    ByteBuffer answer;
    if (!answer.allocate(kAnswerSize)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    uint8_t reply[kReplySize] = {};
    XolPassthroughBlock block = {};
    block.size = kXolPassthroughBlockSize;
    block.adapterHandle = adapter->adapterHandle;
    block.signature = kXolPassthroughSignature;
    block.requestLength = sizeof request;
    block.request = request;
    block.replyLength = sizeof reply;
    block.reply = reply;
    block.dataInLength = kAnswerSize;
    block.dataIn = answer.data();
    const uint32_t status = XolLib2Passthrough(&block);
    if (status != kXolStatusSuccess) {
        logError("XolLib2 Error: '0x%08X'. XOL Passthrough failed.", status);
        return 1;
    }
    const uint32_t iocStatus = getLe16(reply, kReplyIocStatus) & 0x7FFFu;
    if (iocStatus != 0) {
        logError("XolLib2 Error: '0x%08X'. Invalid IOCTL status.", iocStatus);
        return 1;
    }
    const uint32_t returned = getLe32(reply, kReplyLength);
    if (returned >= 2)
        printAnswer(answer.data(), cliAnswerLength(answer.data(), answer.size(), returned));
    return 0;
}
