// Expander `scan` and `encl`: the topology and the enclosures as the HBA that
// reports the selected expander sees them.
#pragma once

#include <cstdint>

// 0 success; 1 without a selected expander, with any argument, when no HBA
// reports the expander, or when the HBA's device list cannot be read.
uint32_t expanderScanCommand(uint32_t count, char** words);
uint32_t expanderScanUsage();
// 0 after the last enclosure (also when there is none); 1 as for scan, or
// when an enclosure page cannot be read.
uint32_t expanderEnclCommand(uint32_t count, char** words);
uint32_t expanderEnclUsage();
