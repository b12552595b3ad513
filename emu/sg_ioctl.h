// The SCSI generic driver's side of an ioctl on an emulated /dev/sgN: the
// kernel's checks on the request, the call into the device model, and the
// filling of the v3 sg_io_hdr as the Linux driver does it. Free of
// interposition so that tests can drive it with a fake node.
#pragma once

#include "emu_api.h"

namespace qemu {

// The version SG_GET_VERSION_NUM reports: the v3 driver (below 40000, so
// clients use the v3 header).
inline constexpr int kSgVersionNum = 30536;

// Answers one ioctl on node sgNumber. Returns the ioctl's result (>= 0) or
// -errno: -EFAULT for a null argument, -ENOSYS for an SG_IO header whose
// interface_id is not 'S', -EMSGSIZE for a command length outside 6..252,
// -EINVAL for an unknown direction or an ioctl the driver does not know.
// Logs one line per request through services.
int sgIoctl(SgNode& node, int sgNumber, unsigned long request, void* argument,
            EmuServices& services);

}  // namespace qemu
