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
    // What the conversion may still read of the document: characters of
    // text, and in MacWrite II the bytes of its chains.  A document whose
    // references point many times at the same text would otherwise multiply
    // it without bound; no real document reads more than a few times its own
    // size (compressed text doubles at most).
    long long read_budget = 0;

    void start_budget() { read_budget = 4LL * file_length + 65536; }
    // Takes n from the budget; false once it is overdrawn.
    bool spend(long long n) {
        read_budget -= n;
        return read_budget >= 0;
    }
    bool overdrawn() const { return read_budget < 0; }
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
