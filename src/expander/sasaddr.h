// Expander `sasaddr`: shows the SAS address from page 0xFE00, or writes a
// new one into the manufacturing region and finds the expander again.
#pragma once

#include <cstdint>

// 0 after showing or changing the address; 1 without a selected expander,
// for argument errors, or when a read, the patch, the write or the
// rediscovery fails.
uint32_t expanderSasAddressCommand(uint32_t count, char** words);
uint32_t expanderSasAddressUsage();
