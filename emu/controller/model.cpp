// The controller driver's control nodes: checks each ioctl as the driver
// does (request number, header, pointers and lengths) and hands the request
// to the IOC it names. Built from topology["controllers"].
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>

#include "ctl_controller.h"
#include "ctl_disk_nodes.h"
#include "emu_api.h"

namespace qemu {
namespace {

using ctl::Controller;
using ctl::le32;
using ctl::put32;

constexpr unsigned long kRequestAdapterInfo = 0xC05C4C11;
constexpr unsigned long kRequestPassthrough = 0xC0484C14;
constexpr unsigned long kRequestHardReset = 0xC00C4C18;
constexpr unsigned long kRequestMapHandle = 0xC0184C1F;

constexpr uint32_t kAdapterInfoSize = 92;
constexpr uint32_t kPassthroughHeaderSize = 72;
constexpr size_t kFrameOffset = 68;  // where the data descriptor would start
constexpr uint32_t kMapHandleSize = 24;
constexpr uint32_t kMaxFrameWords = 128;
constexpr uint32_t kMaxDataLength = 64u << 20;

// Fixed order in which the driver registers its nodes.
constexpr const char* kNodePaths[] = {"/dev/xol2ctl_wd", "/dev/xol2ctl", "/dev/ovsactl",
                                      "/dev/xol3ctl"};

uint8_t* pointerAt(const uint8_t* p, size_t off) {
    const uint64_t v =
        static_cast<uint64_t>(le32(p, off)) | (static_cast<uint64_t>(le32(p, off + 4)) << 32);
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(v));
}

class Node final : public ControlNode {
  public:
    Node(std::string path, EmuServices& services) : path_(std::move(path)), services_(services) {}

    void add(uint32_t ioc, Controller* controller) { iocs_.emplace(ioc, controller); }
    bool has(uint32_t ioc) const { return iocs_.count(ioc) != 0; }

    int ioctl(unsigned long request, void* argument) override {
        const int rc = handle(request, static_cast<uint8_t*>(argument));
        // Answered passthroughs are logged by the firmware with their frame.
        if (rc != 0 || request != kRequestPassthrough) {
            char line[128];
            std::snprintf(line, sizeof line, "%s ioctl 0x%08lx ioc %u result %d", path_.c_str(),
                          request, argument ? le32(static_cast<uint8_t*>(argument), 0) : 0u, rc);
            services_.logLine(line);
        }
        return rc;
    }

  private:
    int handle(unsigned long request, uint8_t* arg) {
        switch (request) {
            case kRequestAdapterInfo:
            case kRequestPassthrough:
            case kRequestHardReset:
            case kRequestMapHandle:
                break;
            default:
                return -ENOTTY;
        }
        if (arg == nullptr)
            return -EFAULT;
        Controller* c = find(le32(arg, 0));
        if (request != kRequestHardReset && le32(arg, 8) != expectedSize(request)) {
            return -EINVAL;
        }
        if (c == nullptr)
            return -ENODEV;
        if (const int ready = c->availability(); ready != 0)
            return ready;
        switch (request) {
            case kRequestAdapterInfo:
                return adapterInfo(c, arg);
            case kRequestPassthrough:
                return passthrough(c, arg);
            case kRequestHardReset:
                return c->hardReset();
            default:
                return mapHandle(c, arg);
        }
    }

    static uint32_t expectedSize(unsigned long request) {
        switch (request) {
            case kRequestAdapterInfo:
                return kAdapterInfoSize;
            case kRequestPassthrough:
                return kPassthroughHeaderSize;
            default:
                return kMapHandleSize;
        }
    }

    Controller* find(uint32_t ioc) {
        const auto it = iocs_.find(ioc);
        return it == iocs_.end() ? nullptr : it->second;
    }

    static int adapterInfo(Controller* c, uint8_t* arg) {
        std::fill(arg + 12, arg + kAdapterInfoSize, 0);
        return c->adapterInfo(arg);
    }

    int passthrough(Controller* c, uint8_t* arg) {
        uint8_t* reply = pointerAt(arg, 16);
        ctl::FrameIo io;
        io.dataIn = pointerAt(arg, 24);
        io.dataOut = pointerAt(arg, 32);
        uint8_t* sense = pointerAt(arg, 40);
        const uint32_t replyLength = le32(arg, 48);
        io.dataInLength = le32(arg, 52);
        io.dataOutLength = le32(arg, 56);
        const uint32_t senseLength = le32(arg, 60);
        const uint32_t words = le32(arg, 64);
        if (words == 0 || words > kMaxFrameWords || replyLength > kMaxDataLength ||
            io.dataInLength > kMaxDataLength || io.dataOutLength > kMaxDataLength ||
            senseLength > kMaxDataLength) {
            return -EINVAL;
        }
        if ((replyLength > 0 && reply == nullptr) || (io.dataInLength > 0 && !io.dataIn) ||
            (io.dataOutLength > 0 && !io.dataOut) || (senseLength > 0 && sense == nullptr)) {
            return -EFAULT;
        }
        if (io.dataInLength == 0)
            io.dataIn = nullptr;
        if (io.dataOutLength == 0)
            io.dataOut = nullptr;
        io.sense = senseLength > 0 ? sense : nullptr;
        io.senseLength = senseLength;
        ctl::Bytes answer;
        const int rc = c->passthrough(arg + kFrameOffset, words * 4u, io, &answer);
        if (rc != 0)
            return rc;
        if (replyLength > 0) {
            std::fill(reply, reply + replyLength, 0);
            std::copy(
                answer.begin(),
                answer.begin() + static_cast<long>(std::min<size_t>(replyLength, answer.size())),
                reply);
        }
        return 0;
    }

