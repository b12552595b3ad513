// Expander `erase`: fills one flash region, the two log regions or the whole
// flash with 0xFF.
#pragma once

#include <cstdint>

// 0 erased or declined at the question; 1 for wrong arguments, end of input
// at the question, an empty region or a failed query or write.
uint32_t expanderEraseCommand(uint32_t count, char** words);
uint32_t expanderEraseUsage();
