// HBA locate: switches the identify LED of a drive's slot through the
// controller's enclosure processor.
#pragma once

#include <cstdint>

uint32_t hbaLocateUsage();
// 0 when every request succeeded; 1 on a syntax error, an unknown handle or
// a failed or refused request.
uint32_t hbaLocateCommand(uint32_t count, char** words);
