#include "request_stats.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace qemu {

namespace {

constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kFunctionScsiIo = 0x00;
constexpr const char* kMaps[] = {"sg_io", "buffer", "sg_ioctl", "driver", "xif", "passthrough"};

std::string hexKey(unsigned long value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*lx", digits, value);
    return text;
}

nlohmann::json mapJson(const std::map<std::string, uint64_t>& counts) {
    nlohmann::json out = nlohmann::json::object();
    for (const auto& [key, n] : counts)
        out[key] = n;
    return out;
}

uint64_t countOf(const nlohmann::json& value) {
    return value.is_number_unsigned() ? value.get<uint64_t>() : 0;
}

}  // namespace

void RequestStats::countSgIo(const uint8_t* cdb, size_t cdbLength) {
    ++total_;
    if (cdb == nullptr || cdbLength == 0) {
        ++sgIo_["none"];
        return;
    }
    ++sgIo_[hexKey(cdb[0], 2)];
    if ((cdb[0] == kReadBuffer || cdb[0] == kWriteBuffer) && cdbLength >= 3)
        ++buffer_[hexKey(cdb[0], 2) + " " + hexKey(cdb[2], 2)];
}

void RequestStats::countSgIoctl(unsigned long request) {
    ++total_;
    ++sgIoctl_[hexKey(request, 4)];
}

void RequestStats::countDriver(unsigned long request) {
    ++total_;
    ++driver_[hexKey(request, 8)];
}

void RequestStats::countFrame(uint32_t ioc, const uint8_t* frame, size_t length) {
    // The ioctl itself is counted as a driver request; frames are a breakdown.
    if (frame == nullptr || length < 4)
        return;
    ++xif_[hexKey(frame[3], 2)];
    if (frame[3] == kFunctionScsiIo && length >= 2) {
        const unsigned handle = frame[0] | (frame[1] << 8);
        ++passthrough_["ioc" + std::to_string(ioc) + " " + hexKey(handle, 4)];
    }
}

nlohmann::json RequestStats::toJson() const {
    nlohmann::json out = emptyStats();
    out["processes"] = 1u;
    out["total"] = total_;
    out["sg_io"] = mapJson(sgIo_);
    out["buffer"] = mapJson(buffer_);
    out["sg_ioctl"] = mapJson(sgIoctl_);
    out["driver"] = mapJson(driver_);
    out["xif"] = mapJson(xif_);
    out["passthrough"] = mapJson(passthrough_);
    return out;
}

nlohmann::json emptyStats() {
    nlohmann::json out = nlohmann::json::object();
    out["processes"] = 0u;
    out["total"] = 0u;
    for (const char* name : kMaps)
        out[name] = nlohmann::json::object();
    return out;
}

void addStats(nlohmann::json* into, const nlohmann::json& from) {
    if (!into->is_object())
        *into = emptyStats();
    if (!from.is_object())
        return;
    for (const char* scalar : {"processes", "total"}) {
        const uint64_t sum =
            countOf((*into)[scalar]) + (from.contains(scalar) ? countOf(from[scalar]) : 0);
        (*into)[scalar] = sum;
    }
    for (const char* name : kMaps) {
        nlohmann::json& target = (*into)[name];
        if (!target.is_object())
            target = nlohmann::json::object();
        if (!from.contains(name) || !from[name].is_object())
            continue;
        for (const auto& [key, value] : from[name].items()) {
            const uint64_t sum = (target.contains(key) ? countOf(target[key]) : 0) + countOf(value);
            target[key] = sum;
        }
    }
}

bool mergeStatsFile(const std::string& path, const nlohmann::json& totals, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    // Processes of one run may end together: one merge at a time.
    bool ok = ::flock(fd, LOCK_EX) == 0;
    std::string text;
    char chunk[4096];
    ssize_t n = 0;
    while (ok && (n = ::read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    ok = ok && n == 0;
    nlohmann::json merged = nlohmann::json::parse(text, nullptr, false);
    addStats(&merged, totals);
    const std::string out = merged.dump(1) + "\n";
    ok = ok && ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
    size_t written = 0;
    while (ok && written < out.size()) {
        const ssize_t w = ::write(fd, out.data() + written, out.size() - written);
        if (w <= 0)
            ok = false;
        else
            written += static_cast<size_t>(w);
    }
    if (!ok)
        *error = path + ": " + std::strerror(errno);
    ::close(fd);
    return ok;
}

}  // namespace qemu
