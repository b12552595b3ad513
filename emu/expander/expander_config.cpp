// Expander chip table and the parser of one "expanders" entry of the
// topology's "scsi" section (format in docs/emulator-scsi.md).
#include "expander/expander_config.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace qemu::expander {

using nlohmann::json;

namespace {

// The emulator's own copy of the chip table; values agree with the
// management tools' model table by convention, not by sharing code.
const ChipModel kChips[] = {
    {0x0A10, 1, false, "QX-S12", 1, 12},    {0x0A20, 2, false, "QX-S24", 1, 24},
    {0x0A30, 3, false, "QX-S36", 1, 36},    {0x0A40, 4, false, "QX-E28", 1, 28},
    {0x0A50, 5, false, "QX-E16L", 1, 16},   {0x0A60, 6, true, "QX-E36", 1, 36},
    {0x0A60, 7, false, "QX-E36X", 1, 36},   {0x0B10, 8, false, "QX2-S24", 2, 24},
    {0x0B20, 9, false, "QX2-S36", 2, 36},   {0x0B30, 10, false, "QX2-S48", 2, 48},
    {0x0B40, 11, false, "QX2-E40", 2, 40},  {0x0B50, 12, false, "QX2-E31", 2, 31},
    {0x0B60, 13, false, "QX2-E27V", 2, 27},
};

[[noreturn]] void fail(const std::string& message) {
    throw std::invalid_argument("topology scsi: " + message);
}

int countOf(const json& v, const char* what) {
    if (v.is_boolean()) {
        return v.get<bool>() ? 1 : 0;
    }
    if (v.is_object()) {
        return v.contains("count")
                   ? static_cast<int>(static_cast<int64_t>(jsonNumber(v["count"], what)))
                   : 1;
    }
    return static_cast<int>(static_cast<int64_t>(jsonNumber(v, what)));
}

uint64_t numberOr(const json& object, const char* key, uint64_t fallback) {
    return object.contains(key) ? jsonNumber(object[key], key) : fallback;
}

// A number checked against its field's range before it is narrowed to it: a
// value that does not fit is refused, never wrapped (2^33 is not 0).
template <typename T>
T valueAs(const json& value, const char* what, uint64_t max = std::numeric_limits<T>::max()) {
    if (value.is_number_integer() && !value.is_number_unsigned() && value.get<int64_t>() < 0) {
        fail(std::string(what) + " must not be negative");
    }
    const uint64_t number = jsonNumber(value, what);
    if (number > max) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "0x%llX", static_cast<unsigned long long>(max));
        fail(std::string(what) + " above " + limit);
    }
    return static_cast<T>(number);
}

template <typename T>
T numberAs(const json& object, const char* key, T fallback,
           uint64_t max = std::numeric_limits<T>::max()) {
    return object.contains(key) ? valueAs<T>(object[key], key, max) : fallback;
}

std::string stringOr(const json& object, const char* key, const std::string& fallback) {
    if (!object.contains(key)) {
        return fallback;
    }
    if (!object[key].is_string()) {
        fail(std::string(key) + " must be a string");
    }
    return object[key].get<std::string>();
}

uint8_t rateCode(const json& v) {
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        if (s == "1.5")
            return kRate1G5;
        if (s == "3.0" || s == "3")
            return kRate3G;
        if (s == "6.0" || s == "6")
            return kRate6G;
        if (s == "12.0" || s == "12")
            return kRate12G;
    }
    uint64_t code = jsonNumber(v, "rate");
    if (code < kRate1G5 || code > kRate12G) {
        fail("link rate code must be 8..11");
    }
    return static_cast<uint8_t>(code);
}

uint32_t protocolBits(const json& list) {
    static const struct {
        const char* name;
        uint32_t bit;
    } kNames[] = {{"sata", kProtoSata},
                  {"smp-target", kProtoSmpTarget},
                  {"stp-target", kProtoStpTarget},
                  {"ssp-target", kProtoSspTarget},
                  {"port-selector", kProtoPortSelector},
                  {"smp-initiator", kProtoSmpInitiator},
                  {"stp-initiator", kProtoStpInitiator},
                  {"ssp-initiator", kProtoSspInitiator}};
    uint32_t bits = 0;
    for (const json& item : list) {
        bool found = false;
        for (const auto& n : kNames) {
            if (item.is_string() && item.get<std::string>() == n.name) {
                bits |= n.bit;
                found = true;
            }
        }
        if (!found) {
            fail("unknown protocol " + item.dump());
        }
    }
    return bits;
}

