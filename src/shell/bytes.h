// Explicit little/big-endian access to device and file layouts. Device
// structures are always read and written through these at named offsets,
// never by casting a byte buffer to a struct.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint16_t getLe16(const uint8_t* b, size_t off) {
    return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}
inline uint32_t getLe32(const uint8_t* b, size_t off) {
    return static_cast<uint32_t>(b[off]) | (static_cast<uint32_t>(b[off + 1]) << 8) |
           (static_cast<uint32_t>(b[off + 2]) << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
}
inline uint64_t getLe64(const uint8_t* b, size_t off) {
    return static_cast<uint64_t>(getLe32(b, off)) |
           (static_cast<uint64_t>(getLe32(b, off + 4)) << 32);
}
inline uint16_t getBe16(const uint8_t* b, size_t off) {
    return static_cast<uint16_t>((b[off] << 8) | b[off + 1]);
}
inline uint32_t getBe24(const uint8_t* b, size_t off) {
    return (static_cast<uint32_t>(b[off]) << 16) | (static_cast<uint32_t>(b[off + 1]) << 8) |
           b[off + 2];
}
inline uint32_t getBe32(const uint8_t* b, size_t off) {
    return (static_cast<uint32_t>(b[off]) << 24) | getBe24(b, off + 1);
}
inline uint64_t getBe64(const uint8_t* b, size_t off) {
    return (static_cast<uint64_t>(getBe32(b, off)) << 32) | getBe32(b, off + 4);
}

inline void putLe16(uint8_t* b, size_t off, uint16_t v) {
    b[off] = static_cast<uint8_t>(v);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t* b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putLe64(uint8_t* b, size_t off, uint64_t v) {
    putLe32(b, off, static_cast<uint32_t>(v));
    putLe32(b, off + 4, static_cast<uint32_t>(v >> 32));
}
inline void putBe16(uint8_t* b, size_t off, uint16_t v) {
    b[off] = static_cast<uint8_t>(v >> 8);
    b[off + 1] = static_cast<uint8_t>(v);
}
inline void putBe24(uint8_t* b, size_t off, uint32_t v) {
    b[off] = static_cast<uint8_t>(v >> 16);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
    b[off + 2] = static_cast<uint8_t>(v);
}
inline void putBe32(uint8_t* b, size_t off, uint32_t v) {
    b[off] = static_cast<uint8_t>(v >> 24);
    putBe24(b, off + 1, v);
}
inline void putBe64(uint8_t* b, size_t off, uint64_t v) {
    putBe32(b, off, static_cast<uint32_t>(v >> 32));
    putBe32(b, off + 4, static_cast<uint32_t>(v));
}
