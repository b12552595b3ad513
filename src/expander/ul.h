// Expander `ul`: copies a flash region (firmware, manufacturing, or any by
// buffer id) into a file.
#pragma once

#include <cstdint>

// 0 uploaded; 1 for wrong arguments or a failed size query, read or write
// (the file is replaced only once the whole region was read).
uint32_t expanderUlCommand(uint32_t count, char** words);
uint32_t expanderUlUsage();
