// The expander's address-mapped registers (READ/WRITE BUFFER mode 1, buffer
// 0xC2). Every 32-bit word an access touches must lie in a mapped window;
// words without a special meaning behave as RAM (zero until written).
//
// Windows:
//   0xC3800000 +0x1000  chip control: 0x2C chip ID, 0x54..0x60 EDFB words,
//                       0x104 phy count
//   0xC0000000 + p*0x100000 +0x1000  status of physical phy p: 0x40 link
//                       block (words 2/3 hold the expander's SAS address, so
//                       0xC0000048/4C are the SAS address registers),
//                       0x154 zoning, 0x1E0 EDFB timing
//   0xB0000000 + (p%4)*0x100000 +0x1000  status of virtual phy p
//   0x50008000 + (p/4)*0x10000 + (p%4)*0x400 +0x400  link configuration of
//                       phy p (+4 rate codes, +8 rate enables); on the first
//                       generation also its control block (+0x18 control
//                       word, +0x30 error counters)
//   0x50080000 + cluster*0x100000 + lane*0x4000 +0x4000  second-generation
//                       control block (+0x60 control word, +0xC0 counters)
//   0x43400000 +0x100   temperature sensor
//   0xA0000000 +0x100   route table window
//   0x20000000 +0x10000 scratch RAM
#include <algorithm>
#include <limits>

#include "expander/expander_node.h"
#include "images/le_bytes.h"

