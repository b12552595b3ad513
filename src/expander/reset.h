// Expander `reset`: the expander itself (it is found again afterwards), or a
// link reset, hard reset or error counter reset of listed phys or all phys.
#pragma once

#include <cstdint>

// 0 success; 1 without a selected expander, for wrong arguments, when the
// expander does not come back, or when any phy operation failed (every phy's
// line is still printed).
uint32_t expanderResetCommand(uint32_t count, char** words);
uint32_t expanderResetUsage();
