// Operating-system device names; see device_nodes.h.
#include "hba/device_nodes.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned long kScsiIoctlGetIdLun = 0x5382;
constexpr uint32_t kNodesPerFamily = 256;
constexpr char kDiskFamily[] = "/dev/sd";
const char* const kFamilies[] = {kDiskFamily, "/dev/sr", "/dev/sg", "/dev/st"};
constexpr char kHostPrefix[] = "SAS Host ";

// The first word of the kernel's answer, or false when the node does not
// answer the request.
bool nodeScsiId(const char* path, uint32_t* id) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int words[2] = {0, 0};
    const int rc = ::ioctl(fd, kScsiIoctlGetIdLun, words);
    ::close(fd);
    if (rc != 0)
        return false;
    *id = static_cast<uint32_t>(words[0]);
    return true;
}

}  // namespace

void deviceNodeName(const char* family, uint32_t index, char* out, size_t size) {
    if (std::strcmp(family, kDiskFamily) != 0) {
        std::snprintf(out, size, "%s%u", family, index);
    } else if (index <= 25) {
        std::snprintf(out, size, "%s%c", family, static_cast<char>('a' + index));
    } else {
        std::snprintf(out, size, "%s%c%c", family, static_cast<char>('a' + (index - 26) / 26),
                      static_cast<char>('a' + index % 26));
    }
}

uint32_t packedScsiId(uint32_t host, uint32_t bus, uint32_t target, uint32_t lun) {
    return ((host & 0xFF) << 24) | ((bus & 0xFF) << 16) | ((lun & 0xFF) << 8) | (target & 0xFF);
}

bool hostNumberFromName(const char* name, size_t size, uint32_t* host) {
    const size_t prefix = sizeof kHostPrefix - 1;
    if (size <= prefix || std::strncmp(name, kHostPrefix, prefix) != 0)
        return false;
    uint32_t value = 0;
    size_t i = prefix;
    for (; i < size && name[i] >= '0' && name[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint32_t>(name[i] - '0');
        if (value > 0xFFFF)
            return false;
    }
    if (i == prefix || (i < size && name[i] != '\0'))
        return false;
    *host = value;
    return true;
}

namespace {

void formatNode(const char* path, uint32_t host, uint32_t bus, uint32_t target, uint32_t lun,
                char* out, size_t size) {
    std::snprintf(out, size, "%-12s [%d:%d:%d:%d]", path, static_cast<int>(host),
                  static_cast<int>(bus), static_cast<int>(target), static_cast<int>(lun));
}

}  // namespace

void DeviceNodeIndex::build() {
    pathById_.clear();
    for (const char* family : kFamilies) {
        for (uint32_t i = 0; i < kNodesPerFamily; ++i) {
            char path[32];
            deviceNodeName(family, i, path, sizeof path);
            uint32_t id = 0;
            if (nodeScsiId(path, &id))
                pathById_.emplace(id, path);  // the first node with an address wins
        }
    }
}

bool DeviceNodeIndex::find(uint32_t host, uint32_t bus, uint32_t target, uint32_t lun, char* out,
                           size_t size) const {
    const auto found = pathById_.find(packedScsiId(host, bus, target, lun));
    if (found == pathById_.end())
        return false;
    formatNode(found->second.c_str(), host, bus, target, lun, out, size);
    return true;
}

bool findDeviceNode(uint32_t host, uint32_t bus, uint32_t target, uint32_t lun, char* out,
                    size_t size) {
    const uint32_t wanted = packedScsiId(host, bus, target, lun);
    for (const char* family : kFamilies) {
        for (uint32_t i = 0; i < kNodesPerFamily; ++i) {
            char path[32];
            deviceNodeName(family, i, path, sizeof path);
            uint32_t id = 0;
            if (!nodeScsiId(path, &id) || id != wanted)
                continue;
            formatNode(path, host, bus, target, lun, out, size);
            return true;
        }
    }
    return false;
}
