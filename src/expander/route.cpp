#include "expander/route.h"

#include <cstdio>
#include <string>
#include <vector>

#include "expander/expander_access.h"
#include "expander/route_entry.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "targets/expander_device.h"

namespace {

constexpr uint32_t kRouteEntries = 2048;
constexpr uint32_t kEntryAttempts = 10;
constexpr uint32_t kRouteIndexRegister = 0xA0000008;
constexpr uint32_t kRouteCommandRegister = 0xA000000C;
constexpr uint32_t kRouteCommandRead = 0x24;
constexpr uint32_t kRouteDataWindow = 0xA0000020;
constexpr uint32_t kRouteEntryBytes = 24;

struct RouteEntry {
    uint32_t index;
    uint32_t state;       // w2
    uint32_t high;        // w1: 0 means no entry
    uint32_t low;         // w0
    uint32_t phyMap;      // w4
    uint32_t phyMapHigh;  // w5
};

// One attempt: index, command, then the six words. Any step failing fails it.
uint32_t readRouteEntry(Target* target, uint32_t index, RouteEntry* entry) {
    uint8_t words[kRouteEntryBytes] = {};
    if (writeRegisterValue(target, kRouteIndexRegister, index) != 0 ||
        writeRegisterValue(target, kRouteCommandRegister, kRouteCommandRead) != 0 ||
        readChipRegister(target, kRouteDataWindow, words, sizeof words) != 0) {
        return 1;
    }
    *entry = {index,
              getLe32(words, 8),
              getLe32(words, 4),
              getLe32(words, 0),
              getLe32(words, 16),
              getLe32(words, 20)};
    return 0;
}

void printEntry(const RouteEntry& entry, uint32_t phyCount) {
    std::string line;
    char text[64];
    std::snprintf(text, sizeof text, " %-5d %08x %08x  ", static_cast<int>(entry.index), entry.high,
                  entry.low);
    line += text;
    uint32_t phys[kMaxRoutedPhys];
    const size_t n = routedPhys(entry.phyMap, entry.phyMapHigh, phyCount, phys, kMaxRoutedPhys);
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(text, sizeof text, "%d ", static_cast<int>(phys[i]));
        line += text;
    }
    std::snprintf(text, sizeof text, "%14x", entry.state);
    line += text;
    logPrintLine("%s", line.c_str());
}

}  // namespace

uint32_t expanderRouteCommand(uint32_t count, char** /*words*/) {
    if (count > 1) {
        logError("Invalid command. Command does not require any arguments.");
        return 1;
    }
    Target* target = currentExpander();
    if (target == nullptr) {
        logError("Invalid device selected.");
        return 1;
    }
    std::vector<RouteEntry> table(kRouteEntries);
    for (uint32_t index = 0; index < kRouteEntries; ++index) {
        uint32_t attempt = 0;
        while (attempt < kEntryAttempts && readRouteEntry(target, index, &table[index]) != 0)
            ++attempt;
        if (attempt == kEntryAttempts) {
            logPrintLine("Unable to get the route table entry.");
            return 1;
        }
    }
    logPrintLine("\n%-6s %-18s %-18s %-14s ", "Index", "WWID", "PhyMap", "EntryState");
    uint32_t phyCount = 0;
    if (getPhyCount(&phyCount) != 0) {
        logPrintLine("Failed to get Phy Number information.");
        return 1;
    }
    for (const RouteEntry& entry : table) {
        if (entry.high != 0)
            printEntry(entry, phyCount);
    }
    return 0;
}

uint32_t expanderRouteUsage() {
    logPrintLine("Route Command:");
    logPrintLine("To display the route table attributes");
    logPrintLine("Index    : Route table index in decimal");
    logPrintLine("WWID     : WWID is hex value");
    logPrintLine("PhyMap   : Displays which phy is set");
    logPrintLine("EntryState : Status Qualifier");
    logPrintLine("Example : route");
    return 0;
}
