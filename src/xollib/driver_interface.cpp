// The library's only contact with the SAS driver: one open, one ioctl and one
// close of a control node per request, and the chip table that decides which
// controllers discovery accepts.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "shell/bytes.h"
#include "shell/node_access.h"
#include "xollib/xol_internal.h"

namespace {

int systemOpen(const char* path, int flags) {
    return ::open(path, flags);
}
int systemIoctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}
int systemClose(int fd) {
    return ::close(fd);
}

const XolDriverOps kSystemDriverOps = {systemOpen, systemIoctl, systemClose};
const XolDriverOps* g_driverOps = &kSystemDriverOps;

// Chip families: the option bits that accept each chip, its name, and the
// frame layout and family flags it brings.
const XolChipRow kChipTable[] = {
    {0x0410, kXolOptionFirstGeneration, "QSC2008", false, false, false},
    {0x0411, kXolOptionFirstGeneration | kXolOptionFlashAccelerator, "QSC2108", false, false,
     false},
    {0x0418, kXolOptionFlashAccelerator, "QFA2116", false, false, true},
    {0x0520, kXolOptionSecondGeneration, "QSC3008", true, false, false},
    {0x0521, kXolOptionSecondGeneration, "QSC3108", true, false, false},
    {0x0528, kXolOptionSecondGeneration, "QSC3216", true, true, false},
    {0x0630, kXolOptionNewestGeneration, "QSC3408", true, true, false},
    {0x0631, kXolOptionNewestGeneration, "QSC3416", true, true, false},
    {0x0632, kXolOptionNewestGeneration, "QSC3616", true, true, false},
    {0x0070, kXolOptionOtherVendor, "OV1600", false, false, false},
    {0x0071, kXolOptionOtherVendor, "OV1800", false, false, false},
};

}  // namespace

void xolSetDriverOps(const XolDriverOps* ops) {
    g_driverOps = ops != nullptr ? ops : &kSystemDriverOps;
}

const XolDriverOps& xolDriverOps() {
    return *g_driverOps;
}

ControlNodeDescriptor::ControlNodeDescriptor(const char* path)
    : fd_(xolDriverOps().open(path, O_RDWR | O_CLOEXEC)) {
    if (fd_ < 0)
        noteNodeOpenFailure(path, errno);
}

ControlNodeDescriptor::~ControlNodeDescriptor() {
    if (fd_ >= 0)
        xolDriverOps().close(fd_);
}

int ControlNodeDescriptor::ioctl(unsigned long request, void* argument) const {
    return xolDriverOps().ioctl(fd_, request, argument);
}

const XolChipRow* findChipRow(uint16_t deviceId) {
    for (const auto& row : kChipTable) {
        if (row.deviceId == deviceId)
            return &row;
    }
    return nullptr;
}

uint32_t issueAdapterIoctl(const XolAdapterRecord& adapter, unsigned long request, void* argument) {
    const ControlNodeDescriptor node(adapter.nodePath);
    if (!node.isOpen())
        return kXolStatusNodeOpenFailed;
    if (node.ioctl(request, argument) < 0)
        return kXolStatusIoctlFailed;
    return kXolStatusSuccess;
}

uint32_t XolLib2HardReset(const uint32_t* handle) {
    XolAdapterRecord* adapter = nullptr;
    if (const uint32_t status = lookupAdapter(handle, &adapter); status != kXolStatusSuccess) {
        return status;
    }
    const ControlNodeDescriptor node(adapter->nodePath);
    if (!node.isOpen())
        return kXolStatusNodeOpenFailed;
    uint8_t header[kIoctlHeaderSize] = {};
    putLe32(header, kIoctlHeaderIocNumber, adapter->iocNumber);
    // The driver's own answer is the status: 0 for a completed reset.
    return static_cast<uint32_t>(node.ioctl(kXolIoctlHardReset, header));
}
