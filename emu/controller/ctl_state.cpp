// Saving and restoring what a controller keeps across host processes: the
// current and NVRAM copies of its settings pages, its flash regions and the
// firmware bookkeeping (pending download, running versions).
#include "ctl_controller.h"

namespace qemu::ctl {
namespace {

constexpr uint32_t kPagesMagic = 0x31475051;  // "QPG1"
constexpr uint32_t kMiscMagic = 0x31534D51;   // "QMS1"
constexpr uint8_t kSavedRegions[] = {0, 2, 5, 6, 7, 8, 11};

void append32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::string regionKey(const std::string& base, uint8_t type) {
    return base + "-region-" + std::to_string(type);
}

}  // namespace

void Controller::loadState() {
    Bytes blob;
    if (services_.loadState(setup_.stateKey + "-pages", &blob) && blob.size() >= 8 &&
        get32(blob, 0) == kPagesMagic) {
        const uint32_t count = get32(blob, 4);
        size_t at = 8;
        for (uint32_t i = 0; i < count && at + 8 <= blob.size(); ++i) {
            const uint32_t key = get32(blob, at);
            const uint32_t size = get32(blob, at + 4);
            at += 8;
            if (at + 2ull * size > blob.size())
                break;
            const auto it = settings_.find(key);
            // A page whose layout changed since it was saved keeps its defaults.
            if (it != settings_.end() && it->second.defaults.size() == size) {
                it->second.current.assign(blob.begin() + at, blob.begin() + at + size);
                it->second.nvram.assign(blob.begin() + at + size, blob.begin() + at + 2 * size);
            }
            at += 2ull * size;
        }
    }
    for (uint8_t type : kSavedRegions) {
        Bytes bytes;
        if (services_.loadState(regionKey(setup_.stateKey, type), &bytes)) {
            *mutableRegion(type) = std::move(bytes);
        }
    }
    Bytes misc;
    if (services_.loadState(setup_.stateKey + "-misc", &misc) && misc.size() >= 20 &&
        get32(misc, 0) == kMiscMagic) {
        pendingFirmware_ = get32(misc, 4) != 0;
        runningFw_ = get32(misc, 8);
        nvdataDefault_ = get32(misc, 12);
        nvdataPersistent_ = get32(misc, 16);
    }
    loadHostBuffers();
    loadEvents();
}

void Controller::savePages() {
    Bytes blob;
    append32(blob, kPagesMagic);
    append32(blob, static_cast<uint32_t>(settings_.size()));
    for (const auto& [key, page] : settings_) {
        append32(blob, key);
        append32(blob, static_cast<uint32_t>(page.defaults.size()));
        blob.insert(blob.end(), page.current.begin(), page.current.end());
        blob.insert(blob.end(), page.nvram.begin(), page.nvram.end());
    }
    services_.saveState(setup_.stateKey + "-pages", blob);
}

void Controller::saveRegion(uint8_t imageType) {
    const uint8_t stored = imageType == 1 ? 0 : imageType;
    const Bytes* bytes = region(stored);
    if (bytes != nullptr)
        services_.saveState(regionKey(setup_.stateKey, stored), *bytes);
}

void Controller::saveMisc() {
    Bytes misc;
    append32(misc, kMiscMagic);
    append32(misc, pendingFirmware_ ? 1 : 0);
    append32(misc, runningFw_);
    append32(misc, nvdataDefault_);
    append32(misc, nvdataPersistent_);
    services_.saveState(setup_.stateKey + "-misc", misc);
}

}  // namespace qemu::ctl
