// Operating-system names of SCSI devices: the candidate node names, the
// packed address the kernel's SCSI_IOCTL_GET_IDLUN answers, and the search
// over /dev/sd*, /dev/sr*, /dev/sg* and /dev/st* that ties them together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

// The i-th name (0..255) of a node family: "/dev/sda".."/dev/sdz",
// "/dev/sdaa"... for "/dev/sd", "<prefix><i>" for the others.
void deviceNodeName(const char* family, uint32_t index, char* out, size_t size);

// (host << 24) | (bus << 16) | (lun << 8) | target, each cut to 8 bits as
// the kernel packs them.
uint32_t packedScsiId(uint32_t host, uint32_t bus, uint32_t target, uint32_t lun);

// The host number an adapter name "SAS Host %d" carries; false otherwise.
bool hostNumberFromName(const char* name, size_t size, uint32_t* host);

// Searches the node families for the device; on a match writes
// "%-12s [%d:%d:%d:%d]" (node, host, bus, target, lun) and returns true.
bool findDeviceNode(uint32_t host, uint32_t bus, uint32_t target, uint32_t lun, char* out,
                    size_t size);

// Every candidate node asked once, for commands that name many devices: a
// search per device would open every node again for each one. Finds what
// findDeviceNode finds (the first node in search order with that address).
class DeviceNodeIndex final {
  public:
    // Asks each node of each family for its address.
    void build();
    bool find(uint32_t host, uint32_t bus, uint32_t target, uint32_t lun, char* out,
              size_t size) const;

  private:
    std::unordered_map<uint32_t, std::string> pathById_;
};