AttachedDevice parseAttached(const json& a) {
    AttachedDevice d;
    d.sasAddress = jsonNumber(a.at("sasAddress"), "attached sasAddress");
    const std::string type = stringOr(a, "type", "end");
    if (type == "end") {
        d.deviceType = 1;
        d.protocols = kProtoSspTarget;
    } else if (type == "initiator") {
        d.deviceType = 1;
        d.protocols = kProtoSspInitiator | kProtoStpInitiator | kProtoSmpInitiator;
    } else if (type == "sata") {
        d.deviceType = 1;
        d.protocols = kProtoSata;
    } else if (type == "expander") {
        d.deviceType = 2;
        d.protocols = kProtoSmpTarget;
    } else if (type == "fanout") {
        d.deviceType = 3;
        d.protocols = kProtoSmpTarget;
    } else {
        fail("attached type must be end, initiator, sata, expander or fanout");
    }
    if (a.contains("protocols")) {
        d.protocols = protocolBits(a["protocols"]);
    }
    d.phyId = numberAs<uint8_t>(a, "phy", 0);
    if (a.contains("rate")) {
        d.maxRate = rateCode(a["rate"]);
    }
    return d;
}

uint8_t routingCode(const json& v) {
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        if (s == "direct")
            return 0;
        if (s == "subtractive")
            return 1;
        if (s == "table")
            return 2;
        fail("routing must be direct, subtractive or table");
    }
    return static_cast<uint8_t>(jsonNumber(v, "routing") & 0xF);
}

void parsePhys(const json& list, ExpanderConfig& c) {
    for (const json& p : list) {
        int first = 0;
        int last = 0;
        const json& which = p.at("phy");
        if (which.is_string() && which.get<std::string>().find('-') != std::string::npos) {
            if (std::sscanf(which.get<std::string>().c_str(), "%d-%d", &first, &last) != 2) {
                fail("phy range must read first-last");
            }
        } else {
            first = last = static_cast<int>(jsonNumber(which, "phy"));
        }
        if (first < 0 || last < first || last >= c.phyCount) {
            fail("phy " + which.dump() + " outside 0.." + std::to_string(c.phyCount - 1));
        }
        const uint64_t step = numberOr(p, "sasAddressStep", 0);
        for (int phy = first; phy <= last; ++phy) {
            PhyConfig& pc = c.phys[static_cast<size_t>(phy)];
            const int k = phy - first;
            if (p.contains("attached")) {
                pc.attached = parseAttached(p["attached"]);
                pc.attached->phyId = static_cast<uint8_t>(pc.attached->phyId + k);
                pc.attached->sasAddress += step * static_cast<uint64_t>(k);
            }
            if (p.contains("zoneGroup")) {
                pc.zoneGroup = valueAs<uint8_t>(p["zoneGroup"], "zoneGroup");
            }
            if (p.contains("errors")) {
                const json& e = p["errors"];
                if (!e.is_array() || e.size() != 4) {
                    fail("errors must list four counters");
                }
                for (size_t i = 0; i < 4; ++i) {
                    pc.counters[i] = valueAs<uint32_t>(e[i], "errors");
                }
            }
            if (p.contains("routing")) {
                pc.routing = routingCode(p["routing"]);
            }
            pc.disabled = p.value("disabled", pc.disabled);
            pc.edfb = p.value("edfb", pc.edfb);
            pc.errorLimit = p.value("errorLimit", pc.errorLimit);
            pc.switchTimeout = numberAs<uint16_t>(p, "switchTimeout", pc.switchTimeout);
            pc.fastPathTimeout = numberAs<uint16_t>(p, "fastPathTimeout", pc.fastPathTimeout);
            pc.maxLatency = numberAs<uint8_t>(p, "maxLatency", pc.maxLatency);
            if (p.contains("minRate")) {
                pc.minRate = rateCode(p["minRate"]);
            }
            if (p.contains("maxRate")) {
                pc.maxRate = rateCode(p["maxRate"]);
            }
        }
    }
}

