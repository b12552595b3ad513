// The emulated drive; see drive.h.
#include "drive/drive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qemu::drive {
namespace {

constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusBusy = 0x08;
constexpr uint8_t kKeyIllegalRequest = 0x05;
constexpr uint8_t kKeyUnitAttention = 0x06;
constexpr uint8_t kKeyHardwareError = 0x04;

std::vector<uint8_t> fixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> s(18, 0);
    s[0] = 0x70;
    s[2] = key;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    return s;
}

void putBe16(std::vector<uint8_t>& b, size_t off, uint32_t v) {
    b[off] = static_cast<uint8_t>(v >> 8);
    b[off + 1] = static_cast<uint8_t>(v);
}

void putBe32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
    putBe16(b, off, v >> 16);
    putBe16(b, off + 2, v & 0xFFFF);
}

void putPadded(std::vector<uint8_t>& b, size_t off, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i)
        b[off + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

// Spends one hit of a fault; true when it fires.
bool spend(int* count) {
    if (*count == 0)
        return false;
    if (*count > 0)
        --*count;
    return true;
}

}  // namespace

DriveProfile defaultDrive(DriveKind kind, uint64_t sasAddress) {
    DriveProfile d;
    d.kind = kind;
    char serial[32];
    std::snprintf(serial, sizeof serial, "QZ%010llX",
                  static_cast<unsigned long long>(sasAddress & 0xFFFFFFFFFFULL));
    d.serial = serial;
    switch (kind) {
        case DriveKind::Sas:
            break;
        case DriveKind::Sata:
            d.vendor = "ATA";
            d.product = "QD8 SATA HDD";
            d.revision = "QA01";
            d.rotationRate = 5400;
            d.blocks = 976773168;
            break;
        case DriveKind::Nvme:
            d.vendor = "NVMe";
            d.product = "QN1600 NVMe";
            d.revision = "1.0";
            d.rotationRate = 1;
            d.blocks = 3907029168;
            d.sdIndex = -2;
            break;
        case DriveKind::Enclosure:
            d.product = "QX SES";
            d.revision = "0001";
            d.rotationRate = 0;
            d.blocks = 0;
            d.sdIndex = -2;
            break;
    }
    return d;
}

void applyDriveObject(const nlohmann::json& o, DriveProfile* d) {
    if (!o.is_object())
        return;
    auto text = [&](const char* key, std::string* field, size_t limit) {
        if (o.contains(key) && o[key].is_string())
            *field = o[key].get<std::string>().substr(0, limit);
    };
    auto number = [&](const char* key, auto* field) {
        if (o.contains(key) && o[key].is_number_integer())
            *field = static_cast<std::remove_pointer_t<decltype(field)>>(o[key].get<int64_t>());
        else if (o.contains(key) && o[key].is_string()) {
            const std::string s = o[key].get<std::string>();
            *field = static_cast<std::remove_pointer_t<decltype(field)>>(
                std::strtoull(s.c_str(), nullptr, 0));
        }
    };
    text("vendor", &d->vendor, 8);
    text("product", &d->product, 16);
    text("revision", &d->revision, 4);
    text("serial", &d->serial, 255);
    number("blocks", &d->blocks);
    number("blockSize", &d->blockSize);
    number("rotationRate", &d->rotationRate);
    number("formFactor", &d->formFactor);
    number("accessStatus", &d->accessStatus);
    number("mapErrno", &d->mapErrno);
    if (o.contains("sd")) {
        if (o["sd"].is_null() || (o["sd"].is_string() && o["sd"] == "none"))
            d->sdIndex = -2;
        else
            number("sd", &d->sdIndex);
    }
    if (o.contains("faults") && o["faults"].is_object()) {
        const nlohmann::json& f = o["faults"];
        auto count = [&](const char* key, int* field) {
            if (f.contains(key) && f[key].is_number_integer())
                *field = f[key].get<int>();
        };
        count("skip", &d->faults.skip);
        count("unitAttention", &d->faults.unitAttention);
        count("checkCondition", &d->faults.checkCondition);
        count("busy", &d->faults.busy);
        count("shortData", &d->faults.shortData);
    }
}

uint8_t Drive::peripheralType() const {
    return profile_.kind == DriveKind::Enclosure ? 0x0D : 0x00;
}

