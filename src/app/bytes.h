#pragma once
#include <cstdint>

// Fixed-width integers read from a byte buffer in either byte order; the caller has checked that the bytes are
// there. PNG and JPEG 2000 are big-endian, XM and the movie container little-endian, MOD big-endian.

inline uint32_t ReadBe16(const uint8_t* p) {
    return uint32_t(p[0]) << 8 | p[1];
}
inline uint32_t ReadBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t ReadLe16(const uint8_t* p) {
    return p[0] | uint32_t(p[1]) << 8;
}
inline uint32_t ReadLe32(const uint8_t* p) {
    return p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
