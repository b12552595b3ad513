// HBA `show`: firmware, NVDATA, package and BIOS versions, manufacturing
// names, temperatures, PCI link and address, and (-sys) device node names.
#pragma once

#include <cstdint>

struct AdapterRecord;

// Sends IOC Facts into reply (*length in: capacity, out: bytes copied). 1
// after "IOC Facts request failure." when the request fails or copies fewer
// than `minimum` bytes; a reply flagging an IOCStatus ends the process with
// 0x5020000 plus that status.
uint32_t requestIocFacts(const AdapterRecord* adapter, uint8_t* reply, uint32_t* length,
                         uint32_t minimum);

uint32_t hbaShowCommand(uint32_t count, char** words);
uint32_t hbaShowUsage();
