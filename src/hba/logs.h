// HBA logs: prints or clears the controller's event log (Log page 0).
#pragma once

#include <cstdint>

uint32_t hbaLogsUsage();
// 0, or 1 without a selected HBA, on a page failure or a wrong argument.
uint32_t hbaLogsCommand(uint32_t count, char** words);