template <size_t N>
std::array<uint8_t, N> parseOctets(const std::string& text, char separator, int base,
                                   const char* what) {
    std::array<uint8_t, N> out{};
    size_t pos = 0;
    for (size_t i = 0; i < N; ++i) {
        size_t used = 0;
        unsigned long v = 0;
        try {
            v = std::stoul(text.substr(pos), &used, base);
        } catch (const std::exception&) {
            fail(std::string("malformed ") + what + " '" + text + "'");
        }
        if (used == 0 || v > 255) {
            fail(std::string("malformed ") + what + " '" + text + "'");
        }
        out[i] = static_cast<uint8_t>(v);
        pos += used;
        if (i + 1 < N) {
            if (pos >= text.size() || text[pos] != separator) {
                fail(std::string("malformed ") + what + " '" + text + "'");
            }
            ++pos;
        }
    }
    if (pos != text.size()) {
        fail(std::string("malformed ") + what + " '" + text + "'");
    }
    return out;
}

bool validDate(unsigned year, unsigned month, unsigned day) {
    static const unsigned kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1])
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month != 2 || day <= 28 || leap;
}

void parseManufacturing(const json& m, images::ManufacturingInfo& info) {
    info.firmwareRevision = numberAs<uint32_t>(m, "firmwareRevision", info.firmwareRevision);
    info.manufacturingRevision = numberAs<uint32_t>(m, "revision", info.manufacturingRevision);
    info.productName = stringOr(m, "productName", info.productName);
    info.platformName = stringOr(m, "platformName", info.platformName);
    // The page's 16-bit length covers its 34 fixed bytes and the platform name.
    if (info.platformName.size() > 0xFFFF - 34) {
        fail("platformName of " + std::to_string(info.platformName.size()) +
             " characters does not fit the manufacturing page");
    }
    if (m.contains("date")) {
        const std::string date = stringOr(m, "date", "");
        unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0;
        int used = 0;
        const char* const kShape = "dddd-dd-dd dd:dd";
        bool shaped = date.size() == std::strlen(kShape);
        for (size_t i = 0; shaped && i < date.size(); ++i) {
            shaped = kShape[i] == 'd' ? date[i] >= '0' && date[i] <= '9' : date[i] == kShape[i];
        }
        if (!shaped ||
            std::sscanf(date.c_str(), "%4u-%2u-%2u %2u:%2u%n", &y, &mo, &d, &h, &mi, &used) != 5) {
            fail("manufacturing date must read YYYY-MM-DD HH:MM");
        }
        if (!validDate(y, mo, d) || h > 23 || mi > 59) {
            fail("manufacturing date '" + date + "' does not exist");
        }
        info.year = y % 100;
        info.month = mo;
        info.day = d;
        info.hour = h;
        info.minute = mi;
    }
}

void parseRegions(const json& regions, ExpanderConfig& c) {
    for (auto it = regions.begin(); it != regions.end(); ++it) {
        uint64_t id = jsonNumber(json(it.key()), "region id");
        if (id < 0x80 || id > 0x89) {
            fail("region ids are 0x80..0x89");
        }
        RegionConfig& r = c.regions[id - 0x80];
        const json& v = it.value();
        if (v.contains("capacity")) {
            r.capacity = valueAs<uint32_t>(v["capacity"], "region capacity", 0xFFFFFF);
        }
        r.empty = v.value("empty", false);
        r.offsetBoundary = numberAs<uint8_t>(v, "offsetBoundary", 0, 23);
        if (v.contains("hex")) {
            r.contents = jsonHexBytes(v["hex"], "region hex");
        }
    }
}

void parseTrace(const json& t, images::TraceBufferOptions& o) {
    o = images::TraceBufferOptions{};
    o.version = numberAs<uint32_t>(t, "version", 1);
    if (t.contains("stringTableSize")) {
        o.stringTableSizeOverride = valueAs<uint32_t>(t["stringTableSize"], "stringTableSize");
    }
    for (const json& m : t.value("modules", json::array())) {
        images::TraceModule module;
        module.id = valueAs<uint8_t>(m.at("id"), "module id");
        for (const json& s : m.value("strings", json::array())) {
            module.strings.push_back(s.get<std::string>());
        }
        if (m.contains("stringCount")) {
            module.stringCountOverride = valueAs<uint16_t>(m["stringCount"], "stringCount");
        }
        o.modules.push_back(module);
    }
    for (const json& r : t.value("records", json::array())) {
        images::TraceRecord record;
        record.module = valueAs<uint8_t>(r.at("module"), "record module");
        record.string = valueAs<uint16_t>(r.at("string"), "record string");
        for (const json& a : r.value("args", json::array())) {
            record.args.push_back(valueAs<uint32_t>(a, "record arg"));
        }
        if (r.contains("argCount")) {
            record.argCountOverride = valueAs<uint8_t>(r["argCount"], "argCount");
        }
        o.records.push_back(record);
    }
}

