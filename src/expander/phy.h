// Expander `phy`: the attached-device, EDFB, error counter and link rate
// tables of every phy, switching one phy on or off, and programming the
// minimum and maximum link rates of a list of phys.
#pragma once

#include <cstdint>

// 0 success; 1 without a selected expander, for wrong arguments, or when a
// device read or write fails (each reported once).
uint32_t expanderPhyCommand(uint32_t count, char** words);
uint32_t expanderPhyUsage();
