// HBA `dl`: firmware and BIOS download with validation, post validation and
// reset. The command row's handler and usage printer.
#pragma once

#include <cstdint>

uint32_t dlCommand(uint32_t count, char** words);
uint32_t dlUsage();
