// Request accounting: how many requests a process sent to the emulated
// hardware, by kind. The totals are what a change that adds a round trip
// moves, so tests assert them instead of timing anything.
//
// Written as JSON by every emulated process at exit and added into one file
// (`quarlen-emu --stats FILE`), so a run of several processes sums up:
//   {"processes": P, "total": T,
//    "sg_io": {"0x3c": n, ...},            SG_IO by CDB operation code
//    "buffer": {"0x3c 0xc2": n, ...},      READ/WRITE BUFFER by buffer ID
//    "sg_ioctl": {"0x2282": n, ...},       other ioctls on /dev/sgN by number
//    "driver": {"0xc0484c14": n, ...},     control-node ioctls by number
//    "xif": {"0x04": n, ...},              passthrough frames by function
//    "passthrough": {"ioc0 0x0009": n}}    SCSI IO frames by IOC and device handle
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace qemu {

class RequestStats final {
  public:
    void countSgIo(const uint8_t* cdb, size_t cdbLength);
    void countSgIoctl(unsigned long request);
    void countDriver(unsigned long request);
    // frame: the request frame as the passthrough ioctl carries it.
    void countFrame(uint32_t ioc, const uint8_t* frame, size_t length);

    uint64_t total() const { return total_; }
    // A forked child starts from zero: its parent reports what came before.
    void clear() { *this = RequestStats(); }
    // This process's totals in the file's form ("processes": 1).
    nlohmann::json toJson() const;

  private:
    std::map<std::string, uint64_t> sgIo_, buffer_, sgIoctl_, driver_, xif_, passthrough_;
    uint64_t total_ = 0;
};

// Adds one set of totals into another, key by key (either may be empty).
void addStats(nlohmann::json* into, const nlohmann::json& from);

// Adds totals into the JSON file at path under an exclusive lock, creating it
// if needed; a file that does not hold an object is replaced.
bool mergeStatsFile(const std::string& path, const nlohmann::json& totals, std::string* error);

// The zero totals the launcher starts a file with.
nlohmann::json emptyStats();

}  // namespace qemu
