// HBA `erase`: wipes one flash region with the controller's toolbox clean
// request, after a question unless -s is given.
#pragma once

#include <cstdint>

uint32_t hbaEraseCommand(uint32_t count, char** words);
uint32_t hbaEraseUsage();
