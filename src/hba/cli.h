// HBA cli: one command line for the controller firmware's diagnostic
// command interpreter, and its answer.
#pragma once

#include <cstdint>

uint32_t hbaCliUsage();
// 0, or 1 without a command, with one too long, or when the request failed.
uint32_t hbaCliCommand(uint32_t count, char** words);
