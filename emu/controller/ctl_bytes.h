// Little-endian field access for the controller models. Every frame, page and
// image is read and written at named byte offsets, never through structs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qemu::ctl {

using Bytes = std::vector<uint8_t>;

inline uint16_t le16(const uint8_t* p, size_t off) {
    return static_cast<uint16_t>(p[off] | (p[off + 1] << 8));
}
inline uint32_t le32(const uint8_t* p, size_t off) {
    return static_cast<uint32_t>(p[off]) | (static_cast<uint32_t>(p[off + 1]) << 8) |
           (static_cast<uint32_t>(p[off + 2]) << 16) | (static_cast<uint32_t>(p[off + 3]) << 24);
}
inline uint64_t le64(const uint8_t* p, size_t off) {
    return static_cast<uint64_t>(le32(p, off)) | (static_cast<uint64_t>(le32(p, off + 4)) << 32);
}
inline void put8(uint8_t* p, size_t off, uint32_t v) {
    p[off] = static_cast<uint8_t>(v);
}
inline void put16(uint8_t* p, size_t off, uint32_t v) {
    p[off] = static_cast<uint8_t>(v);
    p[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[off + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}
inline void put64(uint8_t* p, size_t off, uint64_t v) {
    put32(p, off, static_cast<uint32_t>(v));
    put32(p, off + 4, static_cast<uint32_t>(v >> 32));
}
// Copies text into a fixed field, truncated and zero-padded.
inline void putText(uint8_t* p, size_t off, size_t width, const std::string& text) {
    std::memset(p + off, 0, width);
    std::memcpy(p + off, text.data(), text.size() < width ? text.size() : width);
}

// Vector variants, bounds-checked: writes past the end are dropped, reads give 0.
inline uint32_t get32(const Bytes& b, size_t off) {
    return off + 4 <= b.size() ? le32(b.data(), off) : 0;
}
inline uint16_t get16(const Bytes& b, size_t off) {
    return off + 2 <= b.size() ? le16(b.data(), off) : 0;
}
inline void set8(Bytes& b, size_t off, uint32_t v) {
    if (off < b.size())
        put8(b.data(), off, v);
}
inline void set16(Bytes& b, size_t off, uint32_t v) {
    if (off + 2 <= b.size())
        put16(b.data(), off, v);
}
inline void set32(Bytes& b, size_t off, uint32_t v) {
    if (off + 4 <= b.size())
        put32(b.data(), off, v);
}
inline void set64(Bytes& b, size_t off, uint64_t v) {
    if (off + 8 <= b.size())
        put64(b.data(), off, v);
}
inline void setText(Bytes& b, size_t off, size_t width, const std::string& text) {
    if (off + width <= b.size())
        putText(b.data(), off, width, text);
}

}  // namespace qemu::ctl
