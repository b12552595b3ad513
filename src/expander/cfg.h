// Expander `cfg`: dumps one configuration page in hexadecimal.
#pragma once

#include <cstdint>

// 0 after the dump; 1 without a selected expander, for argument errors, or
// when no region gives the page.
uint32_t expanderCfgCommand(uint32_t count, char** words);
uint32_t expanderCfgUsage();
