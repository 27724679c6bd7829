// Big-endian fields of Macintosh files.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kavrel {

inline uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline int16_t be16s(const uint8_t *p) { return static_cast<int16_t>(be16(p)); }
inline uint32_t be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

inline void put_be16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void put_be32(uint8_t *p, uint32_t v) {
    put_be16(p, static_cast<uint16_t>(v >> 16));
    put_be16(p + 2, static_cast<uint16_t>(v));
}

// Reads a big-endian 16-bit word; false at the end of the stream.
inline bool read_be16(std::FILE *in, uint16_t &v) {
    uint8_t b[2];
    if (std::fread(b, 1, 2, in) != 2) return false;
    v = be16(b);
    return true;
}

}  // namespace kavrel
