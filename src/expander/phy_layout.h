// Where a phy's registers live. First-generation expanders (family codes 1
// to 7) lay phy control blocks out four to a 64 KiB window; second-generation
// ones (8 to 13) place each phy in a cluster and lane. Pure arithmetic, no
// device access.
#pragma once

#include <cstdint>

inline constexpr uint32_t kPhyCountRegister = 0xC3800104;
// Phys numbered count-3 .. count-1 are virtual.
inline constexpr uint32_t kVirtualPhyCount = 3;
// Phys a second-generation expander can address through its lane map.
inline constexpr uint32_t kPhyLaneMapSize = 52;

// Value of the phy control word of a disabled phy, and the commands written to it.
inline constexpr uint32_t kPhyControlLinkReset = 1;
inline constexpr uint32_t kPhyControlHardReset = 2;
inline constexpr uint32_t kPhyControlDisable = 3;

// The phy count for the family from the phy count register value.
uint32_t phyCountFromRegister(uint32_t family, uint32_t registerValue);

// Cluster and lane of a second-generation phy; false beyond the lane map.
bool phyLane(uint32_t phy, uint32_t* cluster, uint32_t* lane);

// Base of the phy's control block in the family's scheme; false when the phy
// has no control block (second generation, beyond the lane map).
bool phyControlBase(uint32_t family, uint32_t phy, uint32_t* base);
// Addresses inside the control block. False as for phyControlBase.
bool phyControlWordAddress(uint32_t family, uint32_t phy, uint32_t* address);
bool phyErrorCounterAddress(uint32_t family, uint32_t phy, uint32_t* address);
bool phyRecordAddress(uint32_t family, uint32_t phy, uint32_t* address);

// Link configuration block: the first-generation formula on every family.
uint32_t phyLinkConfigBase(uint32_t phy);

inline bool isVirtualPhy(uint32_t phy, uint32_t count) {
    return count >= kVirtualPhyCount && phy >= count - kVirtualPhyCount;
}
// Phy status window: physical phys by number, virtual phys by number mod 4.
uint32_t phyStatusBase(uint32_t phy, uint32_t count);
// The link-rate query's form for virtual phys: count-3..count-1 map to the
// first three virtual windows; false for any other phy.
bool virtualPhyStatusBase(uint32_t phy, uint32_t count, uint32_t* base);
