// HBA `show`: firmware, NVDATA, package and BIOS versions, manufacturing
// names, temperatures, PCI link and address, and (-sys) device node names.
#pragma once

#include <cstdint>

uint32_t hbaShowCommand(uint32_t count, char** words);
uint32_t hbaShowUsage();
