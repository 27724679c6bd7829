// What the formats that wrap one file (MacBinary, BinHex, AppleSingle)
// share: a container of one member, read when opened.
#pragma once

#include <cstdint>

#include "containers/container.h"

namespace containers {

class OneMember : public Container {
public:
    bool next(Member &member) override {
        if (given_) return false;
        given_ = true;
        member = member_;
        return true;
    }

protected:
    Member member_;

private:
    bool given_ = false;
};

inline uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// CRC-16/XMODEM (polynomial 0x1021, initial 0), which MacBinary II and BinHex
// use, continued from `crc` over `n` bytes.
inline uint16_t crc16(uint16_t crc, const uint8_t *data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

}  // namespace containers
