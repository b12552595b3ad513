// Placeholder until the SCSI generic device models exist: no nodes.
#include "emu_api.h"

namespace qemu {
namespace {
class EmptySgTopology final : public SgTopology {
public:
    std::vector<std::pair<int, SgNode*>> listNodes() override { return {}; }
};
}  // namespace

std::unique_ptr<SgTopology> makeSgTopology(const nlohmann::json&, EmuServices&) {
    return std::make_unique<EmptySgTopology>();
}
}  // namespace qemu
