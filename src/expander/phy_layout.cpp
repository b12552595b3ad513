#include "expander/phy_layout.h"

#include "targets/expander_models.h"

namespace {

constexpr uint32_t kGen1ControlBase = 0x50008000;
constexpr uint32_t kGen1QuadStride = 0x10000;
constexpr uint32_t kGen1PhyStride = 0x400;
constexpr uint32_t kGen2ControlBase = 0x50080000;
constexpr uint32_t kGen2ClusterStride = 0x100000;
constexpr uint32_t kGen2LaneStride = 0x4000;
constexpr uint32_t kPhysicalStatusBase = 0xC0000000;
constexpr uint32_t kVirtualStatusBase = 0xB0000000;
constexpr uint32_t kStatusStride = 0x100000;

// Block offsets: {first generation, second generation}.
struct BlockOffset {
    uint32_t gen1;
    uint32_t gen2;
};
constexpr BlockOffset kControlWord{0x18, 0x60};
constexpr BlockOffset kErrorCounters{0x30, 0xC0};
constexpr BlockOffset kPhyRecord{0x30, 0x60};

// Runs of consecutive phys mapped onto consecutive lanes of one cluster.
struct LaneRun {
    uint32_t firstPhy;
    uint32_t lastPhy;
    uint32_t cluster;
    uint32_t firstLane;
};
constexpr LaneRun kPhyLaneMap[] = {
    {0, 3, 3, 4},   {4, 11, 0, 0},  {12, 19, 1, 0}, {20, 27, 2, 0},
    {28, 31, 3, 0}, {32, 39, 4, 0}, {40, 47, 5, 0}, {48, 51, 0, 0},
};

bool blockAddress(uint32_t family, uint32_t phy, const BlockOffset& offset, uint32_t* address) {
    uint32_t base = 0;
    if (!phyControlBase(family, phy, &base))
        return false;
    *address = base + (isSecondGeneration(family) ? offset.gen2 : offset.gen1);
    return true;
}

}  // namespace

uint32_t phyCountFromRegister(uint32_t family, uint32_t registerValue) {
    if (family == 13)
        return 27;
    if (family == 12)
        return 31;
    return (registerValue >> 16) & 0x7F;
}

bool phyLane(uint32_t phy, uint32_t* cluster, uint32_t* lane) {
    for (const LaneRun& run : kPhyLaneMap) {
        if (phy >= run.firstPhy && phy <= run.lastPhy) {
            *cluster = run.cluster;
            *lane = run.firstLane + (phy - run.firstPhy);
            return true;
        }
    }
    return false;
}

bool phyControlBase(uint32_t family, uint32_t phy, uint32_t* base) {
    if (!isSecondGeneration(family)) {
        *base = phyLinkConfigBase(phy);
        return true;
    }
    uint32_t cluster = 0;
    uint32_t lane = 0;
    if (!phyLane(phy, &cluster, &lane))
        return false;
    *base = kGen2ControlBase + cluster * kGen2ClusterStride + lane * kGen2LaneStride;
    return true;
}

bool phyControlWordAddress(uint32_t family, uint32_t phy, uint32_t* address) {
    return blockAddress(family, phy, kControlWord, address);
}
bool phyErrorCounterAddress(uint32_t family, uint32_t phy, uint32_t* address) {
    return blockAddress(family, phy, kErrorCounters, address);
}
bool phyRecordAddress(uint32_t family, uint32_t phy, uint32_t* address) {
    return blockAddress(family, phy, kPhyRecord, address);
}

uint32_t phyLinkConfigBase(uint32_t phy) {
    return kGen1ControlBase + (phy / 4) * kGen1QuadStride + (phy % 4) * kGen1PhyStride;
}

uint32_t phyStatusBase(uint32_t phy, uint32_t count) {
    if (isVirtualPhy(phy, count))
        return kVirtualStatusBase + (phy % 4) * kStatusStride;
    return kPhysicalStatusBase + phy * kStatusStride;
}

bool virtualPhyStatusBase(uint32_t phy, uint32_t count, uint32_t* base) {
    if (!isVirtualPhy(phy, count) || phy >= count)
        return false;
    *base = kVirtualStatusBase + (phy - (count - kVirtualPhyCount)) * kStatusStride;
    return true;
}
