// Flash regions, configuration pages, booting and the saved device state.
//
// Regions 0x80..0x89 are flash: buffer 0x00 writes and reads the active
// firmware region 0x81, buffer 0xE3 is the manufacturing region 0x83 whole.
// The manufacturing region and persistent region 0x84 hold page records;
// at boot the expander runs the first firmware region (0x81, then backup
// 0x82) whose signatures are valid, takes its SAS address from the active
// page 0xFE00 of the manufacturing region and loads its running pages from
// both regions. Page reads with region selector 1 or 2 read the flash as it
// is now; selector 0 reads the running pages.
#include <algorithm>
#include <cstdio>

#include "expander/expander_node.h"
#include "images/images.h"
#include "images/le_bytes.h"

namespace qemu::expander {

namespace {

constexpr size_t kIdentifySize = 256;
constexpr size_t kManufacturing = 3;  // region index of 0x83
constexpr size_t kPersistent1 = 4;
constexpr size_t kPersistent2 = 5;

// Rate words for programmed limits min..max (codes 9..11).
void rateWords(uint8_t minRate, uint8_t maxRate, uint32_t* w4, uint32_t* w8) {
    const bool r3 = minRate <= kRate3G && maxRate >= kRate3G;
    const bool r6 = minRate <= kRate6G && maxRate >= kRate6G;
    const bool r12 = maxRate >= kRate12G;
    *w4 = std::min<uint32_t>(minRate, kRate6G) | (std::min<uint32_t>(maxRate, kRate6G) << 4) |
          (r3 ? 1u << 9 : 0) | (r6 || r12 ? 1u << 10 : 0);
    *w8 = 0xC0000000u | (r3 ? 0x300000u : 0) | (r6 ? 0xC0000u : 0) | (r12 ? 0x30000u : 0);
}

std::string hexOf(const std::vector<uint8_t>& data) {
    std::string out;
    out.reserve(data.size() * 2);
    char two[3];
    for (uint8_t b : data) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

bool lastActivePage(const std::vector<uint8_t>& region, uint16_t number,
                    std::vector<uint8_t>* page) {
    bool found = false;
    for (const images::ParsedRecord& r : images::parsePageImage(region.data(), region.size())) {
        if ((r.marker & 1) != 0 && r.checksumOk && r.number == number) {
            *page = r.page;
            found = true;
        }
    }
    return found;
}

void collectPages(const std::vector<uint8_t>& region,
                  std::map<uint16_t, std::vector<uint8_t>>* pages) {
    for (const images::ParsedRecord& r : images::parsePageImage(region.data(), region.size())) {
        if ((r.marker & 1) != 0 && r.checksumOk) {
            (*pages)[r.number] = r.page;
        }
    }
}

}  // namespace

ExpanderNode::ExpanderNode(ExpanderConfig config, EmuServices& services)
    : config_(std::move(config)),
      services_(services),
      currentSg_(config_.sg),
      runningSas_(config_.sasAddress) {
    buildLaneMap(gen2LaneToPhy_, config_.phyCount);
    phys_.resize(static_cast<size_t>(config_.phyCount));
    for (size_t i = 0; i < phys_.size(); ++i) {
        const PhyConfig& c = config_.phys[i];
        rateWords(c.minRate.value_or(kRate3G), c.maxRate.value_or(kRate12G), &phys_[i].linkWord4,
                  &phys_[i].linkWord8);
    }
    createRegions();
    if (config_.healthLogCapacity > 0) {  // 0: an empty log buffer
        healthLog_ = images::buildHealthLog(config_.healthLog, config_.healthLogCapacity);
    }
    const std::string text = images::renderHealthLogText(config_.healthLog);
    healthText_.assign(text.begin(), text.end());
    if (config_.healthTextBytes) {
        healthText_ = *config_.healthTextBytes;
    }
    trace_ = images::buildTraceBuffer(config_.trace);
    if (config_.traceCapacity) {
        trace_.resize(*config_.traceCapacity, 0);
    }
    if (config_.traceBytes) {
        trace_ = *config_.traceBytes;
    }
    if (!loadRuntime()) {
        bootFromFlash();
        resetVolatile(true);
    }
}

std::string ExpanderNode::stateKey(const std::string& what) const {
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "exp-%016llx-",
                  static_cast<unsigned long long>(config_.sasAddress));
    return prefix + what;
}

std::vector<uint8_t> ExpanderNode::initialRegion(size_t index) const {
    const RegionConfig& rc = config_.regions[index];
    std::vector<uint8_t> bytes;
    if (rc.contents) {
        bytes = *rc.contents;
    } else if (index <= 2) {
        images::FirmwareImageOptions fw;
        fw.deviceId = config_.deviceId;
        fw.productName = index == 0 ? "QX-BOOT" : config_.model;
        fw.version = index == 0   ? config_.bootloaderVersion
                     : index == 1 ? config_.firmwareVersion
                                  : config_.backupFirmwareVersion;
        fw.length = index == 0 ? 0x4000 : 0x10000;
        fw.seed = static_cast<uint32_t>(0x80 + index);
        bytes = images::buildFirmwareImage(fw);
    } else if (index == kManufacturing) {
        images::PageImageOptions image;
        auto add = [&image](std::vector<uint8_t> page) {
            image.records.push_back({std::move(page), images::kRecordActive, false});
        };
        add(images::sasAddressPage(images::kPageSasAddress, config_.sasAddress));
        add(images::sasAddressPage(images::kPageReportGeneral, config_.sasAddress));
        add(images::serialPage(config_.serial, config_.boardId));
        add(images::enclosurePage(config_.enclosureId, 24));
        if (config_.family != 5) {
            add(images::macPage(config_.mac));
        }
        add(images::manufacturingPage(config_.manufacturing));
        for (const auto& page : config_.extraManufacturingPages) {
            add(page);
        }
        bytes = images::buildPageImage(image);
    } else if (index == kPersistent1) {
        uint64_t enable = 0;
        uint64_t limit = 0;
        for (size_t p = 0; p < config_.phys.size(); ++p) {
            enable |= config_.phys[p].edfb ? 1ull << p : 0;
            limit |= config_.phys[p].errorLimit ? 1ull << p : 0;
        }
        images::PageImageOptions image;
        auto add = [&image](std::vector<uint8_t> page) {
            image.records.push_back({std::move(page), images::kRecordActive, false});
        };
        add(images::ioSettingsPage(static_cast<uint8_t>(config_.phyCount), 0x1));
        add(images::edfbPage(enable, limit));
        if (config_.family != 5) {
            add(images::networkPage(config_.ip, config_.dhcp));
        }
        for (const auto& page : config_.extraPersistentPages) {
            add(page);
        }
        bytes = images::buildPageImage(image);
    }
    bytes.resize(rc.capacity, 0xFF);
    return bytes;
}

void ExpanderNode::createRegions() {
    char name[32];
    for (size_t i = 0; i < regions_.size(); ++i) {
        std::snprintf(name, sizeof name, "region-%02zx", 0x80 + i);
        std::vector<uint8_t> saved;
        if (services_.loadState(stateKey(name), &saved)) {
            saved.resize(config_.regions[i].capacity, 0xFF);
            regions_[i] = std::move(saved);
        } else {
            regions_[i] = initialRegion(i);
        }
    }
}

std::vector<uint8_t>* ExpanderNode::dataBuffer(uint8_t buffer, bool* writable, bool* empty) {
    *writable = false;
    *empty = false;
    size_t region = regions_.size();
    if (buffer == 0x00) {
        region = 1;
    } else if (buffer >= 0x80 && buffer <= 0x89) {
        region = buffer - 0x80u;
    } else if (buffer == 0xE3) {
        region = kManufacturing;
    }
    if (region < regions_.size()) {
        *writable = true;
        *empty = config_.regions[region].empty;
        return &regions_[region];
    }
    switch (buffer) {
        case 0xE5:
            *empty = config_.healthLogEmpty;
            return &healthLog_;
        case 0xEA:
            *empty = config_.healthLogEmpty;
            return &healthText_;
        case 0xE7:
            *empty = config_.traceEmpty;
            return &trace_;
        default:
            return nullptr;
    }
}

void ExpanderNode::regionWritten(uint8_t buffer) {
    size_t region = buffer == 0x00 ? 1 : buffer == 0xE3 ? kManufacturing : buffer - 0x80u;
    if (region >= regions_.size()) {
        return;
    }
    char name[32];
    std::snprintf(name, sizeof name, "region-%02zx", 0x80 + region);
    services_.saveState(stateKey(name), regions_[region]);
}

void ExpanderNode::bootFromFlash() {
    const std::vector<uint8_t>* image = &regions_[1];
    for (size_t i : {size_t{1}, size_t{2}}) {
        if (images::firmwareSignatureValid(regions_[i].data(), regions_[i].size())) {
            image = &regions_[i];
            break;
        }
    }
    runningFirmware_.assign(kIdentifySize, 0xFF);
    std::copy_n(image->begin(), std::min(kIdentifySize, image->size()), runningFirmware_.begin());

    runtimePages_.clear();
    collectPages(regions_[kManufacturing], &runtimePages_);
    collectPages(regions_[kPersistent1], &runtimePages_);
    auto sasPage = runtimePages_.find(images::kPageSasAddress);
    if (sasPage != runtimePages_.end() && sasPage->second.size() >= 12) {
        const uint8_t* p = sasPage->second.data();
        runningSas_ = (static_cast<uint64_t>(bytes::getLe32(p + 4)) << 32) | bytes::getLe32(p + 8);
    }
    for (uint16_t number : {images::kPageSasAddress, images::kPageReportGeneral}) {
        auto it = runtimePages_.find(number);
        if (it != runtimePages_.end() && it->second.size() >= 12) {
            bytes::putLe32(it->second.data() + 4, static_cast<uint32_t>(runningSas_ >> 32));
            bytes::putLe32(it->second.data() + 8, static_cast<uint32_t>(runningSas_));
        }
    }
}

void ExpanderNode::resetVolatile(bool keepCounters) {
    for (size_t i = 0; i < phys_.size(); ++i) {
        PhyState& s = phys_[i];
        s.disabled = config_.phys[i].disabled;
        s.pending = 0;
        s.counters = keepCounters ? config_.phys[i].counters : std::array<uint32_t, 4>{};
    }
    for (size_t i = 0; i < phys_.size(); ++i) {
        phys_[i].negotiated = negotiate(static_cast<int>(i));
    }
    edfb_.fill(0);
    for (size_t p = 0; p < config_.phys.size(); ++p) {
        const bool isVirtual = static_cast<int>(p) >= config_.phyCount - 3;
        const uint32_t bit = 1u << (p % 32);
        if (config_.phys[p].edfb) {
            edfb_[p < 32 ? 0 : 1] |= bit;
        }
        if (!isVirtual) {
            edfb_[p < 32 ? 2 : 3] |= bit;
        }
    }
    ram_.clear();
    tempControl_ = 0x115;
    tempEnable04_ = tempEnable14_ = tempStatus10_ = 0;
    tempArmed_ = false;
    routeIndex_ = 0;
    routeWords_.fill(0);
}

bool ExpanderNode::findPage(uint16_t number, uint8_t region, std::vector<uint8_t>* page) const {
    if (region == 0) {
        auto it = runtimePages_.find(number);
        if (it == runtimePages_.end()) {
            return false;
        }
        *page = it->second;
        return true;
    }
    if (region == 2) {
        return lastActivePage(regions_[kManufacturing], number, page);
    }
    return lastActivePage(regions_[kPersistent1], number, page) ||
           lastActivePage(regions_[kPersistent2], number, page);
}

void ExpanderNode::saveRuntime() {
    nlohmann::json j;
    char sas[24];
    std::snprintf(sas, sizeof sas, "0x%016llx", static_cast<unsigned long long>(runningSas_));
    j["sasAddress"] = sas;
    j["firmware"] = hexOf(runningFirmware_);
    nlohmann::json pages = nlohmann::json::object();
    for (const auto& [number, bytes] : runtimePages_) {
        pages[std::to_string(number)] = hexOf(bytes);
    }
    j["pages"] = pages;
    nlohmann::json phys = nlohmann::json::array();
    for (const PhyState& s : phys_) {
        phys.push_back({{"disabled", s.disabled},
                        {"linkWord4", s.linkWord4},
                        {"linkWord8", s.linkWord8},
                        {"counters", s.counters}});
    }
    j["phys"] = phys;
    // A reset the previous process did not see through is finished by the
    // time the next one starts.
    j["resetPending"] = away_;
    const std::string text = j.dump();
    services_.saveState(stateKey("runtime"), std::vector<uint8_t>(text.begin(), text.end()));
}

bool ExpanderNode::loadRuntime() {
    std::vector<uint8_t> saved;
    if (!services_.loadState(stateKey("runtime"), &saved)) {
        return false;
    }
    try {
        const nlohmann::json j = nlohmann::json::parse(saved.begin(), saved.end());
        const std::vector<uint8_t> firmware = jsonHexBytes(j.at("firmware"), "saved firmware");
        const nlohmann::json& phys = j.at("phys");
        if (firmware.size() != kIdentifySize || phys.size() != phys_.size()) {
            return false;
        }
        std::map<uint16_t, std::vector<uint8_t>> pages;
        for (auto it = j.at("pages").begin(); it != j.at("pages").end(); ++it) {
            pages[static_cast<uint16_t>(std::stoul(it.key()))] =
                jsonHexBytes(it.value(), "saved page");
        }
        std::vector<PhyState> restored(phys_.size());
        for (size_t i = 0; i < restored.size(); ++i) {
            restored[i].disabled = phys[i].at("disabled").get<bool>();
            restored[i].linkWord4 = phys[i].at("linkWord4").get<uint32_t>();
            restored[i].linkWord8 = phys[i].at("linkWord8").get<uint32_t>();
            restored[i].counters = phys[i].at("counters").get<std::array<uint32_t, 4>>();
        }
        runningSas_ = jsonNumber(j.at("sasAddress"), "saved sasAddress");
        runningFirmware_ = firmware;
        runtimePages_ = std::move(pages);
        resetVolatile(true);
        for (size_t i = 0; i < phys_.size(); ++i) {
            phys_[i].disabled = restored[i].disabled;
            phys_[i].linkWord4 = restored[i].linkWord4;
            phys_[i].linkWord8 = restored[i].linkWord8;
            phys_[i].counters = restored[i].counters;
        }
        for (size_t i = 0; i < phys_.size(); ++i) {
            phys_[i].negotiated = negotiate(static_cast<int>(i));
        }
        if (j.value("resetPending", false)) {
            bootFromFlash();
            resetVolatile(false);
            pendingUnitAttention_ = true;
            saveRuntime();
        }
        return true;
    } catch (const std::exception&) {
        services_.logLine(stateKey("runtime") + ": unreadable saved state ignored");
        return false;
    }
}

}  // namespace qemu::expander
