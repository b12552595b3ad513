// Contents of a controller's host diagnostic buffer, as the emulated
// firmware fills it: a 16-byte head (u32 unique ID, u32 registered size,
// "QHOSTBUF"), then byte i = (i + (i >> 8) + unique ID) mod 256. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qemu::images {

uint8_t hostBufferByte(uint32_t uniqueId, uint32_t size, size_t offset);
// The first `length` bytes of a buffer of `size` bytes.
std::vector<uint8_t> hostBufferContents(uint32_t uniqueId, uint32_t size, size_t length);

}  // namespace qemu::images
