// The drives a controller sees, from the topology: its own "devices", the
// end and SATA devices on the expanders its links name, and one enclosure
// services target per linked expander. An expander entry the expander model
// would refuse contributes no drives; the controller still starts.
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <vector>

#include "ctl_setup.h"
#include "expander/expander_config.h"

namespace qemu::ctl {
namespace {

using nlohmann::json;

// Attached device types of a phy's link block.
constexpr int kEdgeExpander = 2;
constexpr int kFanoutExpander = 3;

bool jsonNumber(const json& j, uint64_t* out) {
    if (j.is_number_unsigned() || (j.is_number_integer() && j.get<int64_t>() >= 0)) {
        *out = j.get<uint64_t>();
        return true;
    }
    if (j.is_string()) {
        const std::string s = j.get<std::string>();
        char* end = nullptr;
        *out = std::strtoull(s.c_str(), &end, 0);
        return !s.empty() && end != nullptr && *end == '\0';
    }
    return false;
}

// "phy": 5 or "phy": "4-15".
bool phyRange(const json& entry, int* first, int* last) {
    if (!entry.is_object() || !entry.contains("phy"))
        return false;
    const json& p = entry["phy"];
    uint64_t v = 0;
    if (jsonNumber(p, &v)) {
        *first = *last = static_cast<int>(v);
        return true;
    }
    if (!p.is_string())
        return false;
    const std::string s = p.get<std::string>();
    const size_t dash = s.find('-');
    if (dash == std::string::npos)
        return false;
    *first = std::atoi(s.substr(0, dash).c_str());
    *last = std::atoi(s.substr(dash + 1).c_str());
    return *first <= *last;
}

// The "drive" object an expander's phy entries give for one phy.
void applyPhyDrive(const json& expander, int phy, drive::DriveProfile* profile) {
    if (!expander.contains("phys") || !expander["phys"].is_array())
        return;
    for (const json& entry : expander["phys"]) {
        int first = 0;
        int last = 0;
        if (!phyRange(entry, &first, &last) || phy < first || phy > last)
            continue;
        if (entry.contains("attached") && entry["attached"].is_object() &&
            entry["attached"].contains("drive")) {
            drive::applyDriveObject(entry["attached"]["drive"], profile);
        }
    }
}

const json* findExpander(const json& scsi, uint64_t sasAddress) {
    if (!scsi.is_object() || !scsi.contains("expanders") || !scsi["expanders"].is_array())
        return nullptr;
    for (const json& e : scsi["expanders"]) {
        uint64_t sas = 0;
        if (e.is_object() && e.contains("sasAddress") && jsonNumber(e["sasAddress"], &sas) &&
            sas == sasAddress) {
            return &e;
        }
    }
    return nullptr;
}

void addExpanderDrives(const json& scsi, const json& entry, int link, uint64_t expanderSas,
                       std::set<uint64_t>* seen, ControllerSetup* s) {
    // Each expander once, however the cascade is cabled (a loop or two
    // ports to the same expander add nothing).
    if (!seen->insert(expanderSas).second)
        return;
    expander::ExpanderConfig config;
    try {
        config = expander::parseExpanderConfig(entry);
    } catch (const std::exception&) {
        return;
    }
    std::vector<uint64_t> cascaded;
    for (size_t phy = 0; phy < config.phys.size(); ++phy) {
        const auto& attached = config.phys[phy].attached;
        if (attached && !config.phys[phy].disabled &&
            (attached->deviceType == kEdgeExpander || attached->deviceType == kFanoutExpander)) {
            cascaded.push_back(attached->sasAddress);
        }
        if (!attached || attached->deviceType != 1 || config.phys[phy].disabled)
            continue;
        const bool sata = (attached->protocols & expander::kProtoSata) != 0;
        const bool ssp = (attached->protocols & expander::kProtoSspTarget) != 0;
        if (!sata && !ssp)
            continue;
        DriveSetup d;
        d.sasAddress = attached->sasAddress;
        d.link = link;
        d.phy = static_cast<int>(phy);
        d.profile = drive::defaultDrive(sata ? drive::DriveKind::Sata : drive::DriveKind::Sas,
                                        d.sasAddress);
        applyPhyDrive(entry, d.phy, &d.profile);
        s->drives.push_back(d);
    }
    DriveSetup ses;
    ses.sasAddress = expanderSas;  // the expander's own SSP target
    ses.link = link;
    ses.phy = static_cast<int>(config.phys.size());  // the expander's virtual phy
    ses.profile = drive::defaultDrive(drive::DriveKind::Enclosure, ses.sasAddress);
    ses.profile.vendor = config.vendor.substr(0, 8);
    if (!config.model.empty())
        ses.profile.product = config.model.substr(0, 16);
    s->drives.push_back(ses);
    // The drives of expanders cascaded behind this one come through the same link.
    for (uint64_t sas : cascaded) {
        if (const json* next = findExpander(scsi, sas))
            addExpanderDrives(scsi, *next, link, sas, seen, s);
    }
}

}  // namespace

void parseDrives(const json& a, const json& scsi, ControllerSetup* s) {
    if (a.contains("phyRates") && a["phyRates"].is_array()) {
        for (const json& r : a["phyRates"]) {
            uint64_t v = 0;
            s->phyRates.push_back(jsonNumber(r, &v) ? static_cast<int>(v & 0xF) : -1);
        }
    }
    if (a.contains("devices") && a["devices"].is_array()) {
        for (const json& dev : a["devices"]) {
            uint64_t phy = 0;
            if (!dev.is_object() || !dev.contains("phy") || !jsonNumber(dev["phy"], &phy) ||
                phy >= static_cast<uint64_t>(s->phys)) {
                continue;
            }
            const bool sata = dev.contains("type") && dev["type"] == "sata";
            DriveSetup d;
            d.link = -1;
            d.phy = static_cast<int>(phy);
            d.sasAddress = s->wwid + 0x1000 + phy;
            if (dev.contains("sasAddress"))
                jsonNumber(dev["sasAddress"], &d.sasAddress);
            d.profile = drive::defaultDrive(sata ? drive::DriveKind::Sata : drive::DriveKind::Sas,
                                            d.sasAddress);
            if (dev.contains("drive"))
                drive::applyDriveObject(dev["drive"], &d.profile);
            s->drives.push_back(d);
        }
    }
    std::set<uint64_t> seen;
    for (size_t l = 0; l < s->links.size(); ++l) {
        if (const json* entry = findExpander(scsi, s->links[l].expanderSas))
            addExpanderDrives(scsi, *entry, static_cast<int>(l), s->links[l].expanderSas, &seen, s);
    }
}

}  // namespace qemu::ctl
