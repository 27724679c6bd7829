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
};

}  // namespace kavrel
