#include "images/host_buffers.h"

namespace qemu::images {

uint8_t hostBufferByte(uint32_t uniqueId, uint32_t size, size_t offset) {
    static const char kTag[] = "QHOSTBUF";
    if (offset < 4)
        return static_cast<uint8_t>(uniqueId >> (8 * offset));
    if (offset < 8)
        return static_cast<uint8_t>(size >> (8 * (offset - 4)));
    if (offset < 16)
        return static_cast<uint8_t>(kTag[offset - 8]);
    return static_cast<uint8_t>(offset + (offset >> 8) + uniqueId);
}

std::vector<uint8_t> hostBufferContents(uint32_t uniqueId, uint32_t size, size_t length) {
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i)
        out[i] = hostBufferByte(uniqueId, size, i);
    return out;
}

}  // namespace qemu::images
