// HBA reset: the controller, or a link reset, hard reset or event counter
// clear of one phy, a range of phys or all phys.
#pragma once

#include <cstdint>

uint32_t hbaResetUsage();
// 0, or 1 on a syntax error, without a selected HBA, or when a reset failed.
uint32_t hbaResetCommand(uint32_t count, char** words);
