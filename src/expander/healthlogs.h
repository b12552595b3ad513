// Expander `healthlogs`: prints the health log entries, or with -decode the
// log as the firmware renders it.
#pragma once

#include <cstdint>

// 0 after printing (an empty log prints nothing); 1 without a selected
// expander, for argument errors, or when the log cannot be read.
uint32_t expanderHealthLogsCommand(uint32_t count, char** words);
uint32_t expanderHealthLogsUsage();
