// Expander `show`: firmware revision, manufacturing and network details, and
// the die temperature of the selected expander.
#pragma once

#include <cstdint>

// 0 success; 1 without a selected expander, for wrong arguments, or when
// `-temp` cannot reach the temperature sensor.
uint32_t expanderShowCommand(uint32_t count, char** words);
uint32_t expanderShowUsage();
