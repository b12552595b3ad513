// The emulator's own services to the device models: a virtual clock that only
// sleeps move forward, a state store of one file per key written atomically,
// and the request log. Used by the preloaded library and, with a scratch
// directory, by the model tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "emu_api.h"

namespace qemu {

// Per-process device clock. Virtual time starts at kVirtualEpochNs and moves
// only when the program sleeps, so device delays (resets, link training) pass
// exactly as the program waits for them, however slow the machine is. In
// real-time mode it is the real monotonic clock.
class VirtualClock final {
  public:
    static constexpr uint64_t kVirtualEpochNs = 1000ull * 1000 * 1000 * 1000;

    constexpr VirtualClock() = default;
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    void setRealTime(bool realTime) { realTime_.store(realTime, std::memory_order_relaxed); }
    bool realTime() const { return realTime_.load(std::memory_order_relaxed); }
    uint64_t nowNs() const;
    // Moves virtual time forward; no effect in real-time mode.
    void advance(uint64_t ns) { elapsed_.fetch_add(ns, std::memory_order_relaxed); }

  private:
    std::atomic<bool> realTime_{false};
    std::atomic<uint64_t> elapsed_{0};
};

// The file name a state key is stored under: letters, digits, '-', '_' and
// '.' (not leading) are kept, every other byte becomes %XX, and ".state" is
// appended, so distinct keys never share a file. Empty for an empty or
// overlong key.
std::string stateFileName(const std::string& key);

// Deletes the emulator's files (saved state and stale temporary files) from
// dir, leaving everything else. A missing dir is not an error.
bool discardState(const std::string& dir, std::string* error);

// Creates dir and its parents (mode 0700 for new ones).
bool makeDirectories(const std::string& dir, std::string* error);

class FileServices final : public EmuServices {
  public:
    // logPath empty: logLine does nothing.
    FileServices(std::string stateDir, std::string logPath, const VirtualClock& clock);

    uint64_t nowNs() const override { return clock_.nowNs(); }
    bool loadState(const std::string& key, std::vector<uint8_t>* bytes) override;
    bool saveState(const std::string& key, const std::vector<uint8_t>& bytes) override;
    // Appends "<pid> <virtual seconds> <line>"; the file is opened per line so
    // that a program closing descriptors it does not know can never redirect it.
    void logLine(const std::string& line) override;

    const std::string& stateDir() const { return stateDir_; }

  private:
    const std::string stateDir_;
    const std::string logPath_;
    const VirtualClock& clock_;
    std::mutex logMutex_;
};

// Services for checking a topology without touching any state: nothing is
// loaded, saves are dropped, time stands still.
class NullServices final : public EmuServices {
  public:
    uint64_t nowNs() const override { return VirtualClock::kVirtualEpochNs; }
    bool loadState(const std::string&, std::vector<uint8_t>*) override { return false; }
    bool saveState(const std::string&, const std::vector<uint8_t>&) override { return true; }
    void logLine(const std::string&) override {}
};

}  // namespace qemu
