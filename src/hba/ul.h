// HBA `ul`: copies one flash region of the selected controller into a file.
#pragma once

#include <cstdint>

uint32_t hbaUlCommand(uint32_t count, char** words);
uint32_t hbaUlUsage();
