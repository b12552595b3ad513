// Shared scaffolding for the controller model tests: a fake EmuServices and
// hand-built driver buffers laid out byte by byte, independent of the model's
// own helpers, so an offset slip on either side shows up here.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "emu_api.h"

namespace ctltest {

using Bytes = std::vector<uint8_t>;

constexpr unsigned long kAdapterInfo = 0xC05C4C11;
constexpr unsigned long kPassthrough = 0xC0484C14;
constexpr unsigned long kHardReset = 0xC00C4C18;

inline uint32_t rd32(const uint8_t* p, size_t o) {
    return uint32_t(p[o]) | uint32_t(p[o + 1]) << 8 | uint32_t(p[o + 2]) << 16 |
           uint32_t(p[o + 3]) << 24;
}
inline uint32_t rd32(const Bytes& b, size_t o) {
    return rd32(b.data(), o);
}
inline uint16_t rd16(const Bytes& b, size_t o) {
    return uint16_t(b[o] | b[o + 1] << 8);
}
inline uint64_t rd64(const Bytes& b, size_t o) {
    return uint64_t(rd32(b, o)) | uint64_t(rd32(b, o + 4)) << 32;
}
inline void wr32(uint8_t* p, size_t o, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[o + i] = uint8_t(v >> (8 * i));
}
inline void wr32(Bytes& b, size_t o, uint32_t v) {
    wr32(b.data(), o, v);
}
inline void wr16(Bytes& b, size_t o, uint32_t v) {
    b[o] = uint8_t(v);
    b[o + 1] = uint8_t(v >> 8);
}
inline void wrPtr(Bytes& b, size_t o, const void* p) {
    const uint64_t v = reinterpret_cast<uintptr_t>(p);
    wr32(b, o, uint32_t(v));
    wr32(b, o + 4, uint32_t(v >> 32));
}

class FakeServices final : public qemu::EmuServices {
  public:
    uint64_t nowNs() const override { return now; }
    bool loadState(const std::string& key, std::vector<uint8_t>* bytes) override {
        const auto it = state.find(key);
        if (it == state.end())
            return false;
        *bytes = it->second;
        return true;
    }
    bool saveState(const std::string& key, const std::vector<uint8_t>& bytes) override {
        state[key] = bytes;
        ++saves;
        return true;
    }
    void logLine(const std::string& line) override { log.push_back(line); }

    uint64_t now = 1000;
    std::map<std::string, Bytes> state;
    std::vector<std::string> log;
    int saves = 0;
};

// The repository root, found from this header's own path (tests/emu/...).
inline std::string sourceRoot() {
    std::string here = __FILE__;
    for (int up = 0; up < 3; ++up)
        here = here.substr(0, here.find_last_of('/'));
    return here;
}

inline nlohmann::json defaultControllers() {
    std::ifstream in(sourceRoot() + "/emu/topology/default-controllers.json");
    return nlohmann::json::parse(in);
}

inline nlohmann::json topologyWith(const nlohmann::json& controllers) {
    nlohmann::json t;
    t["scsi"] = nlohmann::json::object();
    t["scsi"]["expanders"] =
        nlohmann::json::array({{{"sasAddress", "0x53C2A1F000001000"}, {"phys", 36}},
                               {{"sasAddress", "0x53C2A1F000002000"}, {"phys", 27}}});
    t["controllers"] = controllers;
    return t;
}

// Reply of one passthrough with its data phases.
struct Exchange {
    int rc = 0;
    Bytes reply;
    Bytes dataIn;
    uint16_t status() const { return rd16(reply, 14) & 0x7FFF; }
};

class Rig {
  public:
    explicit Rig(nlohmann::json controllers = defaultControllers())
        : controllers_(std::move(controllers)) {
        build();
    }
    void build() { topo = qemu::makeControllerTopology(topologyWith(controllers_), services); }

    qemu::ControlNode* node(const std::string& path) {
        for (auto& [p, n] : topo->nodes()) {
            if (p == path)
                return n;
        }
        return nullptr;
    }

