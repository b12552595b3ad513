// Phy arguments of the HBA commands (`phy`, `reset`): a phy number is one or
// two decimal digits below the adapter's phy count; a range is "a" or "a-b"
// with a <= b. Each check reports its own error and returns 1.
#pragma once

#include <cstdint>

// The last phy of a selection that names a single phy.
inline constexpr int kSinglePhy = 255;

// 0 with *phy; 1 after "Invalid Phy parameter specified." (not all digits,
// or empty) or "Invalid Phy number specified. Phy number is not in the
// range." (longer than two digits, or not below phyCount).
uint32_t checkPhyNumber(const char* text, uint32_t phyCount, int* phy);

// 0 with *first and *last (kSinglePhy for "a" and for "a-a"); 1 after
// reporting: a text that is not one or two pieces split at '-' ("Invalid Phy
// number specified. Provide a valid Phy number."), a piece that fails
// checkPhyNumber (an empty piece, as in "3-" or "-3", included), or a first
// phy above the last ("Invalid Phy range specified.").
uint32_t parsePhyRange(const char* text, uint32_t phyCount, int* first, int* last);
