// HBA `cfg`: read, write, dump, compare and restore configuration pages.
#pragma once

#include <cstdint>

struct AdapterRecord;
struct Target;

uint32_t hbaCfgCommand(uint32_t count, char** words);
uint32_t hbaCfgUsage();

// -dumpall (cfg_dump.cpp): every page the controller offers, current values.
// Always 0.
uint32_t dumpAllPages(const Target* target, const AdapterRecord* adapter);