namespace qemu::expander {

namespace {

constexpr uint32_t kChipBase = 0xC3800000;
constexpr uint32_t kStatusBase = 0xC0000000;
constexpr uint32_t kVirtualBase = 0xB0000000;
constexpr uint32_t kLinkConfigBase = 0x50008000;
constexpr uint32_t kGen2ControlBase = 0x50080000;
constexpr uint32_t kTemperatureBase = 0x43400000;
constexpr uint32_t kRouteBase = 0xA0000000;
constexpr uint32_t kSramBase = 0x20000000;

constexpr uint32_t kRateBits3G = 0x3u << 20;
constexpr uint32_t kRateBits6G = 0x3u << 18;
constexpr uint32_t kRateBits12G = 0x3u << 16;

// PhyLaneMap rows: first phy, count, cluster, first lane.
const struct {
    int firstPhy, count, cluster, firstLane;
} kLaneMap[] = {{0, 4, 3, 4},  {4, 8, 0, 0},  {12, 8, 1, 0}, {20, 8, 2, 0},
                {28, 4, 3, 0}, {32, 8, 4, 0}, {40, 8, 5, 0}, {48, 4, 0, 0}};

}  // namespace

void buildLaneMap(std::array<int, 64>& map, int phyCount) {
    map.fill(-1);
    for (const auto& row : kLaneMap) {
        for (int k = 0; k < row.count; ++k) {
            int phy = row.firstPhy + k;
            if (phy < phyCount) {
                map[static_cast<size_t>(row.cluster * 8 + row.firstLane + k)] = phy;
            }
        }
    }
}

ExpanderNode::Decoded ExpanderNode::decode(uint32_t address) const {
    const int count = config_.phyCount;
    const int firstVirtual = count - 3;
    Decoded d;
    auto in = [address](uint32_t base, uint32_t size) {
        return address >= base && address - base < size;
    };
    if (in(kChipBase, 0x1000)) {
        return {Area::Chip, -1, address - kChipBase};
    }
    if (in(kTemperatureBase, 0x100)) {
        return {Area::Temperature, -1, address - kTemperatureBase};
    }
    if (in(kRouteBase, 0x100)) {
        return {Area::Route, -1, address - kRouteBase};
    }
    if (in(kSramBase, 0x10000)) {
        return {Area::Sram, -1, address - kSramBase};
    }
    if (address >= kStatusBase && address < 0xC3800000) {
        uint32_t phy = (address - kStatusBase) / 0x100000;
        uint32_t offset = (address - kStatusBase) % 0x100000;
        if (static_cast<int>(phy) < firstVirtual && offset < 0x1000) {
            return {Area::Status, static_cast<int>(phy), offset};
        }
        return d;
    }
    if (address >= kVirtualBase && address < kVirtualBase + 0x400000) {
        uint32_t slot = (address - kVirtualBase) / 0x100000;
        uint32_t offset = (address - kVirtualBase) % 0x100000;
        if (offset >= 0x1000) {
            return d;
        }
        for (int phy = firstVirtual; phy < count; ++phy) {
            if (static_cast<uint32_t>(phy % 4) == slot) {
                return {Area::VirtualStatus, phy, offset};
            }
        }
        // The slot no virtual phy claims by phy % 4 answers for the virtual
        // phy of the positional form (count-3, count-2, count-1).
        if (slot < 3) {
            return {Area::VirtualStatus, firstVirtual + static_cast<int>(slot), offset};
        }
        return d;
    }
    if (config_.generation == 2 && address >= kGen2ControlBase &&
        address < kGen2ControlBase + 8 * 0x100000) {
        uint32_t cluster = (address - kGen2ControlBase) / 0x100000;
        uint32_t within = (address - kGen2ControlBase) % 0x100000;
        uint32_t lane = within / 0x4000;
        uint32_t offset = within % 0x4000;
        if (lane < 8) {
            int phy = gen2LaneToPhy_[cluster * 8 + lane];
            // Control word and counters win over an overlapping link
            // configuration block; the rest falls through.
            if (phy >= 0 &&
                ((offset >= 0x60 && offset < 0x70) || (offset >= 0xC0 && offset < 0xD0))) {
                return {Area::Gen2Control, phy, offset};
            }
        }
    }
    if (address >= kLinkConfigBase) {
        uint32_t rel = address - kLinkConfigBase;
        uint32_t group = rel / 0x10000;
        uint32_t within = rel % 0x10000;
        if (within < 0x1000) {
            int phy = static_cast<int>(group * 4 + within / 0x400);
            if (phy < count) {
                return {Area::LinkConfig, phy, within % 0x400};
            }
        }
    }
    if (config_.generation == 2 && address >= kGen2ControlBase &&
        address < kGen2ControlBase + 8 * 0x100000) {
        uint32_t cluster = (address - kGen2ControlBase) / 0x100000;
        uint32_t lane = ((address - kGen2ControlBase) % 0x100000) / 0x4000;
        if (lane < 8 && gen2LaneToPhy_[cluster * 8 + lane] >= 0) {
            return {Area::Gen2Control, gen2LaneToPhy_[cluster * 8 + lane],
                    (address - kGen2ControlBase) % 0x4000};
        }
    }
    return d;
}

bool ExpanderNode::decodeRange(uint32_t address, size_t length,
                               std::vector<Decoded>* decoded) const {
    if (address > std::numeric_limits<uint32_t>::max() - length) {
        return false;
    }
    for (size_t off = 0; off < length; off += 4) {
        Decoded d = decode(address + static_cast<uint32_t>(off));
        if (d.area == Area::None) {
            return false;
        }
        decoded->push_back(d);
    }
    return true;
}

bool ExpanderNode::readMemory(uint32_t address, uint8_t* out, size_t length) {
    std::vector<Decoded> decoded;
    if (!decodeRange(address, length, &decoded)) {
        return false;
    }
    for (size_t i = 0; i < decoded.size(); ++i) {
        uint32_t a = address + static_cast<uint32_t>(4 * i);
        bytes::putLe32(out + 4 * i, scriptedValue(a, readWord(a, decoded[i])));
    }
    return true;
}

uint32_t ExpanderNode::scriptedValue(uint32_t address, uint32_t value) {
    for (RegisterValues& r : config_.faults.registerValues) {
        if (r.address != address) {
            continue;
        }
        if (r.skip > 0) {
            --r.skip;
        } else if (r.next < r.values.size()) {
            noteFault("registerValues");
            return r.values[r.next++];
        }
    }
    return value;
}

bool ExpanderNode::writeMemory(uint32_t address, const uint8_t* in, size_t length) {
    std::vector<Decoded> decoded;
    if (!decodeRange(address, length, &decoded)) {
        return false;
    }
    for (size_t i = 0; i < decoded.size(); ++i) {
        writeWord(address + static_cast<uint32_t>(4 * i), decoded[i], bytes::getLe32(in + 4 * i));
    }
    return true;
}

void ExpanderNode::settlePhy(int phy) {
    PhyState& s = phys_[static_cast<size_t>(phy)];
    if (s.pending != 0 && services_.nowNs() >= s.completeAtNs) {
        s.pending = 0;
        s.negotiated = negotiate(phy);
        ++s.changeCount;
    }
}

void ExpanderNode::rateLimits(int phy, uint8_t* minRate, uint8_t* maxRate) const {
    const uint32_t w8 = phys_[static_cast<size_t>(phy)].linkWord8;
    uint8_t lo = 0;
    uint8_t hi = 0;
    const struct {
        uint32_t bits;
        uint8_t code;
    } kRates[] = {{kRateBits3G, kRate3G}, {kRateBits6G, kRate6G}, {kRateBits12G, kRate12G}};
    for (const auto& rate : kRates) {
        if ((w8 & rate.bits) != 0) {
            if (lo == 0) {
                lo = rate.code;
            }
            hi = rate.code;
        }
    }
    if (lo == 0) {  // nothing enabled: the chip falls back to everything it can do
        lo = kRate3G;
        hi = kRate12G;
    }
    const uint8_t hardwareMax = config_.generation == 2 ? kRate12G : kRate6G;
    *minRate = std::min(lo, hardwareMax);
    *maxRate = std::min(hi, hardwareMax);
}

uint8_t ExpanderNode::negotiate(int phy) const {
    const PhyState& s = phys_[static_cast<size_t>(phy)];
    const PhyConfig& c = config_.phys[static_cast<size_t>(phy)];
    if (s.disabled) {
        return 1;  // phy disabled
    }
    const bool isVirtual = phy >= config_.phyCount - 3;
    if (!c.attached) {
        return isVirtual ? (config_.generation == 2 ? kRate12G : kRate6G) : 0;
    }
    uint8_t lo = 0;
    uint8_t hi = 0;
    rateLimits(phy, &lo, &hi);
    const uint32_t w8 = s.linkWord8;
    for (uint8_t rate = std::min(hi, c.attached->maxRate); rate >= lo && rate >= kRate3G; --rate) {
        uint32_t bits = rate == kRate3G   ? kRateBits3G
                        : rate == kRate6G ? kRateBits6G
                                          : kRateBits12G;
        if ((w8 & (kRateBits3G | kRateBits6G | kRateBits12G)) == 0 || (w8 & bits) != 0) {
            return rate;
        }
    }
    return 0;  // no common rate: no link
}

bool ExpanderNode::linked(int phy) const {
    const PhyState& s = phys_[static_cast<size_t>(phy)];
    return s.negotiated >= kRate1G5 && config_.phys[static_cast<size_t>(phy)].attached.has_value();
}

uint32_t ExpanderNode::linkBlockWord(int phy, uint32_t word) {
    settlePhy(phy);
    const PhyState& s = phys_[static_cast<size_t>(phy)];
    const PhyConfig& c = config_.phys[static_cast<size_t>(phy)];
    const bool up = linked(phy);
    switch (word) {
        case 0:
            return static_cast<uint32_t>(phy) | ((s.changeCount & 0xFF) << 16);
        case 1: {
            uint32_t w = static_cast<uint32_t>(s.negotiated & 0xF) << 16;
            if (up) {
                w |= c.attached->protocols |
                     (static_cast<uint32_t>(c.attached->deviceType & 7) << 28);
            }
            return w;
        }
        case 2:
            return static_cast<uint32_t>(runningSas_ >> 32);
        case 3:
            return static_cast<uint32_t>(runningSas_);
        case 4:
            return up ? static_cast<uint32_t>(c.attached->sasAddress >> 32) : 0;
        case 5:
            return up ? static_cast<uint32_t>(c.attached->sasAddress) : 0;
        case 6:
            return up ? static_cast<uint32_t>(c.attached->phyId) << 24 : 0;
        case 8: {
            uint8_t lo = 0;
            uint8_t hi = 0;
            rateLimits(phy, &lo, &hi);
            // Bytes 32/33 programmed limits; 34/35 hardware maximum and
            // minimum: the first generation reports what the silicon can do,
            // the second its programmed window.
            uint8_t hwMax = config_.generation == 2 ? hi : kRate6G;
            uint8_t hwMin = config_.generation == 2 ? lo : kRate1G5;
            return lo | (hi << 8) | (static_cast<uint32_t>(hwMax) << 16) |
                   (static_cast<uint32_t>(hwMin) << 24);
        }
        case 9:
            return static_cast<uint32_t>(c.routing & 0xF) << 24;
        default:
            return 0;
    }
}

uint32_t ExpanderNode::phyControlWord(int phy) {
    settlePhy(phy);
    const PhyState& s = phys_[static_cast<size_t>(phy)];
    if (s.disabled) {
        return 3;
    }
    return static_cast<uint32_t>(s.pending);
}

void ExpanderNode::phyControlWrite(int phy, uint32_t value) {
    settlePhy(phy);
    PhyState& s = phys_[static_cast<size_t>(phy)];
    const uint32_t action = value & 3;
    if (action == 0) {
        return;
    }
    if (action == 3) {
        s.disabled = true;
        s.pending = 0;
        s.negotiated = 1;
        ++s.changeCount;
        saveRuntime();
        return;
    }
    const bool wasDisabled = s.disabled;
    s.disabled = false;
    s.pending = static_cast<int>(action);
    const auto& stuck = config_.faults.stuckPhys;
    if (std::find(stuck.begin(), stuck.end(), phy) != stuck.end()) {
        s.completeAtNs = std::numeric_limits<uint64_t>::max();
    } else {
        uint64_t ms = action == 1 ? config_.linkResetMs : config_.hardResetMs;
        s.completeAtNs = services_.nowNs() + ms * 1000000u;
    }
    if (wasDisabled) {
        saveRuntime();
    }
}

bool ExpanderNode::sensorOn() const {
    return (tempControl_ & 0x114) == 0 && (tempEnable04_ & 1) != 0 && (tempEnable14_ & 1) != 0;
}

uint32_t ExpanderNode::temperatureRaw() const {
    // Invert t = ((raw * 723 - 265000) / 100 + 130) / 10 by search.
    uint32_t best = 0;
    for (uint32_t raw = 367; raw < 1024; ++raw) {
        uint32_t t = ((raw * 723u - 265000u) / 100u + 130u) / 10u;
        if (static_cast<int>(t) <= config_.temperatureC) {
            best = raw;
        }
    }
    return best;
}

void ExpanderNode::loadRouteEntry() {
    routeWords_.fill(0);
    for (const RouteEntry& e : config_.routes) {
        if (e.index != routeIndex_) {
            continue;
        }
        routeWords_[0] = static_cast<uint32_t>(e.sasAddress);
        routeWords_[1] = static_cast<uint32_t>(e.sasAddress >> 32);
        routeWords_[2] = e.state;
        const int n = config_.phyCount;
        for (int phy : e.phys) {
            if (phy >= n - 3 && phy >= 32) {
                routeWords_[5] |= 1u << (18 - (phy - (n - 3)));
            } else if (phy < 32) {
                routeWords_[4] |= 1u << phy;
            } else {
                routeWords_[5] |= 1u << (phy - 32);
            }
        }
    }
}

uint32_t ExpanderNode::readWord(uint32_t address, const Decoded& d) {
    switch (d.area) {
        case Area::Chip:
            if (d.offset == 0x2C) {
                return (static_cast<uint32_t>(config_.deviceId) << 16) |
                       (static_cast<uint32_t>(config_.revision) << 8) |
                       (config_.variant ? 0x40 : 0) | 0x05;
            }
            if (d.offset == 0x104) {
                return config_.phyCountRegister;
            }
            if (d.offset >= 0x54 && d.offset < 0x64) {
                return edfb_[(d.offset - 0x54) / 4];
            }
            break;
        case Area::Status:
        case Area::VirtualStatus: {
            const PhyConfig& c = config_.phys[static_cast<size_t>(d.phy)];
            if (d.offset >= 0x40 && d.offset < 0x74) {
                return linkBlockWord(d.phy, (d.offset - 0x40) / 4);
            }
            if (d.offset == 0x154) {
                return c.zoneGroup ? (1u << 24) | *c.zoneGroup : 0;
            }
            if (d.offset == 0x1E0) {
                return (c.switchTimeout & 0x1FFu) | ((c.fastPathTimeout & 0x1FFu) << 12) |
                       (static_cast<uint32_t>(c.maxLatency) << 24);
            }
            if (d.offset == 0x1E4 || d.offset == 0x1E8) {
                return 0;
            }
            break;
        }
        case Area::LinkConfig: {
            PhyState& s = phys_[static_cast<size_t>(d.phy)];
            if (d.offset == 4) {
                return s.linkWord4;
            }
            if (d.offset == 8) {
                return s.linkWord8;
            }
            if (config_.generation == 1) {
                if (d.offset == 0x18) {
                    return phyControlWord(d.phy);
                }
                if (d.offset >= 0x30 && d.offset < 0x40) {
                    return s.counters[(d.offset - 0x30) / 4];
                }
            }
            break;
        }
        case Area::Gen2Control: {
            PhyState& s = phys_[static_cast<size_t>(d.phy)];
            if (d.offset == 0x60) {
                return phyControlWord(d.phy);
            }
            if (d.offset == 0x64) {
                return linked(d.phy) ? 0x80000000u | s.negotiated : s.negotiated;
            }
            if (d.offset >= 0xC0 && d.offset < 0xD0) {
                return s.counters[(d.offset - 0xC0) / 4];
            }
            break;
        }
        case Area::Temperature:
            switch (d.offset) {
                case 0x00:
                    return tempControl_;
                case 0x04:
                    return tempEnable04_;
                case 0x0C:
                    if (tempArmed_ && sensorOn()) {
                        tempArmed_ = false;
                        ++tempSequence_;
                        return temperatureRaw() | ((tempSequence_ & 0xFF) << 16);
                    }
                    return 0;
                case 0x10:
                    return tempStatus10_ | ((tempArmed_ && sensorOn()) ? 1 : 0);
                case 0x14:
                    return tempEnable14_;
                default:
                    break;
            }
            break;
        case Area::Route:
            if (d.offset == 0x08) {
                return routeIndex_;
            }
            if (d.offset >= 0x20 && d.offset < 0x38) {
                return routeWords_[(d.offset - 0x20) / 4];
            }
            break;
        case Area::Sram:
        case Area::None:
            break;
    }
    auto it = ram_.find(address);
    return it == ram_.end() ? 0 : it->second;
}

void ExpanderNode::writeWord(uint32_t address, const Decoded& d, uint32_t value) {
    switch (d.area) {
        case Area::Chip:
            if (d.offset == 0x2C || d.offset == 0x104) {
                return;  // read only
            }
            if (d.offset >= 0x54 && d.offset < 0x64) {
                edfb_[(d.offset - 0x54) / 4] = value;
                return;
            }
            break;
        case Area::Status:
        case Area::VirtualStatus:
            if ((d.offset >= 0x40 && d.offset < 0x74) || d.offset == 0x154 ||
                (d.offset >= 0x1E0 && d.offset < 0x1EC)) {
                return;  // status is read only
            }
            break;
        case Area::LinkConfig: {
            PhyState& s = phys_[static_cast<size_t>(d.phy)];
            if (d.offset == 4 || d.offset == 8) {
                (d.offset == 4 ? s.linkWord4 : s.linkWord8) = value;
                saveRuntime();
                return;
            }
            if (config_.generation == 1) {
                if (d.offset == 0x18) {
                    phyControlWrite(d.phy, value);
                    return;
                }
                if (d.offset >= 0x30 && d.offset < 0x40) {
                    s.counters[(d.offset - 0x30) / 4] = 0;  // any write clears
                    saveRuntime();
                    return;
                }
            }
            break;
        }
        case Area::Gen2Control: {
            PhyState& s = phys_[static_cast<size_t>(d.phy)];
            if (d.offset == 0x60) {
                phyControlWrite(d.phy, value);
                return;
            }
            if (d.offset == 0x64) {
                return;
            }
            if (d.offset >= 0xC0 && d.offset < 0xD0) {
                s.counters[(d.offset - 0xC0) / 4] = 0;
                saveRuntime();
                return;
            }
            break;
        }
        case Area::Temperature:
            switch (d.offset) {
                case 0x00:
                    tempControl_ = value;
                    return;
                case 0x04:
                    tempEnable04_ = value;
                    return;
                case 0x0C:
                    return;
                case 0x10:
                    tempStatus10_ = value & ~1u;
                    if ((value & 1) != 0) {
                        tempArmed_ = true;
                    }
                    return;
                case 0x14:
                    tempEnable14_ = value;
                    return;
                default:
                    break;
            }
            break;
        case Area::Route:
            if (d.offset == 0x08) {
                routeIndex_ = value;
                return;
            }
            if (d.offset == 0x0C) {
                if (value == 0x24) {
                    loadRouteEntry();
                }
                ram_[address] = value;
                return;
            }
            if (d.offset >= 0x20 && d.offset < 0x38) {
                return;
            }
            break;
        case Area::Sram:
        case Area::None:
            break;
    }
    ram_[address] = value;
}

}  // namespace qemu::expander
