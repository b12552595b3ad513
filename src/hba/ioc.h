// HBA `ioc`: the WWID, discovery errors, the SAS and PCIe IO unit settings
// kept in NVRAM, and the IOC and Port Facts replies.
#pragma once

#include <cstdint>

#include "shell/byte_buffer.h"

struct AdapterRecord;
struct Target;

uint32_t hbaIocCommand(uint32_t count, char** words);
uint32_t hbaIocUsage();

// Shared by the ioc sources: one page read the way ioc reads them (the size
// from a header request, then the page into a zeroed buffer of that size).
struct IocPage {
    ByteBuffer bytes;
    uint32_t length = 0;  // bytes of the page actually held
};
enum class IocPageStep { Ok, Header, Allocate, Read };
// *status receives the library status of the failing step.
IocPageStep readIocPage(const AdapterRecord* adapter, uint8_t type, uint8_t number, uint8_t ext,
                        uint32_t selector, IocPage* page, uint32_t* status);
uint32_t writeIocPage(const AdapterRecord* adapter, uint8_t type, uint8_t number, uint8_t ext,
                      uint32_t selector, IocPage* page);

// Asks the phy question of the settings prompts: 0 with *phy (== count for
// all phys), 3 when ENTER ends the phy questions, 1 when input gave up.
uint32_t askPhySelection(uint32_t count, uint32_t* phy);
// One numeric question; 0 answered, 3 ENTER, 1 gave up (reported).
uint32_t askSetting(const char* prompt, uint32_t max, bool allowEnter, uint32_t* value);

// -displaypcie / -configpcie (ioc_pcie.cpp).
uint32_t iocPcieSettings(const Target* target, const AdapterRecord* adapter, bool configure);
