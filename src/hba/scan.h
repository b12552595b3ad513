// HBA scan: link summaries of the SAS phys (and PCIe links on the newest
// family), then the SAS/SATA and PCIe devices the controller knows.
#pragma once

#include <cstdint>

uint32_t hbaScanUsage();
// 0, or 1 on a bad argument, no target, or a failed rediscovery, count or
// device query.
uint32_t hbaScanCommand(uint32_t count, char** words);
// The PCIe device list of scan ("Displaying PCIe devices..." and a row per
// NVMe or PCIe device among the adapter's `count` devices); phy -da shows it
// too. 0, or 1 when a device's information cannot be read.
uint32_t printPcieDevices(const uint32_t* handle, uint32_t count);