    static int mapHandle(Controller* c, uint8_t* arg) {
        uint32_t target = 0;
        uint32_t bus = 0;
        const uint16_t handle = ctl::le16(arg, 20);
        // A handle of 0xFFFF asks the other way: which handle has this target.
        if (handle == 0xFFFF) {
            uint16_t found = 0;
            const int rc = c->mapTarget(le32(arg, 12), le32(arg, 16), &found);
            if (rc == 0)
                ctl::put16(arg, 20, found);
            return rc;
        }
        const int rc = c->mapHandle(handle, &target, &bus);
        if (rc == 0) {
            put32(arg, 12, target);
            put32(arg, 16, bus);
        }
        return rc;
    }

    const std::string path_;
    EmuServices& services_;
    std::map<uint32_t, Controller*> iocs_;
};

class Topology final : public ControllerTopology {
  public:
    Topology(const nlohmann::json& topology, EmuServices& services) {
        for (ctl::ControllerSetup& setup : ctl::parseControllers(topology)) {
            Node* node = nodeFor(setup.node, services);
            if (node == nullptr)
                continue;
            if (node->has(setup.ioc)) {
                services.logLine("controllers: duplicate IOC " + std::to_string(setup.ioc) +
                                 " on " + setup.node + " ignored");
                continue;
            }
            const uint32_t ioc = setup.ioc;
            controllers_.push_back(std::make_unique<Controller>(std::move(setup), services));
            node->add(ioc, controllers_.back().get());
        }
        std::vector<Controller*> all;
        for (const auto& c : controllers_)
            all.push_back(c.get());
        disks_ = ctl::makeDiskNodes(all, services);
        procScsi_ = ctl::procScsiText(all);
        // Nodes the driver creates even without an IOC behind them.
        const auto& section =
            topology.contains("controllers") ? topology["controllers"] : nlohmann::json();
        if (section.is_object() && section.contains("procScsi") &&
            section["procScsi"].is_string()) {
            const std::string mode = section["procScsi"].get<std::string>();
            procScsiMode_ = mode == "missing" ? ProcScsi::Missing
                            : mode == "link"  ? ProcScsi::Link
                                              : ProcScsi::File;
        }
        if (section.is_object() && section.contains("emptyNodes") &&
            section["emptyNodes"].is_array()) {
            for (const auto& path : section["emptyNodes"]) {
                if (path.is_string())
                    nodeFor(path.get<std::string>(), services);
            }
        }
    }

    std::vector<std::pair<std::string, ControlNode*>> nodes() override {
        std::vector<std::pair<std::string, ControlNode*>> out;
        for (const char* path : kNodePaths) {
            const auto it = nodes_.find(path);
            if (it != nodes_.end())
                out.emplace_back(path, it->second.get());
        }
        return out;
    }

    std::vector<HostDiskNode*> disks() override {
        std::vector<HostDiskNode*> out;
        for (const auto& d : disks_)
            out.push_back(d.get());
        return out;
    }

    std::string procScsiText() override { return procScsi_; }
    ProcScsi procScsiMode() override { return procScsiMode_; }

  private:
    // The node of that path, or null (and a log line) for a path the driver
    // never creates.
    Node* nodeFor(const std::string& path, EmuServices& services) {
        bool known = false;
        for (const char* p : kNodePaths)
            known = known || path == p;
        if (!known) {
            services.logLine("controllers: unknown control node " + path + " ignored");
            return nullptr;
        }
        auto& slot = nodes_[path];
        if (!slot)
            slot = std::make_unique<Node>(path, services);
        return slot.get();
    }

    std::vector<std::unique_ptr<Controller>> controllers_;
    std::map<std::string, std::unique_ptr<Node>> nodes_;
    std::vector<std::unique_ptr<HostDiskNode>> disks_;
    std::string procScsi_;
    ProcScsi procScsiMode_ = ProcScsi::File;
};

}  // namespace

std::unique_ptr<ControllerTopology> makeControllerTopology(const nlohmann::json& topology,
                                                           EmuServices& services) {
    return std::make_unique<Topology>(topology, services);
}

}  // namespace qemu
