// Which phys a route table entry leads to, from its two phy map words.
// Pure, so that every phy count up to the 127 the count register allows is
// checked without a device.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kMaxRoutedPhys = 128;

// Stores the entry's phys in ascending order into phys (room for capacity)
// and returns how many there are, for an expander of phyCount phys whose
// last three are virtual. Phys below 32 use bit k of w4; a physical phy k
// from 32 uses bit k - 32 of w5 below bit 16; the virtual phys count-3,
// count-2 and count-1, when 32 or above, use bits 18, 17 and 16 of w5.
size_t routedPhys(uint32_t w4, uint32_t w5, uint32_t phyCount, uint32_t* phys, size_t capacity);