void parseHealthLog(const json& h, ExpanderConfig& c) {
    if (h.contains("capacity")) {
        c.healthLogCapacity = valueAs<uint32_t>(h["capacity"], "health log capacity", 0xFFFFFF);
    }
    if (h.contains("textHex")) {
        c.healthTextBytes = jsonHexBytes(h["textHex"], "healthLog textHex");
    }
    c.healthLogEmpty = h.value("empty", false);
    if (!h.contains("entries")) {
        return;
    }
    c.healthLog.clear();
    for (const json& e : h["entries"]) {
        images::HealthLogEntry entry;
        entry.timestamp = numberOr(e, "timestamp", 0);
        entry.sequence = numberAs<uint16_t>(e, "sequence", 0);
        entry.qualifier = numberAs<uint16_t>(e, "qualifier", 0);
        entry.code = numberAs<uint32_t>(e, "code", 0);
        entry.locale = numberAs<uint16_t>(e, "locale", 0);
        entry.argumentType = numberAs<uint8_t>(e, "argumentType", 0);
        entry.logClass = numberAs<uint8_t>(e, "class", 0);
        const json data = e.value("data", json::array());
        for (size_t i = 0; i < data.size() && i < 10; ++i) {
            entry.data[i] = valueAs<uint32_t>(data[i], "log data");
        }
        c.healthLog.push_back(entry);
    }
}

void parseRegisterFaults(const json& f, FaultConfig& faults) {
    for (const json& r : f.value("failRegister", json::array())) {
        RegisterFault rf;
        rf.address = static_cast<uint32_t>(jsonNumber(r.at("address"), "failRegister address"));
        const std::string access = stringOr(r, "access", "");
        if (access == "read") {
            rf.access = 0;
        } else if (access == "write") {
            rf.access = 1;
        } else if (!access.empty() && access != "any") {
            fail("failRegister access must be \"read\", \"write\" or \"any\"");
        }
        rf.skip = numberAs<int>(r, "skip", 0);
        rf.hits.count = r.contains("count") ? countOf(r, "failRegister count") : -1;
        rf.senseKey = static_cast<uint8_t>(numberOr(r, "senseKey", rf.senseKey));
        rf.asc = static_cast<uint8_t>(numberOr(r, "asc", rf.asc));
        rf.ascq = static_cast<uint8_t>(numberOr(r, "ascq", rf.ascq));
        faults.registerFaults.push_back(rf);
    }
    for (const json& p : f.value("pageLength", json::array())) {
        PageLengthFault pl;
        pl.page = static_cast<uint16_t>(jsonNumber(p.at("page"), "pageLength page"));
        pl.region = p.contains("region")
                        ? static_cast<int>(jsonNumber(p["region"], "pageLength region"))
                        : -1;
        pl.length = static_cast<uint16_t>(jsonNumber(p.at("length"), "pageLength length"));
        faults.pageLengths.push_back(pl);
    }
}

