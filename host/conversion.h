// What every import keeps for one call: its two streams, the three host
// records it owns, the character table in force and where the document
// starts after a MacBinary header.
#pragma once

#include <cstdio>

#include "host/kavrel.h"

namespace kavrel {

struct ImportState {
    std::FILE *in = nullptr;
    std::FILE *out = nullptr;
    CharAttributes ca{};
    ParaFormat pf{};
    TabColumns tc{};
    const uint16_t *table = MAC2INT;
    long mac_binary_offset = 0;
    long file_length = 0;   // of the input, measured once at the start
};

// The length of a seekable stream; its position is left where it was.
inline long stream_length(std::FILE *f) {
    const long here = std::ftell(f);
    std::fseek(f, 0, SEEK_END);
    const long end = std::ftell(f);
    std::fseek(f, here, SEEK_SET);
    return end < 0 ? 0 : end;
}

}  // namespace kavrel
