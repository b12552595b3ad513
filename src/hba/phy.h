// HBA phy: direct-attached devices, port settings, error and event counters
// of the selected HBA's phys, and switching one phy on or off.
#pragma once

#include <cstdint>

uint32_t hbaPhyUsage();
// The handler's result, or 1 on a syntax error or without a selected HBA.
uint32_t hbaPhyCommand(uint32_t count, char** words);

// The port display of `phy -port` (also shown by `ioc`): IOC page 1 and SAS
// IO Unit page 1 read with iocPage1Selector (1 current, 2 default, 3 NVRAM;
// ioc shows the NVRAM copies it changes). 0, or 1 after reporting a page that could not be read.
uint32_t showPortSettings(const uint32_t* handle, uint32_t phyCount, uint32_t iocPage1Selector);
