// Host disk nodes and /proc/scsi/scsi; see ctl_disk_nodes.h.
#include "ctl_disk_nodes.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace qemu::ctl {
namespace {

std::string sdName(int index) {
    std::string name = "/dev/sd";
    if (index > 25)
        name.push_back(static_cast<char>('a' + (index - 26) / 26));
    name.push_back(static_cast<char>('a' + index % 26));
    return name;
}

class HostDisk final : public HostDiskNode {
  public:
    HostDisk(Controller* controller, size_t drive, std::string path)
        : controller_(controller), drive_(drive), path_(std::move(path)) {}

    std::string path() const override { return path_; }
    int hostNumber() const override { return static_cast<int>(controller_->setup().ioc); }
    int channel() const override { return 0; }
    int scsiId() const override { return static_cast<int>(controller_->driveTarget(drive_)); }
    int lun() const override { return 0; }
    int peripheralType() const override { return 0; }
    int onOpen() override { return 0; }
    void onClose() override {}
    void execute(const ScsiRequest& request, ScsiResult* result) override {
        const bool fromDevice = request.direction == SG_DXFER_FROM_DEV;
        const drive::ScsiOutcome outcome = controller_->hostCommand(
            drive_, request.cdb, request.cdbLength, fromDevice ? request.data : nullptr,
            fromDevice ? request.dataLength : 0);
        result->status = outcome.status;
        result->senseLength = std::min(outcome.sense.size(), sizeof result->sense);
        std::memcpy(result->sense, outcome.sense.data(), result->senseLength);
        result->residual = request.dataLength - std::min(request.dataLength, outcome.transferred);
    }

  private:
    Controller* const controller_;
    const size_t drive_;
    const std::string path_;
};

}  // namespace

std::vector<std::unique_ptr<HostDiskNode>> makeDiskNodes(
    const std::vector<Controller*>& controllers, EmuServices& services) {
    std::vector<std::unique_ptr<HostDiskNode>> out;
    std::set<int> taken;
    // Drives that name their index first, then the others take the next free.
    for (Controller* c : controllers) {
        for (size_t d : c->hostDisks()) {
            const int index = c->driveSpec(d).sdIndex;
            if (index >= 0 && index < 26 * 27 && taken.insert(index).second)
                out.push_back(std::make_unique<HostDisk>(c, d, sdName(index)));
            else if (index >= 0)
                services.logLine("controllers: /dev/sd index " + std::to_string(index) +
                                 " taken or out of range");
        }
    }
    int next = 0;
    for (Controller* c : controllers) {
        for (size_t d : c->hostDisks()) {
            if (c->driveSpec(d).sdIndex != -1)
                continue;
            while (taken.count(next) != 0)
                ++next;
            if (next >= 26 * 27)
                return out;
            taken.insert(next);
            out.push_back(std::make_unique<HostDisk>(c, d, sdName(next)));
        }
    }
    return out;
}

std::string procScsiText(const std::vector<Controller*>& controllers) {
    std::string text = "Attached devices:\n";
    for (Controller* c : controllers) {
        for (size_t d : c->hostDisks()) {
            const drive::DriveProfile& profile = c->driveSpec(d);
            char line[256];
            std::snprintf(line, sizeof line,
                          "Host: scsi%u Channel: 00 Id: %02u Lun: 00\n"
                          "  Vendor: %-8.8s Model: %-16.16s Rev: %-4.4s\n"
                          "  Type:   Direct-Access                    ANSI  SCSI revision: 06\n",
                          c->setup().ioc, c->driveTarget(d), profile.vendor.c_str(),
                          profile.product.c_str(), profile.revision.c_str());
            text += line;
        }
    }
    return text;
}

}  // namespace qemu::ctl
