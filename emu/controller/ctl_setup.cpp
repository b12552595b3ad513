// Controller chip table and the "controllers" topology parser.
#include "ctl_setup.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

#include "expander/expander_config.h"

namespace qemu::ctl {
namespace {

constexpr ChipRow kChips[] = {
    {0x0410, "QSC2008", false, false, 5, 0x0105, kQuarlenVendorId},
    {0x0411, "QSC2108", false, false, 5, 0x0105, kQuarlenVendorId},
    {0x0418, "QFA2116", false, false, 5, 0x0105, kQuarlenVendorId},
    {0x0520, "QSC3008", true, false, 7, 0x0205, kQuarlenVendorId},
    {0x0521, "QSC3108", true, false, 7, 0x0205, kQuarlenVendorId},
    {0x0528, "QSC3216", true, true, 7, 0x0206, kQuarlenVendorId},
    {0x0630, "QSC3408", true, true, 8, 0x0206, kQuarlenVendorId},
    {0x0631, "QSC3416", true, true, 9, 0x0206, kQuarlenVendorId},
    {0x0632, "QSC3616", true, true, 10, 0x0206, kQuarlenVendorId},
    {0x0070, "OV1600", false, false, 5, 0x0105, kOtherVendorId},
    {0x0071, "OV1800", false, false, 5, 0x0105, kOtherVendorId},
};
constexpr ChipRow kUnknownChip = {0, "Unknown", false, false, 5, 0x0105, kQuarlenVendorId};

struct BoardRow {
    uint16_t deviceId;
    uint8_t revision;
    const char* model;
};
constexpr BoardRow kBoards[] = {
    {0x0410, 0x01, "QS-9200-8e"},  {0x0411, 0x02, "QS-9210-8i"},  {0x0520, 0x02, "QS-9300-8i"},
    {0x0521, 0x01, "QS-9305-16i"}, {0x0521, 0x02, "QS-9305-24i"}, {0x0528, 0x01, "QS-9311-8i"},
    {0x0528, 0x03, "QS-9316-16e"}, {0x0630, 0x01, "QS-9400-8i"},  {0x0631, 0x01, "QS-9400-16i"},
    {0x0418, 0x01, "QS-FA116"},
};

// Numbers may be written as JSON integers or as "0x..." / decimal strings.
bool readNumber(const nlohmann::json& j, uint64_t* out) {
    if (j.is_number_unsigned() || j.is_number_integer()) {
        *out = j.get<uint64_t>();
        return true;
    }
    if (j.is_string()) {
        const std::string s = j.get<std::string>();
        if (s.empty())
            return false;
        char* end = nullptr;
        const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
        if (end == nullptr || *end != '\0')
            return false;
        *out = v;
        return true;
    }
    return false;
}

// A number is checked against its field's range before it is narrowed to it:
// one that does not fit, or is not a number, is refused, never wrapped.
template <typename T>
void num(const nlohmann::json& obj, const char* key, T* field) {
    if (!obj.is_object() || !obj.contains(key))
        return;
    const nlohmann::json& j = obj[key];
    const auto refuse = [&](const char* why) {
        throw std::invalid_argument(std::string("topology controllers: ") + key + " " + why +
                                    ", got " + j.dump());
    };
    if (j.is_number_integer() && !j.is_number_unsigned()) {
        const int64_t v = j.get<int64_t>();
        if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
            (v > 0 && static_cast<uint64_t>(v) > std::numeric_limits<T>::max())) {
            refuse("is out of range");
        }
        *field = static_cast<T>(v);
        return;
    }
    uint64_t v = 0;
    if (!readNumber(j, &v))
        refuse("must be a number");
    if (v > static_cast<uint64_t>(std::numeric_limits<T>::max()))
        refuse("is out of range");
    *field = static_cast<T>(v);
}

void text(const nlohmann::json& obj, const char* key, std::string* field) {
    if (obj.is_object() && obj.contains(key) && obj[key].is_string()) {
        *field = obj[key].get<std::string>();
    }
}

// Phy counts of the expander chips, by device ID and by family code, for
// expanders the "scsi" section names without an explicit phy count.
struct ExpanderChip {
    uint16_t deviceId;
    int family;
    int phys;
};
constexpr ExpanderChip kExpanderChips[] = {
    {0x0A10, 1, 12},  {0x0A20, 2, 24},  {0x0A30, 3, 36},  {0x0A40, 4, 28}, {0x0A50, 5, 16},
    {0x0A60, 6, 36},  {0x0A60, 7, 36},  {0x0B10, 8, 24},  {0x0B20, 9, 36}, {0x0B30, 10, 48},
    {0x0B40, 11, 40}, {0x0B50, 12, 31}, {0x0B60, 13, 27},
};

// Finds the expander with this SAS address among topology["scsi"]["expanders"]
// and takes its phy count from the entry or from its chip.
void lookUpExpander(const nlohmann::json& scsi, LinkSetup* link) {
    if (!scsi.is_object() || !scsi.contains("expanders") || !scsi["expanders"].is_array())
        return;
    for (const auto& e : scsi["expanders"]) {
        uint64_t sas = 0;
        if (!e.is_object() || !e.contains("sasAddress") || !readNumber(e["sasAddress"], &sas) ||
            sas != link->expanderSas) {
            continue;
        }
        // A bare entry (no sg node) describes no expander SMP can reach.
        try {
            link->model =
                std::make_shared<const expander::ExpanderConfig>(expander::parseExpanderConfig(e));
        } catch (const std::exception&) {
            link->model = nullptr;
        }
        uint64_t value = 0;
        for (const char* key : {"phyCount", "numPhys", "phys"}) {
            if (e.contains(key) && readNumber(e[key], &value)) {
                link->expanderPhyCount = static_cast<int>(value);
                return;
            }
        }
        for (const ExpanderChip& chip : kExpanderChips) {
            if ((e.contains("deviceId") && readNumber(e["deviceId"], &value) &&
                 value == chip.deviceId) ||
                (e.contains("family") && readNumber(e["family"], &value) &&
                 static_cast<int>(value) == chip.family)) {
                link->expanderPhyCount = chip.phys;
                return;
            }
        }
        return;
    }
}

// Regions a download or an upload can name; the whole-flash view (10) is
// assembled, not stored.
bool seedableRegion(uint64_t type) {
    return type <= 11 && type != 3 && type != 4 && type != 10;
}

// A test names the flash contents it needs; a file that cannot be read is a
// broken topology, not an empty region.
void readRegionFiles(const nlohmann::json& files, ControllerSetup* s) {
    if (!files.is_object())
        throw std::runtime_error("\"regionFiles\" must be an object of region type to file");
    for (const auto& [type, path] : files.items()) {
        uint64_t region = 0;
        if (!readNumber(nlohmann::json(type), &region) || !seedableRegion(region))
            throw std::runtime_error("regionFiles: no region \"" + type + "\" to seed");
        if (!path.is_string())
            throw std::runtime_error("regionFiles: region " + type + " needs a file name");
        std::ifstream in(path.get<std::string>(), std::ios::binary);
        if (!in.is_open())
            throw std::runtime_error("regionFiles: cannot open " + path.get<std::string>());
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        if (in.bad())
            throw std::runtime_error("regionFiles: cannot read " + path.get<std::string>());
        s->regionSeeds[static_cast<uint8_t>(region == 1 ? 0 : region)] = std::move(bytes);
    }
}

FaultSpec parseFault(const nlohmann::json& f) {
    FaultSpec fault;
    text(f, "kind", &fault.kind);
    num(f, "status", &fault.status);
    num(f, "logInfo", &fault.logInfo);
    num(f, "errno", &fault.errnoValue);
    num(f, "function", &fault.function);
    num(f, "pageType", &fault.pageType);
    num(f, "extPageType", &fault.extPageType);
    num(f, "pageNumber", &fault.pageNumber);
    num(f, "action", &fault.action);
    num(f, "imageType", &fault.imageType);
    num(f, "size", &fault.size);
    num(f, "address", &fault.address);
    num(f, "skip", &fault.skip);
    num(f, "times", &fault.times);
    num(f, "imageType", &fault.imageType);
    num(f, "offset", &fault.offset);
    num(f, "request", &fault.request);
    if (fault.kind == "iocFactsStatus") {
        fault.kind = "frameStatus";
        fault.function = 0x03;
        if (fault.status == 0)
            fault.status = 0x0001;
    }
    return fault;
}

// "phyEventCodes": {"<phy>": [codes]}; "logEntries": [{time, seq, qualifier,
// data: [7 words]}]. Malformed pieces are skipped.
void parseEventsAndLog(const nlohmann::json& a, ControllerSetup* s) {
    if (a.contains("phyEventCodes") && a["phyEventCodes"].is_object()) {
        for (const auto& [phy, codes] : a["phyEventCodes"].items()) {
            uint64_t p = 0;
            if (!readNumber(nlohmann::json(phy), &p) || p >= 64 || !codes.is_array())
                continue;
            std::vector<uint8_t>& list = s->phyEventCodes[static_cast<int>(p)];
            for (const auto& c : codes) {
                uint64_t v = 0;
                if (readNumber(c, &v) && list.size() < 32)
                    list.push_back(static_cast<uint8_t>(v));
            }
        }
    }
    if (a.contains("logEntries") && a["logEntries"].is_array()) {
        s->hasLogEntries = true;
        for (const auto& e : a["logEntries"]) {
            if (!e.is_object() || s->logEntries.size() >= 64)
                continue;
            LogEntrySpec entry;
            num(e, "time", &entry.time);
            num(e, "seq", &entry.seq);
            num(e, "qualifier", &entry.qualifier);
            if (e.contains("data") && e["data"].is_array()) {
                size_t w = 0;
                for (const auto& d : e["data"]) {
                    uint64_t v = 0;
                    if (w < 7 && readNumber(d, &v))
                        entry.data[w] = static_cast<uint32_t>(v);
                    ++w;
                }
            }
            s->logEntries.push_back(entry);
        }
    }
}

ControllerSetup parseOne(const nlohmann::json& a, const nlohmann::json& scsi, size_t index) {
    ControllerSetup s;
    s.node = "/dev/xol3ctl";
    text(a, "node", &s.node);
    num(a, "ioc", &s.ioc);
    num(a, "deviceId", &s.deviceId);
    num(a, "revision", &s.revision);
    const ChipRow& chip = chipFor(s.deviceId);
    s.vendorId = chip.vendorId;
    s.subsystemVendorId = chip.vendorId;
    s.subsystemDeviceId = static_cast<uint16_t>(0x3000 | (s.deviceId & 0x0FFF));
    s.boardName = "";
    for (const BoardRow& b : kBoards) {
        if (b.deviceId == s.deviceId && b.revision == s.revision)
            s.boardName = b.model;
    }
    if (s.boardName.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "QS-%04X-%02X", s.deviceId, s.revision);
        s.boardName = name;
    }
    s.firmwareName = std::string(chip.chipName) + "-IT";
    // Our boards on the chip shared with other makers carry the board model
    // string at the start of the chip name field.
    s.mfgChipName = s.deviceId == 0x0411 ? "QSBD2108" : chip.chipName;
    s.packageName = s.boardName + " IT package";
    char assembly[32];
    std::snprintf(assembly, sizeof assembly, "QA-%04X-%03u", s.deviceId, s.revision);
    s.boardAssembly = assembly;
    s.wwid = kWwidPrefix | (static_cast<uint64_t>(index + 1) << 16);
    s.scsiId = static_cast<uint8_t>(index);
    s.pciBus = static_cast<uint32_t>(3 + index);
    if (!hasPcie(chip)) {
        s.pcieWidth = 8;
        s.pcieSpeed = chip.xif25 ? 2 : 1;
        s.linkRate = 0xA;
        s.uefiVersion = chip.xif25 ? s.uefiVersion : 0;
    }
    num(a, "vendorId", &s.vendorId);
    num(a, "subsystemVendorId", &s.subsystemVendorId);
    num(a, "subsystemDeviceId", &s.subsystemDeviceId);
    num(a, "wwid", &s.wwid);
    num(a, "phys", &s.phys);
    if (s.phys < 0)
        s.phys = 0;
    if (s.phys > 64)
        s.phys = 64;
    num(a, "firmwareVersion", &s.firmwareVersion);
    s.packageVersion = s.firmwareVersion;
    num(a, "packageVersion", &s.packageVersion);
    num(a, "nvdataVersion", &s.nvdataVersion);
    s.nvdataPersistentVersion = s.nvdataVersion;
    num(a, "nvdataPersistentVersion", &s.nvdataPersistentVersion);
    num(a, "biosVersion", &s.biosVersion);
    num(a, "uefiVersion", &s.uefiVersion);
    num(a, "biosPcirRevision", &s.biosPcirRevision);
    num(a, "productId", &s.productId);
    text(a, "chipRevision", &s.chipRevisionText);
    text(a, "mfgChipName", &s.mfgChipName);
    text(a, "boardName", &s.boardName);
    text(a, "boardAssembly", &s.boardAssembly);
    text(a, "boardTracer", &s.boardTracer);
    text(a, "driverVersion", &s.driverVersion);
    text(a, "firmwareName", &s.firmwareName);
    text(a, "packageName", &s.packageName);
    if (a.contains("pci") && a["pci"].is_object()) {
        num(a["pci"], "bus", &s.pciBus);
        num(a["pci"], "device", &s.pciDevice);
        num(a["pci"], "function", &s.pciFunction);
    }
    num(a, "scsiId", &s.scsiId);
    if (a.contains("pcieLink") && a["pcieLink"].is_object()) {
        num(a["pcieLink"], "width", &s.pcieWidth);
        num(a["pcieLink"], "speed", &s.pcieSpeed);
    }
    if (a.contains("temperatures") && a["temperatures"].is_object()) {
        num(a["temperatures"], "ioc", &s.iocTemperature);
        num(a["temperatures"], "board", &s.boardTemperature);
        num(a["temperatures"], "units", &s.temperatureUnits);
    }
    num(a, "linkRate", &s.linkRate);
    num(a, "resetMs", &s.resetMs);
    num(a, "resetRefusals", &s.resetRefusals);
    num(a, "diagMaxBytes", &s.diagMaxBytes);
    num(a, "eventEntries", &s.eventEntries);
    if (a.contains("links") && a["links"].is_array()) {
        for (const auto& l : a["links"]) {
            LinkSetup link;
            if (l.contains("phys") && l["phys"].is_array()) {
                for (const auto& p : l["phys"]) {
                    uint64_t v = 0;
                    if (readNumber(p, &v) && static_cast<int>(v) < s.phys) {
                        link.phys.push_back(static_cast<int>(v));
                    }
                }
            }
            num(l, "expander", &link.expanderSas);
            num(l, "firstExpanderPhy", &link.firstExpanderPhy);
            lookUpExpander(scsi, &link);
            num(l, "expanderPhys", &link.expanderPhyCount);
            num(l, "deviceInfo", &link.deviceInfo);
            if (!link.phys.empty() && link.expanderSas != 0)
                s.links.push_back(link);
        }
    }
    if (a.contains("nvme") && a["nvme"].is_array() && hasPcie(chip)) {
        int n = 0;
        for (const auto& d : a["nvme"]) {
            NvmeSpec nvme;
            nvme.wwid = s.wwid + 0x100 + static_cast<uint64_t>(n++);
            num(d, "link", &nvme.link);
            num(d, "wwid", &nvme.wwid);
            text(d, "vendor", &nvme.vendor);
            text(d, "product", &nvme.product);
            text(d, "revision", &nvme.revision);
            s.nvme.push_back(nvme);
        }
    }
    num(a, "ports", &s.ports);
    num(a, "iocCapabilities", &s.iocCapabilities);
    if (a.contains("discovery") && a["discovery"].is_object()) {
        for (const auto& [phy, d] : a["discovery"].items()) {
            uint64_t n = 0;
            if (!readNumber(nlohmann::json(phy), &n) || n >= 64 || !d.is_object())
                continue;
            DiscoverySpec outcome;
            num(d, "status", &outcome.status);
            outcome.inProgress = d.contains("inProgress") && d["inProgress"].is_boolean() &&
                                 d["inProgress"].get<bool>();
            s.discovery[static_cast<int>(n)] = outcome;
        }
    }
    parseDrives(a, scsi, &s);
    num(a, "xifVersion", &s.xifVersion);
    parseEventsAndLog(a, &s);
    if (a.contains("faults") && a["faults"].is_array()) {
        for (const auto& f : a["faults"]) {
            s.faults.push_back(parseFault(f));
        }
    }
    if (a.contains("regionFiles"))
        readRegionFiles(a["regionFiles"], &s);
    char key[40];
    std::snprintf(key, sizeof key, "hba-%016llx", static_cast<unsigned long long>(s.wwid));
    s.stateKey = key;
    text(a, "stateKey", &s.stateKey);
    return s;
}

}  // namespace

const ChipRow& chipFor(uint16_t deviceId) {
    for (const ChipRow& row : kChips) {
        if (row.deviceId == deviceId)
            return row;
    }
    return kUnknownChip;
}

bool isKnownChip(uint16_t deviceId) {
    return chipFor(deviceId).deviceId == deviceId;
}

std::vector<ControllerSetup> parseControllers(const nlohmann::json& topology) {
    std::vector<ControllerSetup> out;
    if (!topology.is_object() || !topology.contains("controllers"))
        return out;
    const nlohmann::json& section = topology["controllers"];
    if (!section.is_object() || !section.contains("adapters") || !section["adapters"].is_array()) {
        return out;
    }
    const nlohmann::json scsi = topology.contains("scsi") ? topology["scsi"] : nlohmann::json();
    size_t index = 0;
    for (const auto& a : section["adapters"]) {
        if (!a.is_object())
            continue;
        ControllerSetup setup = parseOne(a, scsi, index++);
        if (setup.ioc > 254)
            continue;  // the driver numbers IOCs 0..254
        out.push_back(std::move(setup));
    }
    return out;
}

}  // namespace qemu::ctl
