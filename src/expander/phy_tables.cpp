#include "expander/phy_tables.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "expander/expander_access.h"
#include "expander/link_rate.h"
#include "expander/phy_layout.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "targets/expander_device.h"
#include "targets/expander_models.h"
#include "targets/target_list.h"

namespace {

constexpr uint32_t kProgrammedRateOffset = 8;

const char* const kDaHeader[] = {
    "P   R  S     Z   E                              S S S S S S S P ",
    "H   O  P     G   N      ATTACHED      ATT ATT   M T S M T S A R ",
    "Y   U  E     R   B        SAS         PHY TYPE  P P P P P P T T ",
    "    T  E     P   L      ADDRESS                 I I I T T T A S ",
    "    E  D         E                                          T L ",
};
const char* const kEdfbHeader[] = {
    "P   S     E                          E  E                     ",
    "H   P     N      ATTACHED      ATT   D  R  MAX  FAST   SWITCH ",
    "Y   E     B        SAS         TYPE  F  R  LNT  PATH   TIMEO  ",
    "    E     L      ADDRESS             B  L       TIMEO         ",
    "    D     E                                                   ",
};

struct CodeText {
    uint8_t code;
    const char* text;
};
constexpr CodeText kRoutingNames[] = {
    {kRoutingDirect, "D"},
    {kRoutingSubtractive, "S"},
    {kRoutingTable, "T"},
};

const char* routingName(uint8_t routing) {
    for (const CodeText& row : kRoutingNames) {
        if (row.code == routing)
            return row.text;
    }
    return "";
}

bool hasAttachedDevice(const PhyInfoRecord& record) {
    return record.attachedType != kAttachedNone;
}

const char* attachedTypeName(const PhyInfoRecord& record) {
    return record.attachedType == kAttachedEndDevice ? "End" : "Exp";
}

// A virtual phy counts as up when it negotiated any rate.
const char* enableText(const PhyInfoRecord& record) {
    if (!record.enabled)
        return "N";
    if (record.isVirtual)
        return record.negotiatedRate >= 2 ? "Y" : "N";
    return "Y";
}

const char* speedText(const PhyInfoRecord& record, char* out, size_t size) {
    if (!hasAttachedDevice(record))
        return "-";
    return linkRateColumn(record.negotiatedRate, out, size);
}

// Appends formatted text at *used, never past size.
void append(char* out, size_t size, size_t* used, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void append(char* out, size_t size, size_t* used, const char* format, ...) {
    if (*used >= size)
        return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(out + *used, size - *used, format, args);
    va_end(args);
    if (n > 0)
        *used = std::min(size - 1, *used + static_cast<size_t>(n));
}

void printHeader(const char* const (&lines)[5]) {
    for (const char* line : lines)
        logPrintLine("%s", line);
    logPrintLine(" ");
}

void printRow(const char* row) {
    logPrintLine("%s", row);
}

}  // namespace

void formatDaRow(const PhyInfoRecord& record, char* out, size_t size) {
    if (size == 0)
        return;
    out[0] = '\0';
    size_t used = 0;
    char speed[16];
    append(out, size, &used, "%02u%s", record.phy, record.isVirtual ? "* " : "  ");
    append(out, size, &used, "%-3s", routingName(record.routing));
    append(out, size, &used, "%-6s", speedText(record, speed, sizeof speed));
    if (record.zoningEnabled)
        append(out, size, &used, "%-4x", record.zoneGroup);
    else
        append(out, size, &used, "%-4s", "UZ");
    append(out, size, &used, "%-3s", enableText(record));
    if (hasAttachedDevice(record)) {
        append(out, size, &used, "%08x%08x", static_cast<uint32_t>(record.attachedSasAddress >> 32),
               static_cast<uint32_t>(record.attachedSasAddress));
        append(out, size, &used, "  %02u  ", record.attachedPhyId);
        append(out, size, &used, "%-6s", attachedTypeName(record));
    } else {
        append(out, size, &used, "%s%-6s%-6s", "0000000000000000", "  00", "None");
    }
    for (const bool flag : record.protocolFlags)
        append(out, size, &used, "%-2s", flag ? "1" : "0");
}

void formatEdfbRow(const PhyInfoRecord& record, char* out, size_t size) {
    if (size == 0)
        return;
    out[0] = '\0';
    size_t used = 0;
    char speed[16];
    append(out, size, &used, "%02u%s", record.phy, record.isVirtual ? "* " : "  ");
    append(out, size, &used, "%-6s", speedText(record, speed, sizeof speed));
    append(out, size, &used, "%-3s", enableText(record));
    if (hasAttachedDevice(record)) {
        append(out, size, &used, "%08x%08x  %-6s",
               static_cast<uint32_t>(record.attachedSasAddress >> 32),
               static_cast<uint32_t>(record.attachedSasAddress), attachedTypeName(record));
    } else {
        append(out, size, &used, "%s%-6s ", "0000000000000000 ", " None");
    }
    append(out, size, &used, "%-3s", record.edfbEnabled ? "1" : "-");
    append(out, size, &used, "%-3s", record.errorLimit ? "1" : "-");
    if (record.edfbEnabled) {
        append(out, size, &used, "%02x   %04x   %04x  ", record.maxLatency, record.fastPathTimeout,
               record.switchTimeout);
    } else {
        append(out, size, &used, "%s%s%s", "--   ", "----   ", "----   ");
    }
}

void formatErrorRow(uint32_t phy, const uint32_t counters[kErrorCounterCount], char* out,
                    size_t size) {
    std::snprintf(out, size, "%02u   0x%08x        0x%08x        0x%08x     0x%08x      ", phy,
                  counters[0], counters[1], counters[2], counters[3]);
}

void formatLinkRateRow(const PhyInfoRecord& record, uint8_t programmedMin, uint8_t programmedMax,
                       char* out, size_t size) {
    std::snprintf(out, size, "%02u%-3s %-10s %-15s %-15s %-15s %-15s", record.phy,
                  record.isVirtual ? "*" : "", record.enabled ? "Yes" : "No",
                  linkRateName(programmedMin), linkRateName(programmedMax),
                  linkRateName(record.hardwareMinRate), linkRateName(record.hardwareMaxRate));
}

uint32_t printAttachedDeviceTable(PhyReadContext* context) {
    printHeader(kDaHeader);
    if (loadPhyContext(context) != 0) {
        logPrintLine("Failed to get Phy details.");
        return 1;
    }
    uint32_t status = 0;
    char row[kPhyRowSize];
    for (uint32_t phy = 0; phy < context->phyCount; ++phy) {
        PhyInfoRecord record;
        if (collectPhyInfo(context, phy, false, &record) != 0) {
            // Show the phy's row, but nothing it may have half read.
            record = PhyInfoRecord{};
            record.phy = phy;
            status = 1;
        }
        formatDaRow(record, row, sizeof row);
        printRow(row);
    }
    return status;
}

uint32_t printEdfbTable(PhyReadContext* context) {
    printHeader(kEdfbHeader);
    if (loadPhyContext(context) != 0) {
        logPrintLine("Failed to get EDFB details.");
        return 1;
    }
    char row[kPhyRowSize];
    for (uint32_t phy = 0; phy < context->phyCount; ++phy) {
        PhyInfoRecord record;
        if (collectPhyInfo(context, phy, true, &record) != 0) {
            logError("Unable to get EDFB details.");
            return 1;
        }
        formatEdfbRow(record, row, sizeof row);
        printRow(row);
    }
    return 0;
}

uint32_t printErrorCounterTable(PhyReadContext* context) {
    if (loadPhyContext(context) != 0) {
        logPrintLine("Failed to get error counter details.");
        return 1;
    }
    logPrintLine("%-4s %-17s %-17s %-14s %-17s", "Phy", "InvalidWordCount", "PhyErrorCounters",
                 "LossSyncCount", "ResetSeqFailCount");
    char row[kPhyRowSize];
    for (uint32_t phy = 0; phy < context->phyCount; ++phy) {
        uint32_t address = 0;
        uint8_t block[kErrorCounterCount * 4] = {};
        if (!phyErrorCounterAddress(context->target->family, phy, &address) ||
            readChipRegister(context->target, address, block, sizeof block) != 0) {
            return 1;
        }
        uint32_t counters[kErrorCounterCount];
        for (uint32_t i = 0; i < kErrorCounterCount; ++i)
            counters[i] = getLe32(block, i * 4);
        formatErrorRow(phy, counters, row, sizeof row);
        printRow(row);
    }
    return 0;
}

uint32_t printLinkRateTable(PhyReadContext* context, uint32_t first, uint32_t end) {
    logPrintLine("%-5s %-10s %-30s %-30s", "", "", "Programed Link Rate", " Hardware Link Rate");
    logPrintLine("%-5s %-10s %-15s %-15s %-15s %-15s", "PHY", "Enabled", "Min", "Max", "Min",
                 "Max");
    const bool secondGeneration = isSecondGeneration(context->target->family);
    char row[kPhyRowSize];
    for (uint32_t phy = first; phy < end; ++phy) {
        PhyInfoRecord record;
        uint32_t enableWord = 0;
        if (collectPhyInfo(context, phy, false, &record) != 0 ||
            (!secondGeneration &&
             readRegisterValue(context->target, phyLinkConfigBase(phy) + kProgrammedRateOffset,
                               &enableWord) != 0)) {
            logError("Unable to get the PHY information for PHY '%d'", static_cast<int>(phy));
            return 1;
        }
        uint8_t programmedMin = record.hardwareMinRate;
        uint8_t programmedMax = record.hardwareMaxRate;
        if (!secondGeneration)
            programmedRates(enableWord, &programmedMin, &programmedMax);
        formatLinkRateRow(record, programmedMin, programmedMax, row, sizeof row);
        printRow(row);
    }
    return 0;
}
