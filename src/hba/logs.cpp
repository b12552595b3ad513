// HBA logs; see logs.h.
#include "hba/logs.h"

#include <cstring>

#include "hba/hba_page.h"
#include "hba/log_page.h"
#include "shell/byte_buffer.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kClearReadSize = 68;

uint32_t printLog(const uint32_t* handle) {
    ByteBuffer page;
    HbaPageStep step = HbaPageStep::None;
    const uint32_t status = fetchHbaPage(handle, kLogPage0Id, kPageSelectorCurrent, &page, &step);
    switch (step) {
        case HbaPageStep::None:
            break;
        case HbaPageStep::Header:
            logError("Error in getting page header for Log Page 0 ERROR CODE : %08x", status);
            return 1;
        case HbaPageStep::Allocate:
            logError("Error in allocating memory for Log Page 0");
            return 1;
        case HbaPageStep::Read:
            logError("Error in getting Log Page 0 ERROR CODE : %08x", status);
            return 1;
    }
    logPrintLine("%-6s %-6s %-18s %s", "SeqN", "Type", "Time", "Data");
    const uint32_t entries = logEntryCount(page.data(), page.size());
    for (uint32_t i = 0; i < entries; ++i) {
        LogRow row;
        if (!decodeLogRow(page.data(), page.size(), i, &row))
            break;
        logPrint("%04x", row.sequence);
        logPrint("%2s %04x", " ", row.qualifier);
        logPrint("%2s %08x%08x", " ", row.timeHigh, row.timeLow);
        for (uint32_t w = 0; w < row.shownWords; ++w)
            logPrint(" %08x", row.data[w]);
        logPrint("\n");
    }
    return 0;
}

uint32_t clearLog(const uint32_t* handle) {
    uint8_t page[kClearReadSize] = {};
    uint32_t size = sizeof page;
    uint32_t status = XolLib2ReadLogPage0(handle, page, &size, kPageSelectorCurrent);
    // The entry count must be among the bytes read.
    if (status == kXolStatusSuccess && size < kLogEntries)
        status = kXolStatusFailure;
    if (status != kXolStatusSuccess) {
        logError("Request to read LOG Page0 failed %x \n", status);
        return 1;
    }
    putLe32(page, kLogEntryCount, 0);
    // Only what was read goes back.
    uint32_t length = size < kClearReadSize ? size : kClearReadSize;
    status =
        XolLib2WriteConfigPage(handle, kLogPage0Id.address, kLogPage0Id.type, kLogPage0Id.number,
                               kLogPage0Id.extType, kPageSelectorCurrent, page, &length);
    if (status != kXolStatusSuccess) {
        logError("Error in setting the new values for Log Page0 : %08x", status);
        return 1;
    }
    logPrintLine("Log entries are erased successfully");
    return 0;
}

}  // namespace

uint32_t hbaLogsUsage() {
    const char* b = " ";
    logPrintLine("IOC Log Page 0 logs");
    logPrintLine("Command prints the IOC events logged data");
    logPrintLine("%4s %s", b, "logs");
    logPrintLine("%8s %s", b, "-Prints the logs in binary format or partially decoded format");
    logPrintLine("%4s %s", b, "logs -clear");
    logPrintLine("%8s %s", b, "-clear : Clears the logs in log page 0");
    logPrintLine("Example : logs -clear");
    return 0;
}

uint32_t hbaLogsCommand(uint32_t count, char** words) {
    Target* target = currentTarget();
    AdapterRecord* adapter = adapterOf(target);
    if (target == nullptr || adapter == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return 1;
    }
    if (count == 1)
        return printLog(&adapter->adapterHandle);
    if (count == 2 && std::strcmp(words[1], "-clear") == 0)
        return clearLog(&adapter->adapterHandle);
    if (count == 2) {
        logPrintLine(
            "Invalid arguments specified. Command 'logs -decode/-clear' are the valid "
            "arguments.");
        // A mistyped -clear must not pass as done: only -decode is harmless.
        return std::strcmp(words[1], "-decode") == 0 ? 0 : 1;
    }
    logPrintLine("Invalid arguments specified.");
    return 1;
}
