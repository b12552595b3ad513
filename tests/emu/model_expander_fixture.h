// Scaffolding for the expander model tests: a fake EmuServices with a
// shared state store, and a small client that builds command blocks byte by
// byte (independently of the model's own helpers) and runs them on a node.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "emu_api.h"

namespace exptest {

using Bytes = std::vector<uint8_t>;
using Store = std::map<std::string, Bytes>;

inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t le32(const Bytes& b, size_t o) {
    return le32(b.data() + o);
}
inline uint16_t le16(const Bytes& b, size_t o) {
    return uint16_t(b[o] | b[o + 1] << 8);
}
inline uint32_t be32(const Bytes& b, size_t o) {
    return uint32_t(b[o]) << 24 | uint32_t(b[o + 1]) << 16 | uint32_t(b[o + 2]) << 8 | b[o + 3];
}
inline Bytes leBytes(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

class FakeServices final : public qemu::EmuServices {
  public:
    explicit FakeServices(Store* shared) : store_(shared) {}
    uint64_t nowNs() const override { return now; }
    bool loadState(const std::string& key, std::vector<uint8_t>* bytes) override {
        auto it = store_->find(key);
        if (it == store_->end())
            return false;
        *bytes = it->second;
        return true;
    }
    bool saveState(const std::string& key, const std::vector<uint8_t>& bytes) override {
        (*store_)[key] = bytes;
        ++saves;
        return true;
    }
    void logLine(const std::string& line) override { lines.push_back(line); }
    void advanceMs(uint64_t ms) { now += ms * 1000000ull; }

    uint64_t now = 1000000000ull;
    int saves = 0;
    std::vector<std::string> lines;

  private:
    Store* store_;
};

inline nlohmann::json defaultScsiSection() {
    const std::filesystem::path here = std::filesystem::path(__FILE__).parent_path();
    std::ifstream file(here / "../../emu/topology/default-scsi.json");
    return nlohmann::json::parse(file);
}

inline nlohmann::json topologyWith(const nlohmann::json& scsi) {
    return nlohmann::json{{"scsi", scsi}};
}

struct Reply {
    qemu::ScsiResult result;
    Bytes data;
    bool good() const { return result.status == 0 && result.hostStatus == 0; }
    bool check(uint8_t key, uint8_t asc, uint8_t ascq = 0) const {
        return result.status == 2 && result.senseLength >= 14 && result.sense[0] == 0x70 &&
               (result.sense[2] & 0xF) == key && result.sense[12] == asc &&
               result.sense[13] == ascq;
    }
    size_t transferred() const { return data.size() - result.residual; }
};

// Runs one command on a node (data-in when `out` is empty and length > 0).
inline Reply run(qemu::SgNode* node, const Bytes& cdb, size_t inLength, const Bytes& out = {}) {
    Reply reply;
    reply.data = out.empty() ? Bytes(inLength, 0xEE) : out;
    qemu::ScsiRequest req;
    req.cdb = cdb.data();
    req.cdbLength = cdb.size();
    req.direction = out.empty() ? -3 : -2;
    req.data = reply.data.empty() ? nullptr : reply.data.data();
    req.dataLength = reply.data.size();
    req.timeoutMs = 600000;
    node->execute(req, &reply.result);
    return reply;
}

inline Bytes registerCdb(uint8_t op, uint32_t address, uint16_t length) {
    return {op,
            0x01,
            0xC2,
            uint8_t(address >> 24),
            uint8_t(address >> 16),
            uint8_t(address >> 8),
            uint8_t(address),
            uint8_t(length >> 8),
            uint8_t(length),
            0};
}
inline Bytes dataCdb(uint8_t op, uint8_t buffer, uint32_t offset, uint32_t length) {
    return {op,
            0x02,
            buffer,
            uint8_t(offset >> 16),
            uint8_t(offset >> 8),
            uint8_t(offset),
            uint8_t(length >> 16),
            uint8_t(length >> 8),
            uint8_t(length),
            0};
}
inline Bytes pageCdb(uint16_t page, uint16_t allocation, uint8_t region) {
    return {0x3C,
            0x01,
            0xE6,
            uint8_t(page >> 8),
            uint8_t(page),
            uint8_t(allocation >> 8),
            uint8_t(allocation),
            region,
            0,
            0};
}

// A topology plus typed access to one of its expanders.
class Rig {
  public:
    explicit Rig(const nlohmann::json& scsi, Store* store = nullptr)
        : store_(store != nullptr ? store : &ownStore_), services(store_) {
        topology = qemu::makeSgTopology(topologyWith(scsi), services);
    }

    qemu::SgNode* node(int sg) {
        for (auto& [number, n] : topology->listNodes()) {
            if (number == sg)
                return n;
        }
        return nullptr;
    }
    std::vector<int> listing() {
        std::vector<int> out;
        for (auto& entry : topology->listNodes())
            out.push_back(entry.first);
        return out;
    }

    Bytes readRegs(int sg, uint32_t address, uint16_t length) {
        Reply r = run(node(sg), registerCdb(0x3C, address, length), length);
        EXPECT_TRUE(r.good()) << std::hex << address;
        return r.data;
    }
    uint32_t reg(int sg, uint32_t address) { return le32(readRegs(sg, address, 4), 0); }
    bool writeReg(int sg, uint32_t address, uint32_t value) {
        return run(node(sg), registerCdb(0x3B, address, 4), 0, leBytes(value)).good();
    }
    Bytes page(int sg, uint16_t number, uint8_t region) {
        Reply head = run(node(sg), pageCdb(number, 4, region), 4);
        if (!head.good())
            return {};
        uint16_t length = le16(head.data, 0);
        Reply whole = run(node(sg), pageCdb(number, length, region), length);
        EXPECT_TRUE(whole.good());
        return whole.data;
    }
    uint32_t capacity(int sg, uint8_t buffer) {
        Reply r = run(node(sg), {0x3C, 0x03, buffer, 0, 0, 0, 0, 0, 4, 0}, 4);
        EXPECT_TRUE(r.good());
        return be32(r.data, 0);
    }
    Bytes readRegion(int sg, uint8_t buffer, uint32_t offset, uint32_t length) {
        Reply r = run(node(sg), dataCdb(0x3C, buffer, offset, length), length);
        EXPECT_TRUE(r.good());
        return r.data;
    }
    bool writeRegion(int sg, uint8_t buffer, uint32_t offset, const Bytes& data) {
        return run(node(sg), dataCdb(0x3B, buffer, offset, uint32_t(data.size())), 0, data).good();
    }
    Reply resetRequest(int sg) {
        return run(node(sg), {0x3B, 0x01, 0xE9, 0, 0, 0, 0, 0, 0x03, 0}, 0,
                   {0x00, 0x01, 0x00, 0x00});
    }

  private:
    Store ownStore_;
    Store* store_;

  public:
    FakeServices services;
    std::unique_ptr<qemu::SgTopology> topology;
};

}  // namespace exptest