    // Adapter information: 92 bytes, IOC number, port 0, maximum size 92.
    int adapterInfo(const std::string& path, uint32_t ioc, Bytes* info, uint32_t maxSize = 92) {
        info->assign(92, 0);
        wr32(*info, 0, ioc);
        wr32(*info, 8, maxSize);
        return node(path)->ioctl(kAdapterInfo, info->data());
    }

    // One passthrough laid out as the driver's command: 72-byte header, frame at 68.
    Exchange pass(const std::string& path, uint32_t ioc, const Bytes& frame, size_t replyLen,
                  size_t dataInLen = 0, const Bytes& dataOut = {}) {
        Exchange x;
        x.reply.assign(replyLen, 0xEE);
        x.dataIn.assign(dataInLen, 0xEE);
        Bytes cmd(72 + frame.size(), 0);
        wr32(cmd, 0, ioc);
        wr32(cmd, 8, 72);
        wr32(cmd, 12, 10);
        wrPtr(cmd, 16, x.reply.data());
        if (dataInLen > 0)
            wrPtr(cmd, 24, x.dataIn.data());
        if (!dataOut.empty())
            wrPtr(cmd, 32, dataOut.data());
        wr32(cmd, 48, uint32_t(replyLen));
        wr32(cmd, 52, uint32_t(dataInLen));
        wr32(cmd, 56, uint32_t(dataOut.size()));
        wr32(cmd, 64, uint32_t(frame.size() / 4));
        std::memcpy(cmd.data() + 68, frame.data(), frame.size());
        x.rc = node(path)->ioctl(kPassthrough, cmd.data());
        return x;
    }

    int hardReset(const std::string& path, uint32_t ioc) {
        Bytes b(12, 0);
        wr32(b, 0, ioc);
        return node(path)->ioctl(kHardReset, b.data());
    }

    FakeServices services;
    std::unique_ptr<qemu::ControllerTopology> topo;

  private:
    nlohmann::json controllers_;
};

// Configuration request: action, function 0x04, extended length and type,
// page header at 20, page address at 24.
inline Bytes configFrame(uint8_t action, uint8_t type, uint8_t number, uint8_t ext = 0,
                         uint32_t address = 0, uint16_t extLength = 0, uint8_t version = 0,
                         uint8_t length = 0) {
    Bytes f(28, 0);
    f[0] = action;
    f[3] = 0x04;
    wr16(f, 4, extLength);
    f[6] = ext;
    f[20] = version;
    f[21] = length;
    f[22] = number;
    f[23] = type;
    wr32(f, 24, address);
    return f;
}

struct PageRead {
    int rc = 0;
    uint16_t status = 0;
    Bytes page;
};

// Header request, then the read action with the size the header gave.
inline PageRead readPage(Rig& rig, const std::string& path, uint32_t ioc, uint8_t type,
                         uint8_t number, uint8_t ext = 0, uint32_t address = 0,
                         uint8_t action = 1) {
    PageRead out;
    Exchange h = rig.pass(path, ioc, configFrame(0, type, number, ext, address), 24);
    out.rc = h.rc;
    out.status = h.status();
    if (h.rc != 0 || out.status != 0)
        return out;
    const uint16_t extLen = rd16(h.reply, 4);
    const size_t size = type == 15 ? extLen * 4u : h.reply[21] * 4u;
    Exchange r =
        rig.pass(path, ioc,
                 configFrame(action, type, number, ext, address, extLen, h.reply[20], h.reply[21]),
                 24, size);
    out.rc = r.rc;
    out.status = r.status();
    out.page = r.dataIn;
    return out;
}

inline uint16_t writePage(Rig& rig, const std::string& path, uint32_t ioc, uint8_t type,
                          uint8_t number, uint8_t ext, const Bytes& page, uint8_t action) {
    Exchange h = rig.pass(path, ioc, configFrame(0, type, number, ext), 24);
    if (h.rc != 0 || h.status() != 0)
        return h.status();
    Exchange w = rig.pass(
        path, ioc,
        configFrame(action, type, number, ext, 0, rd16(h.reply, 4), h.reply[20], h.reply[21]), 24,
        0, page);
    EXPECT_EQ(w.rc, 0);
    return w.status();
}

constexpr const char* kXol3 = "/dev/xol3ctl";
constexpr const char* kXol2 = "/dev/xol2ctl";

}  // namespace ctltest
