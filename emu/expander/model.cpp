// The SCSI generic side of the topology: the expanders and plain disks of
// topology["scsi"], listed in the order the topology gives.
#include <cstdio>
#include <set>
#include <stdexcept>

#include "emu_api.h"
#include "expander/expander_config.h"
#include "expander/expander_node.h"
#include "expander/scsi_reply.h"
#include "images/le_bytes.h"

namespace qemu {
namespace {

using expander::jsonNumber;

struct DiskConfig {
    int sg = 0;
    std::array<int, 4> hctl{};
    int type = 0;
    std::string vendor = "QUARLEN";
    std::string model = "QD-SAS-1200";
    std::string revision = "Q100";
    std::string serial;
    uint64_t sasAddress = 0;
    uint64_t blocks = 2343751680ull;  // 1.2 TB of 512-byte blocks
};

// A plain SCSI device (a disk by default): enough of SPC for a probe to
// see what it is and move on.
class DiskNode final : public SgNode {
  public:
    explicit DiskNode(DiskConfig config) : config_(std::move(config)) {}

    int hostNumber() const override { return config_.hctl[0]; }
    int channel() const override { return config_.hctl[1]; }
    int scsiId() const override { return config_.hctl[2]; }
    int lun() const override { return config_.hctl[3]; }
    int peripheralType() const override { return config_.type; }
    int onOpen() override { return 0; }
    void onClose() override {}
    void execute(const ScsiRequest& req, ScsiResult* r) override {
        using namespace expander;
        *r = ScsiResult{};
        r->residual = req.dataLength;
        if (req.cdb == nullptr || req.cdbLength < 6) {
            checkCondition(r, kKeyIllegalRequest, kAscInvalidOpcode, 0);
        } else if (req.cdb[0] == 0x00) {
            r->status = kStatusGood;
        } else if (req.cdb[0] == 0x12) {
            inquiry(req, r);
        } else if (req.cdb[0] == 0x25 && req.cdbLength >= 10) {
            uint8_t reply[8];
            uint64_t last = config_.blocks - 1;
            bytes::putBe32(reply, last > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(last));
            bytes::putBe32(reply + 4, 512);
            r->status = kStatusGood;
            sendData(req, r, reply, 8, 8);
        } else {
            checkCondition(r, kKeyIllegalRequest, kAscInvalidOpcode, 0, 0);
        }
    }

  private:
    void inquiry(const ScsiRequest& req, ScsiResult* r) {
        using namespace expander;
        const size_t allocation = bytes::getBe16(req.cdb + 3);
        std::vector<uint8_t> reply;
        if ((req.cdb[1] & 1) == 0) {
            if (req.cdb[2] != 0) {
                invalidField(r, 2);
                return;
            }
            reply.assign(36, ' ');
            reply[0] = static_cast<uint8_t>(config_.type);
            reply[1] = 0;
            reply[2] = 0x06;
            reply[3] = 0x02;
            reply[4] = 31;
            reply[5] = reply[6] = 0;
            reply[7] = 0x02;
            std::copy_n(config_.vendor.begin(), std::min<size_t>(8, config_.vendor.size()),
                        &reply[8]);
            std::copy_n(config_.model.begin(), std::min<size_t>(16, config_.model.size()),
                        &reply[16]);
            std::copy_n(config_.revision.begin(), std::min<size_t>(4, config_.revision.size()),
                        &reply[32]);
        } else if (req.cdb[2] == 0x00 || req.cdb[2] == 0x80 || req.cdb[2] == 0x83) {
            reply.assign(4, 0);
            reply[0] = static_cast<uint8_t>(config_.type);
            reply[1] = req.cdb[2];
            if (req.cdb[2] == 0x00) {
                for (uint8_t p : {0x00, 0x80, 0x83}) {
                    reply.push_back(p);
                }
            } else if (req.cdb[2] == 0x80) {
                for (char ch : config_.serial) {
                    reply.push_back(static_cast<uint8_t>(ch));
                }
            } else {
                for (uint8_t b : {0x01, 0x03, 0x00, 0x08}) {
                    reply.push_back(b);
                }
                for (int i = 7; i >= 0; --i) {
                    reply.push_back(static_cast<uint8_t>(config_.sasAddress >> (8 * i)));
                }
            }
            bytes::putBe16(&reply[2], static_cast<uint16_t>(reply.size() - 4));
        } else {
            invalidField(r, 2);
            return;
        }
        r->status = kStatusGood;
        sendData(req, r, reply, allocation);
    }

