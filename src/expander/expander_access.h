// The layer every expander command stands on: address-mapped memory and
// register access, configuration pages, the phy count and phy arguments, the
// phy primitives and the expander reset with rediscovery. All of it works on
// the current target, which must be an expander; statuses are 0 for success
// and 1 for failure. Transport failures are reported by the transport.
#pragma once

#include <cstdint>

#include "shell/byte_buffer.h"

struct Target;

// The current target when it is an expander, else nullptr.
Target* currentExpander();

// Writes `length` bytes of memory with WRITE BUFFER (mode 1, buffer 0xC2).
uint32_t writeChipRegister(Target* target, uint32_t address, const uint8_t* data, uint32_t length);
// Writes a 32-bit register, least significant byte first.
uint32_t writeRegisterValue(Target* target, uint32_t address, uint32_t value);
// Reads a 32-bit little-endian register into *value.
uint32_t readRegisterValue(Target* target, uint32_t address, uint32_t* value);

// Page region selectors of the page read.
inline constexpr uint8_t kPageRegionNone = 0;
inline constexpr uint8_t kPageRegionPersistent = 1;
inline constexpr uint8_t kPageRegionManufacturing = 2;
void buildPageCdb(uint8_t* cdb, uint16_t page, uint16_t allocationLength, uint8_t region);
// Reads the whole page: its length from the first four bytes, then the page.
// 1 on a transport failure, or after "Unable to allocate memory.".
uint32_t readExpanderPage(Target* target, uint16_t page, uint8_t region, ByteBuffer* out,
                          uint32_t* length);

// Phy count of the current expander; 1 only when the register read fails.
uint32_t getPhyCount(uint32_t* count);
// One phy argument: one or two decimal digits, below the phy count.
// 1 after reporting why not.
uint32_t checkPhyNumber(const char* text, int32_t* phy);
// "N" or "N-M": *last is -1 for a single phy (also for N-N). 1 after reporting.
uint32_t parsePhyList(const char* text, int32_t* first, int32_t* last);

// False when the phy is disabled, and when its control word cannot be read.
bool isPhyEnabled(uint32_t phy);

// Phy primitives. 0 success; 1 when a write fails, the phy has no control
// block, or (resets) the command bit stayed set after 500 ms.
uint32_t linkResetPhy(uint32_t phy);
uint32_t hardResetPhy(uint32_t phy);
uint32_t clearPhyErrorCounters(uint32_t phy);
// Writes the disable command and reads the control word back into *readBack
// for the caller to check.
uint32_t disablePhy(uint32_t phy, uint32_t* readBack);

enum class ResetPurpose : uint32_t {
    Reset,          // reset -e and downloads: the expander keeps its address
    AddressChange,  // the expander comes back with a new SAS address
};
inline constexpr uint32_t kRediscoveryAttempts = 20;
inline constexpr uint32_t kRediscoveryPauseMs = 2000;
// Resets the current expander, then rescans until an expander with the match
// address appears and makes it current. 1 when the reset request fails or it
// does not come back (no target is current then).
uint32_t resetExpander(uint64_t matchAddress, ResetPurpose purpose);
