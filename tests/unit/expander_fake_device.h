// An expander target whose read and write operations answer from memory
// instead of a SCSI generic node: registers, configuration pages, buffer 0
// and the VPD page 0x85 reply, with per-address and per-page failures. It
// becomes the current target for its lifetime.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "shell/bytes.h"
#include "targets/expander_device.h"
#include "targets/target_list.h"

class FakeExpander final {
  public:
    explicit FakeExpander(uint32_t family = 1) {
        current_ = this;
        device_ = new ExpanderDevice;
        device_->sgNumber = 7;
        device_->path = "/dev/sg7";
        device_->open = [](Target*) -> uint32_t { return 0; };
        device_->close = [](Target*) -> uint32_t { return 0; };
        device_->read = &FakeExpander::readOp;
        device_->write = &FakeExpander::writeOp;
        device_->destroy = [](Target*) -> uint32_t { return 0; };
        target_ = new Target{};
        target_->transport = TransportKind::ScsiGeneric;
        target_->kind = TargetKind::Expander;
        target_->family = family;
        target_->device = device_;
        setCurrentTarget(target_);
        bufferZero.assign(256, 0);
    }
    ~FakeExpander() {
        if (currentTarget() == target_)
            setCurrentTarget(nullptr);
        delete device_;
        delete target_;
        current_ = nullptr;
    }
    FakeExpander(const FakeExpander&) = delete;
    FakeExpander& operator=(const FakeExpander&) = delete;

    Target* target() { return target_; }
    ExpanderDevice* device() { return device_; }

    void setRegister(uint32_t address, uint32_t value) {
        for (uint32_t i = 0; i < 4; ++i)
            memory[address + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    uint32_t registerValue(uint32_t address) const {
        uint8_t bytes[4] = {};
        for (uint32_t i = 0; i < 4; ++i) {
            const auto it = memory.find(address + i);
            bytes[i] = it == memory.end() ? 0 : it->second;
        }
        return getLe32(bytes, 0);
    }
    // Stores a page; its length field (bytes 0..1) is set to its size.
    void setPage(uint16_t page, std::vector<uint8_t> bytes) {
        if (bytes.size() >= 2)
            putLe16(bytes.data(), 0, static_cast<uint16_t>(bytes.size()));
        pages[page] = std::move(bytes);
    }

    std::map<uint32_t, uint8_t> memory;
    std::map<uint16_t, std::vector<uint8_t>> pages;
    std::vector<uint8_t> bufferZero;
    std::vector<uint8_t> inquiry;  // empty: the INQUIRY fails
    std::set<uint32_t> failReads;  // memory addresses whose reads fail
    std::set<uint32_t> failWrites;
    // Reads of this address succeed this many times, then fail.
    std::map<uint32_t, int> readsBeforeFailure;
    // Register reads at this address send only this many bytes.
    std::map<uint32_t, uint32_t> shortReads;
    bool failBufferZero = false;
    bool failAllWrites = false;
    std::vector<std::vector<uint8_t>> commands;  // every command block, in order
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> memoryWrites;

  private:
    static uint32_t readOp(Target*, const uint8_t* cdb, uint32_t cdbLength, uint8_t* data,
                           uint32_t length, uint32_t* transferred) {
        FakeExpander& f = *current_;
        f.commands.emplace_back(cdb, cdb + cdbLength);
        if (transferred != nullptr)
            *transferred = length;
        if (cdb[0] == 0x12) {
            if (f.inquiry.empty())
                return 1;
            for (uint32_t i = 0; i < length && i < f.inquiry.size(); ++i)
                data[i] = f.inquiry[i];
            return 0;
        }
        if (cdb[0] != 0x3C || cdbLength != 10)
            return 1;
        if (cdb[2] == 0xC2) {
            const uint32_t address = getBe32(cdb, 3);
            if (f.failReads.count(address) != 0)
                return 1;
            if (auto it = f.readsBeforeFailure.find(address); it != f.readsBeforeFailure.end()) {
                if (it->second-- <= 0)
                    return 1;
            }
            for (uint32_t i = 0; i < length; ++i) {
                const auto m = f.memory.find(address + i);
                data[i] = m == f.memory.end() ? 0 : m->second;
            }
            if (auto it = f.shortReads.find(address); it != f.shortReads.end() && transferred)
                *transferred = it->second;
            return 0;
        }
        if (cdb[2] == 0xE6) {
            const auto page = f.pages.find(getBe16(cdb, 3));
            if (page == f.pages.end())
                return 1;
            const uint32_t allocation = getBe16(cdb, 5);
            for (uint32_t i = 0; i < length && i < allocation && i < page->second.size(); ++i) {
                data[i] = page->second[i];
            }
            return 0;
        }
        if (cdb[2] == 0x00 && cdb[1] == 1) {
            if (f.failBufferZero)
                return 1;
            for (uint32_t i = 0; i < length && i < f.bufferZero.size(); ++i)
                data[i] = f.bufferZero[i];
            return 0;
        }
        return 1;
    }

    static uint32_t writeOp(Target*, const uint8_t* cdb, uint32_t cdbLength, const uint8_t* data,
                            uint32_t length, uint32_t* transferred) {
        FakeExpander& f = *current_;
        f.commands.emplace_back(cdb, cdb + cdbLength);
        if (transferred != nullptr)
            *transferred = length;
        if (f.failAllWrites || cdb[0] != 0x3B)
            return 1;
        if (cdb[2] == 0xC2) {
            const uint32_t address = getBe32(cdb, 3);
            if (f.failWrites.count(address) != 0)
                return 1;
            f.memoryWrites.emplace_back(address, std::vector<uint8_t>(data, data + length));
            for (uint32_t i = 0; i < length; ++i)
                f.memory[address + i] = data[i];
            return 0;
        }
        return 0;
    }

    static inline FakeExpander* current_ = nullptr;
    ExpanderDevice* device_ = nullptr;
    Target* target_ = nullptr;
};