    DiskConfig config_;
};

DiskConfig parseDisk(const nlohmann::json& node) {
    DiskConfig d;
    if (!node.is_object() || !node.contains("sg")) {
        throw std::invalid_argument("topology scsi: a disk needs an sg number");
    }
    d.sg = static_cast<int>(jsonNumber(node["sg"], "sg"));
    if (d.sg < 0 || d.sg > 4095) {
        throw std::invalid_argument("topology scsi: sg must be 0..4095");
    }
    d.hctl = {0, 0, d.sg, 0};
    if (node.contains("hctl")) {
        const nlohmann::json& h = node["hctl"];
        if (!h.is_array() || h.size() != 4) {
            throw std::invalid_argument("topology scsi: hctl must list host, channel, id and lun");
        }
        for (size_t i = 0; i < 4; ++i) {
            d.hctl[i] = static_cast<int>(jsonNumber(h[i], "hctl"));
        }
    }
    d.type = static_cast<int>(node.contains("type") ? jsonNumber(node["type"], "type") : 0) & 0x1F;
    d.vendor = node.value("vendor", d.vendor);
    d.model = node.value("model", d.model);
    d.revision = node.value("revision", d.revision);
    d.sasAddress = node.contains("sasAddress") ? jsonNumber(node["sasAddress"], "sasAddress") : 0;
    d.serial = node.value("serial", "QD" + std::to_string(d.sasAddress & 0xFFFFFF));
    if (node.contains("blocks")) {
        d.blocks = std::max<uint64_t>(1, jsonNumber(node["blocks"], "blocks"));
    }
    return d;
}

class ScsiTopology final : public SgTopology {
  public:
    struct Entry {
        expander::ExpanderNode* expander = nullptr;
        std::unique_ptr<SgNode> node;
        int sg = 0;
    };

    void add(Entry entry) { entries_.push_back(std::move(entry)); }
    std::vector<Entry>& entries() { return entries_; }

    std::vector<std::pair<int, SgNode*>> listNodes() override {
        std::vector<std::pair<int, SgNode*>> out;
        for (Entry& e : entries_) {
            if (e.expander == nullptr) {
                out.emplace_back(e.sg, e.node.get());
            } else if (e.expander->present()) {
                out.emplace_back(e.expander->sgNumber(), e.node.get());
            }
        }
        return out;
    }

  private:
    std::vector<Entry> entries_;
};

}  // namespace

std::unique_ptr<SgTopology> makeSgTopology(const nlohmann::json& topology, EmuServices& services) {
    auto result = std::make_unique<ScsiTopology>();
    if (!topology.is_object() || !topology.contains("scsi")) {
        return result;
    }
    const nlohmann::json& scsi = topology["scsi"];
    std::vector<ScsiTopology::Entry> made;
    std::set<int> numbers;
    try {
        for (const nlohmann::json& e : scsi.value("expanders", nlohmann::json::array())) {
            auto node = std::make_unique<expander::ExpanderNode>(expander::parseExpanderConfig(e),
                                                                 services);
            ScsiTopology::Entry entry;
            entry.expander = node.get();
            entry.sg = node->configuredSg();
            entry.node = std::move(node);
            made.push_back(std::move(entry));
        }
        for (const nlohmann::json& d : scsi.value("disks", nlohmann::json::array())) {
            DiskConfig config = parseDisk(d);
            ScsiTopology::Entry entry;
            entry.sg = config.sg;
            entry.node = std::make_unique<DiskNode>(std::move(config));
            made.push_back(std::move(entry));
        }
        for (const ScsiTopology::Entry& e : made) {
            if (!numbers.insert(e.sg).second) {
                throw std::invalid_argument("topology scsi: sg" + std::to_string(e.sg) +
                                            " is given twice");
            }
        }
        for (const ScsiTopology::Entry& e : made) {
            if (e.expander == nullptr) {
                continue;
            }
            for (int sg : e.expander->numbersAfterReset()) {
                if (sg != e.sg && numbers.count(sg) != 0) {
                    throw std::invalid_argument("topology scsi: sgAfterReset number " +
                                                std::to_string(sg) + " belongs to another node");
                }
            }
        }
        // The listing order: the numbers of "listing" first, in that order,
        // then every node it leaves out, in file order.
        std::vector<bool> placed(made.size(), false);
        for (const nlohmann::json& n : scsi.value("listing", nlohmann::json::array())) {
            const int sg = static_cast<int>(jsonNumber(n, "listing"));
            bool found = false;
            for (size_t i = 0; i < made.size(); ++i) {
                if (made[i].sg == sg && !placed[i]) {
                    placed[i] = true;
                    found = true;
                    result->add(std::move(made[i]));
                }
            }
            if (!found) {
                throw std::invalid_argument("topology scsi: listing names sg" + std::to_string(sg) +
                                            " that is not defined (or twice)");
            }
        }
        for (size_t i = 0; i < made.size(); ++i) {
            if (!placed[i]) {
                result->add(std::move(made[i]));
            }
        }
    } catch (const std::invalid_argument&) {
        throw;
    } catch (const std::exception& error) {
        throw std::invalid_argument(std::string("topology scsi: ") + error.what());
    }
    return result;
}

}  // namespace qemu
