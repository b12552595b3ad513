#include "expander/route_entry.h"

namespace {

constexpr uint32_t kVirtualPhys = 3;
// Bits 16..18 of the high map belong to the virtual phys.
constexpr uint32_t kHighPhysicalBits = 16;
constexpr uint32_t kFirstVirtualBit = 18;

}  // namespace

size_t routedPhys(uint32_t w4, uint32_t w5, uint32_t phyCount, uint32_t* phys, size_t capacity) {
    const uint32_t firstVirtual = phyCount >= kVirtualPhys ? phyCount - kVirtualPhys : 0;
    size_t n = 0;
    for (uint32_t k = 0; k < phyCount && n < capacity; ++k) {
        bool set = false;
        if (k < 32)
            set = ((w4 >> k) & 1) != 0;
        else if (k >= firstVirtual)
            set = ((w5 >> (kFirstVirtualBit - (k - firstVirtual))) & 1) != 0;
        else if (k - 32 < kHighPhysicalBits)
            set = ((w5 >> (k - 32)) & 1) != 0;
        if (set)
            phys[n++] = k;
    }
    return n;
}