void parseFaults(const json& f, FaultConfig& faults) {
    parseRegisterFaults(f, faults);
    if (f.contains("unitAttention")) {
        faults.unitAttention.count = countOf(f["unitAttention"], "unitAttention");
    }
    if (f.contains("writeIllegalRequest")) {
        const json& w = f["writeIllegalRequest"];
        faults.writeIllegalRequest.count = countOf(w, "writeIllegalRequest");
        if (w.is_object()) {
            faults.writeIllegalQualifier = numberAs<uint8_t>(w, "qualifier", 0);
        }
    }
    if (f.contains("shortRead")) {
        const json& s = f["shortRead"];
        faults.shortRead.count = countOf(s, "shortRead");
        faults.shortReadResidual = numberAs<uint32_t>(s, "residual", 0);
        if (s.is_object()) {
            faults.shortReadBuffer =
                s.contains("buffer")
                    ? static_cast<int>(jsonNumber(s["buffer"], "shortRead buffer") & 0xFF)
                    : -1;
            faults.shortReadMode =
                s.contains("mode")
                    ? static_cast<int>(jsonNumber(s["mode"], "shortRead mode") & 0x1F)
                    : -1;
            faults.shortReadSkip = numberAs<int>(s, "skip", 0);
        }
    }
    for (const json& b : f.value("failBuffer", json::array())) {
        BufferFault bf;
        bf.buffer = valueAs<uint8_t>(b.at("buffer"), "failBuffer buffer");
        bf.mode =
            static_cast<int>(static_cast<int64_t>(numberOr(b, "mode", static_cast<uint64_t>(-1))));
        bf.hits.count = b.contains("count") ? countOf(b, "failBuffer count") : -1;
        bf.skip = numberAs<int>(b, "skip", 0);
        const std::string direction = b.value("direction", std::string());
        if (direction == "read") {
            bf.direction = 1;
        } else if (direction == "write") {
            bf.direction = 2;
        } else if (!direction.empty()) {
            fail("failBuffer direction is \"read\" or \"write\"");
        }
        bf.senseKey = numberAs<uint8_t>(b, "senseKey", bf.senseKey);
        bf.asc = numberAs<uint8_t>(b, "asc", bf.asc);
        bf.ascq = numberAs<uint8_t>(b, "ascq", bf.ascq);
        faults.bufferFaults.push_back(bf);
    }
    faults.resetNeverReturns = f.value("resetNeverReturns", false);
    faults.openDenied = f.value("openDenied", false);
    if (f.contains("typeChangeOnReopen")) {
        const json& t = f["typeChangeOnReopen"];
        faults.typeChangeAfterCloses = static_cast<int>(numberOr(t, "afterCloses", 1));
        faults.typeChangeTo = static_cast<int>(numberOr(t, "type", 0));
    }
    if (f.contains("hostStatus")) {
        const json& h = f["hostStatus"];
        faults.hostStatus.count = countOf(h, "hostStatus");
        if (h.is_object()) {
            faults.hostStatusValue = numberAs<uint16_t>(h, "value", 0x03);
        }
    }
    if (f.contains("busy")) {
        faults.busy.count = countOf(f["busy"], "busy");
    }
    faults.descriptorSense = f.value("descriptorSense", false);
    for (const json& p : f.value("stuckPhys", json::array())) {
        faults.stuckPhys.push_back(static_cast<int>(jsonNumber(p, "stuckPhys")));
    }
    if (f.contains("flipStoredByte")) {
        const json& flips = f["flipStoredByte"];
        for (const json& x : flips.is_array() ? flips : json::array({flips})) {
            FaultConfig::FlippedByte flip;
            flip.buffer = static_cast<uint8_t>(jsonNumber(x.at("buffer"), "flipStoredByte buffer"));
            flip.offset =
                static_cast<uint32_t>(jsonNumber(x.at("offset"), "flipStoredByte offset"));
            faults.flipStoredBytes.push_back(flip);
        }
    }
    for (const json& r : f.value("registerValues", json::array())) {
        RegisterValues rv;
        rv.address = static_cast<uint32_t>(jsonNumber(r.at("address"), "registerValues address"));
        if (rv.address % 4 != 0) {
            fail("registerValues address must be a multiple of 4");
        }
        rv.skip = static_cast<int>(numberOr(r, "skip", 0));
        for (const json& v : r.value("values", json::array())) {
            rv.values.push_back(static_cast<uint32_t>(jsonNumber(v, "registerValues value")));
        }
        faults.registerValues.push_back(std::move(rv));
    }
}

void defaultRegions(ExpanderConfig& c) {
    static const uint32_t kCapacities[10] = {0x10000, 0x80000, 0x80000, 0x10000, 0x10000,
                                             0x10000, 0x20000, 0x20000, 0x8000,  0x8000};
    for (size_t i = 0; i < 10; ++i) {
        c.regions[i].capacity = kCapacities[i];
    }
}

}  // namespace

const ChipModel* chipByFamily(int family) {
    for (const ChipModel& m : kChips) {
        if (m.family == family) {
            return &m;
        }
    }
    return nullptr;
}