std::vector<uint8_t> Drive::answer(const uint8_t* cdb, size_t cdbLength,
                                   ScsiOutcome* outcome) const {
    auto illegal = [&](uint8_t asc) {
        outcome->status = kStatusCheckCondition;
        outcome->sense = fixedSense(kKeyIllegalRequest, asc, 0);
        return std::vector<uint8_t>();
    };
    const bool disk = profile_.kind != DriveKind::Enclosure;
    switch (cdb[0]) {
        case 0x00:  // TEST UNIT READY
            return cdbLength == 6 ? std::vector<uint8_t>() : illegal(0x24);
        case 0x12: {  // INQUIRY
            if (cdbLength != 6 || (cdb[1] & 0xFE) != 0)
                return illegal(0x24);
            if ((cdb[1] & 1) == 0) {
                if (cdb[2] != 0)
                    return illegal(0x24);
                std::vector<uint8_t> d(96, 0);
                d[0] = peripheralType();
                d[2] = 0x06;
                d[3] = 0x02;
                d[4] = 91;
                d[6] = profile_.kind == DriveKind::Enclosure ? 0x40 : 0x00;  // EncServ
                d[7] = 0x02;                                                 // CmdQue
                putPadded(d, 8, 8, profile_.vendor);
                putPadded(d, 16, 16, profile_.product);
                putPadded(d, 32, 4, profile_.revision);
                return d;
            }
            const bool rotation = disk && profile_.rotationRate != 0;
            switch (cdb[2]) {
                case 0x00: {
                    std::vector<uint8_t> d = {peripheralType(), 0x00, 0, 0, 0x00, 0x80};
                    if (rotation)
                        d.push_back(0xB1);
                    d[3] = static_cast<uint8_t>(d.size() - 4);
                    return d;
                }
                case 0x80: {
                    std::vector<uint8_t> d(4 + profile_.serial.size(), 0);
                    d[0] = peripheralType();
                    d[1] = 0x80;
                    putBe16(d, 2, static_cast<uint32_t>(profile_.serial.size()));
                    std::memcpy(d.data() + 4, profile_.serial.data(), profile_.serial.size());
                    return d;
                }
                case 0xB1:
                    if (rotation) {
                        std::vector<uint8_t> d(64, 0);
                        d[0] = peripheralType();
                        d[1] = 0xB1;
                        putBe16(d, 2, 0x3C);
                        putBe16(d, 4, profile_.rotationRate);
                        d[7] = profile_.formFactor & 0x0F;
                        return d;
                    }
                    return illegal(0x24);
                default:
                    return illegal(0x24);
            }
        }
        case 0x25: {  // READ CAPACITY (10)
            if (!disk || cdbLength != 10)
                return illegal(0x20);
            std::vector<uint8_t> d(8, 0);
            const uint64_t last = profile_.blocks == 0 ? 0 : profile_.blocks - 1;
            putBe32(d, 0, last > 0xFFFFFFFFULL ? 0xFFFFFFFFu : static_cast<uint32_t>(last));
            putBe32(d, 4, profile_.blockSize);
            return d;
        }
        case 0x9E: {  // SERVICE ACTION IN (16): READ CAPACITY (16)
            if (!disk || cdbLength != 16 || (cdb[1] & 0x1F) != 0x10)
                return illegal(0x20);
            std::vector<uint8_t> d(32, 0);
            const uint64_t last = profile_.blocks == 0 ? 0 : profile_.blocks - 1;
            putBe32(d, 0, static_cast<uint32_t>(last >> 32));
            putBe32(d, 4, static_cast<uint32_t>(last));
            putBe32(d, 8, profile_.blockSize);
            return d;
        }
        default:
            return illegal(0x20);
    }
}

ScsiOutcome Drive::execute(const uint8_t* cdb, size_t cdbLength, uint8_t* data, size_t dataLength) {
    ScsiOutcome outcome;
    if (cdb == nullptr || cdbLength == 0) {
        outcome.status = kStatusCheckCondition;
        outcome.sense = fixedSense(kKeyIllegalRequest, 0x20, 0);
        return outcome;
    }
    const bool skipped = faults_.skip > 0;
    if (skipped) {
        --faults_.skip;
    } else if (spend(&faults_.unitAttention)) {
        outcome.status = kStatusCheckCondition;
        outcome.sense = fixedSense(kKeyUnitAttention, 0x29, 0x00);  // power on or reset
        return outcome;
    } else if (spend(&faults_.checkCondition)) {
        outcome.status = kStatusCheckCondition;
        outcome.sense = fixedSense(kKeyHardwareError, 0x44, 0x00);
        return outcome;
    } else if (spend(&faults_.busy)) {
        outcome.status = kStatusBusy;
        return outcome;
    }
    std::vector<uint8_t> produced = answer(cdb, cdbLength, &outcome);
    if (outcome.status != kStatusGood)
        return outcome;
    // The allocation length of INQUIRY (bytes 3..4) limits the answer too.
    size_t limit = dataLength;
    if (cdb[0] == 0x12 && cdbLength == 6)
        limit = std::min<size_t>(limit, (static_cast<size_t>(cdb[3]) << 8) | cdb[4]);
    size_t n = std::min(limit, produced.size());
    if (n > 0 && !skipped && spend(&faults_.shortData))
        n /= 2;
    if (n > 0 && data != nullptr)
        std::memcpy(data, produced.data(), n);
    outcome.transferred = data != nullptr ? n : 0;
    return outcome;
}

}  // namespace qemu::drive
