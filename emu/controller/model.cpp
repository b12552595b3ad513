// Placeholder until the controller models exist: no control nodes.
#include "emu_api.h"

namespace qemu {
namespace {
class EmptyControllerTopology final : public ControllerTopology {
public:
    std::vector<std::pair<std::string, ControlNode*>> nodes() override { return {}; }
};
}  // namespace

std::unique_ptr<ControllerTopology> makeControllerTopology(const nlohmann::json&, EmuServices&) {
    return std::make_unique<EmptyControllerTopology>();
}
}  // namespace qemu