const ChipModel* chipByDeviceId(uint16_t deviceId, bool variant) {
    const ChipModel* first = nullptr;
    for (const ChipModel& m : kChips) {
        if (m.deviceId != deviceId) {
            continue;
        }
        if (first == nullptr) {
            first = &m;
        }
        if (m.variant == variant) {
            return &m;
        }
    }
    return first;
}

uint64_t jsonNumber(const json& value, const char* what) {
    if (value.is_number_unsigned()) {
        return value.get<uint64_t>();
    }
    if (value.is_number_integer()) {
        return static_cast<uint64_t>(value.get<int64_t>());
    }
    if (value.is_string()) {
        const std::string s = value.get<std::string>();
        size_t used = 0;
        uint64_t v = 0;
        try {
            v = std::stoull(s, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (!s.empty() && s[0] == '-') {
            used = 0;
        }
        if (used == s.size() && used > 0) {
            return v;
        }
    }
    fail(std::string(what) + ": expected a number, got " + value.dump());
}

std::vector<uint8_t> jsonHexBytes(const json& value, const char* what) {
    if (!value.is_string()) {
        fail(std::string(what) + " must be a hex string");
    }
    std::string digits;
    for (char ch : value.get<std::string>()) {
        if (ch != ' ' && ch != ':' && ch != '\n') {
            digits.push_back(ch);
        }
    }
    if (digits.size() % 2 != 0) {
        fail(std::string(what) + " has an odd number of hex digits");
    }
    std::vector<uint8_t> out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(digits.c_str() + i, "%2x", &v) != 1 || !isxdigit(digits[i]) ||
            !isxdigit(digits[i + 1])) {
            fail(std::string(what) + " holds a non-hex digit");
        }
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

ExpanderConfig parseExpanderConfig(const json& node) {
    if (!node.is_object()) {
        fail("an expander must be an object");
    }
    ExpanderConfig c;
    c.sg = static_cast<int>(jsonNumber(node.at("sg"), "sg"));
    if (c.sg < 0 || c.sg > 4095) {
        fail("sg must be 0..4095");
    }
    c.hctl = {0, 0, c.sg, 0};
    if (node.contains("hctl")) {
        const json& h = node["hctl"];
        if (!h.is_array() || h.size() != 4) {
            fail("hctl must list host, channel, id and lun");
        }
        for (size_t i = 0; i < 4; ++i) {
            c.hctl[i] = static_cast<int>(jsonNumber(h[i], "hctl"));
        }
    }
    if (!node.contains("sasAddress")) {
        fail("expander sg" + std::to_string(c.sg) + " needs a sasAddress");
    }
    c.sasAddress = jsonNumber(node["sasAddress"], "sasAddress");

    const ChipModel* chip = nullptr;
    if (node.contains("deviceId")) {
        c.deviceId = valueAs<uint16_t>(node["deviceId"], "deviceId");
        c.variant = node.value("variant", false);
        chip = chipByDeviceId(c.deviceId, c.variant);
    } else if (node.contains("family")) {
        chip = chipByFamily(static_cast<int>(jsonNumber(node["family"], "family")));
        if (chip == nullptr) {
            fail("unknown expander family " + node["family"].dump());
        }
        c.deviceId = chip->deviceId;
        c.variant = chip->variant;
    } else {
        fail("expander sg" + std::to_string(c.sg) + " needs a family or a deviceId");
    }
    // An unknown device ID is allowed (discovery must skip it): first
    // generation, 12 phys unless told otherwise.
    c.family = chip != nullptr ? chip->family : 0;
    c.generation = chip != nullptr ? chip->generation : 1;
    c.model = stringOr(node, "model", chip != nullptr ? chip->model : "QX-UNKNOWN");
    c.phyCount =
        static_cast<int>(numberOr(node, "phyCount", chip != nullptr ? chip->phyCount : 12));
    if (c.phyCount < 4 || c.phyCount > 52) {
        fail("phyCount must be 4..52");
    }
    c.phyCountRegister = static_cast<uint32_t>(
        numberOr(node, "phyCountRegister", static_cast<uint32_t>(c.phyCount) << 16));
    c.revision = numberAs<uint8_t>(node, "revision", 0);
    c.firmwareVersion = numberAs<uint32_t>(node, "firmwareVersion", c.firmwareVersion);
    c.backupFirmwareVersion = numberAs<uint32_t>(node, "backupFirmwareVersion", c.firmwareVersion);
    c.bootloaderVersion = numberAs<uint32_t>(node, "bootloaderVersion", c.bootloaderVersion);
    c.vendor = stringOr(node, "vendor", c.vendor);
    c.serial = stringOr(node, "serial", "QX" + std::to_string(c.sasAddress & 0xFFFFFFF));
    c.boardId = stringOr(node, "boardId", c.boardId);
    if (node.contains("mac")) {
        c.mac = parseOctets<6>(stringOr(node, "mac", ""), ':', 16, "mac");
    }
    if (node.contains("ipAddress")) {
        c.ip = parseOctets<4>(stringOr(node, "ipAddress", ""), '.', 10, "ipAddress");
    }
    c.dhcp = node.value("dhcp", false);
    c.managementAddress = stringOr(node, "managementAddress", "");
    c.manufacturing.firmwareRevision = c.firmwareVersion;
    c.manufacturing.productName = c.model;
    c.manufacturing.platformName = "QUARLEN JBOD PLATFORM";
    if (node.contains("manufacturing")) {
        parseManufacturing(node["manufacturing"], c.manufacturing);
    }
    c.enclosureId = numberOr(node, "enclosureId", c.sasAddress | 0x3E);
    c.temperatureC = static_cast<int>(numberOr(node, "temperatureC", 40));
    c.resetMs = numberAs<uint32_t>(node, "resetMs", c.resetMs);
    c.linkResetMs = numberAs<uint32_t>(node, "linkResetMs", c.linkResetMs);
    c.hardResetMs = numberAs<uint32_t>(node, "hardResetMs", c.hardResetMs);
    for (const json& n : node.value("sgAfterReset", json::array())) {
        int sg = static_cast<int>(jsonNumber(n, "sgAfterReset"));
        if (sg < 0 || sg > 4095) {
            fail("sgAfterReset numbers must be 0..4095");
        }
        c.sgAfterReset.push_back(sg);
    }

    c.phys.assign(static_cast<size_t>(c.phyCount), PhyConfig{});
    if (node.contains("phys")) {
        parsePhys(node["phys"], c);
    }
    for (const json& r : node.value("routeTable", json::array())) {
        RouteEntry e;
        e.index = valueAs<uint32_t>(r.at("index"), "route index");
        if (e.index >= 2048) {
            fail("route index must be 0..2047");
        }
        e.sasAddress = jsonNumber(r.at("sasAddress"), "route sasAddress");
        e.state = numberAs<uint32_t>(r, "state", 1);
        for (const json& p : r.value("phys", json::array())) {
            int phy = static_cast<int>(jsonNumber(p, "route phy"));
            if (phy < 0 || phy >= c.phyCount) {
                fail("route phy outside the expander");
            }
            e.phys.push_back(phy);
        }
        c.routes.push_back(e);
    }
    defaultRegions(c);
    if (node.contains("regions")) {
        parseRegions(node["regions"], c);
    }
    for (const json& p : node.value("manufacturingPages", json::array())) {
        c.extraManufacturingPages.push_back(jsonHexBytes(p, "manufacturingPages"));
    }
    for (const json& p : node.value("persistentPages", json::array())) {
        c.extraPersistentPages.push_back(jsonHexBytes(p, "persistentPages"));
    }
    c.trace = images::sampleTrace();
    if (node.contains("trace")) {
        parseTrace(node["trace"], c.trace);
        if (node["trace"].contains("capacity")) {
            c.traceCapacity =
                valueAs<uint32_t>(node["trace"]["capacity"], "trace capacity", 0xFFFFFF);
        }
        if (node["trace"].contains("hex")) {
            c.traceBytes = jsonHexBytes(node["trace"]["hex"], "trace hex");
            if (c.traceBytes->size() > 0xFFFFFF) {
                fail("trace hex above 0xFFFFFF bytes");
            }
        }
        c.traceEmpty = node["trace"].value("empty", false);
    }
    c.healthLog = images::sampleHealthLog();
    if (node.contains("healthLog")) {
        parseHealthLog(node["healthLog"], c);
    }
    if (node.contains("faults")) {
        parseFaults(node["faults"], c.faults);
    }
    return c;
}

}  // namespace qemu::expander
