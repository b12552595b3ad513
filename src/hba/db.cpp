#include "hba/db.h"

#include <string>

#include "hba/db_args.h"
#include "shell/byte_buffer.h"
#include "shell/logger.h"
#include "shell/prompt.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

// The trace buffer is registered with this much room beyond its data.
constexpr uint32_t kTraceRegisterExtra = 64;

uint8_t typeOf(const DbRequest& request) {
    return static_cast<uint8_t>(request.bufferType);
}

uint32_t sizeCheck(DbRequest* request) {
    std::string error;
    if (checkDbSize(request, &error) != 0) {
        logError("%s", error.c_str());
        return 1;
    }
    return 0;
}

uint32_t queryBuffer(const uint32_t* handle, DbRequest* request) {
    if (sizeCheck(request) != 0)
        return 1;
    uint16_t flags = 0;
    const uint32_t status = XolLib2DiagQuery(handle, typeOf(*request), &flags, nullptr);
    if (status != kXolStatusSuccess) {
        logError("Unable to query the buffer %x.", status);
        return 1;
    }
    const DbQueryLines lines = dbQueryLines(flags);
    for (const char* line : lines.info)
        logPrintLine("%s", line);
    if (lines.error != nullptr) {
        logError("%s", lines.error);
        return 1;
    }
    logPrintLine("Buffer successfully queried ");
    return 0;
}

uint32_t registerBuffer(const uint32_t* handle, DbRequest* request) {
    if (sizeCheck(request) != 0)
        return 1;
    uint32_t size = request->size;
    if (request->bufferType == kDbBufferTrace)
        size += kTraceRegisterExtra;
    uint32_t words[kXolDiagProductWords];
    dbProductWords(*request, words);
    const uint32_t status = XolLib2DiagRegister(handle, typeOf(*request), 0, size, 0, words);
    if (status != kXolStatusSuccess) {
        logError("Unable to register with IO Unit %x.", status);
        return 1;
    }
    if (queryBuffer(handle, request) != 0)
        return 1;
    logPrintLine("Buffer successfully registered ");
    return 0;
}

uint32_t readBuffer(const uint32_t* handle, DbRequest* request) {
    if (request->file.empty()) {
        logError("File name is mandatory");
        return 1;
    }
    if (sizeCheck(request) != 0)
        return 1;
    uint32_t status = XolLib2DiagQuery(handle, typeOf(*request), nullptr, nullptr);
    if (status != kXolStatusSuccess) {
        logError("Unable to query the buffer %x.", status);
        return 1;
    }
    ByteBuffer contents;
    if (!contents.allocate(request->size)) {
        logError("Unable to allocate memory.");
        return 1;
    }
    status = XolLib2DiagRead(handle, typeOf(*request), request->size, contents.data());
    if (status != kXolStatusSuccess) {
        logError("Unable to read the buffer %x.", status);
        return 1;
    }
    // writeWholeFile reports its own failure; a full disk is not a success.
    if (writeWholeFile(request->file.c_str(), contents.data(), contents.size()) != 0)
        return 1;
    logPrintLine("Buffer read sucessfully");
    return 0;
}

uint32_t releaseBuffer(const uint32_t* handle, const DbRequest& request) {
    const uint32_t status = XolLib2DiagRelease(handle, typeOf(request));
    if (status != kXolStatusSuccess) {
        logError("Unable to release the buffer %x.", status);
        return 1;
    }
    logPrintLine("Buffer released sucessfully");
    return 0;
}

uint32_t unregisterBuffer(const uint32_t* handle, const DbRequest& request) {
    const uint32_t status = XolLib2DiagUnregister(handle, typeOf(request));
    if (status != kXolStatusSuccess) {
        logError("Unable to un-register the buffer %x.", status);
        return 1;
    }
    logPrintLine("Buffer unregistered sucessfully");
    return 0;
}

}  // namespace

uint32_t hbaDbUsage() {
    logPrintLine("Diag Buffer operation:");
    logPrintLine("This command will collect diagnostic buffer manually");
    logPrintLine("%4s %s", " ",
                 "db [-register | -query | -read | -release | -unregister] [-trace | -snapshot]");
    logPrintLine("%4s %s", " ",
                 "   [-size <size> ] [-file <file_name>][-popt <data> -iopmask <data> -plmask "
                 "<data> -irmask <data>");
    logPrintLine("%8s %s", " ", "-register  - To register the input buffer with IOC");
    logPrintLine("%8s %s", " ", "-query     - To query the status of the registered buffer");
    logPrintLine("%8s %s", " ", "-read      - For reading the buffer contents");
    logPrintLine("%8s %s", " ", "-release   - To request IO unit to release the buffer");
    logPrintLine("%8s %s", " ", "-unregister- For un-registering the selected buffer ");
    logPrintLine("%8s %s", " ", "-trace/snapshot - Buffer Types");
    logPrintLine("%8s %s", " ", "-size      - Size of the buffer which has to be read");
    logPrintLine("%8s %s", " ", "-popt/iopmask/irmask/plmask - Various mask values ");
    logPrintLine("%8s %s", " ", "-file      - For specifying File name");
    logPrintLine("Example : db -query -trace -size 128");
    return 0;
}

uint32_t hbaDbCommand(uint32_t count, char** words) {
    const Target* target = currentTarget();
    const AdapterRecord* adapter = target != nullptr ? adapterOf(target) : nullptr;
    if (adapter == nullptr) {
        logError("Select valid device. Device is not selected.");
        return 1;
    }
    DbRequest request;
    std::string error;
    if (parseDbArguments(count, words, &request, &error) != 0) {
        logError("%s", error.c_str());
        return 1;
    }
    const uint32_t* handle = &adapter->adapterHandle;
    switch (request.action) {
        case kDbOptionRegister:
            return registerBuffer(handle, &request);
        case kDbOptionQuery:
            return queryBuffer(handle, &request);
        case kDbOptionRead:
            return readBuffer(handle, &request);
        case kDbOptionRelease:
            return releaseBuffer(handle, request);
        case kDbOptionUnregister:
            return unregisterBuffer(handle, request);
        default:
            return 0;
    }
}
