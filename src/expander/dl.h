// Expander `dl`: firmware, manufacturing and raw buffer images into flash,
// with validation, confirmation, the expander reset and post validation.
#pragma once

#include <cstdint>

// 0 success or declined at the question; 1 for wrong arguments, end of input
// at the question, or a failed validation step, download, reset or post
// validation.
uint32_t expanderDlCommand(uint32_t count, char** words);
uint32_t expanderDlUsage();
