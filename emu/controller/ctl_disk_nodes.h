// The host's view of the drives behind the controllers: one /dev/sdX node per
// SAS or SATA disk (named in topology order unless the drive picks its index
// or none) and the /proc/scsi/scsi text listing them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ctl_controller.h"
#include "emu_api.h"

namespace qemu::ctl {

std::vector<std::unique_ptr<HostDiskNode>> makeDiskNodes(
    const std::vector<Controller*>& controllers, EmuServices& services);
std::string procScsiText(const std::vector<Controller*>& controllers);

}  // namespace qemu::ctl
