// One decoder (StuffIt's, a disk image's) over the fuzzer's bytes as a compressed fork: decoded
// to the end or to the first error, never past a megabyte of output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "containers/decoders/sit_decoders.h"
#include "containers/source.h"

inline int fuzz_sit_decoder(std::unique_ptr<containers::sit::Decoder> (*make)(containers::sit::ByteInput),
                            const uint8_t *data, size_t size) {
    std::shared_ptr<const containers::Source> source = containers::bytes(std::vector<uint8_t>(data, data + size));
    try {
        auto decoder = make(containers::sit::ByteInput(source, 0, size));
        uint8_t out[4096];
        size_t total = 0;
        for (size_t n; total < (1u << 20) && (n = decoder->read(out, sizeof out)) > 0;) total += n;
        decoder->finish();
    } catch (const containers::Error &) {
    }
    return 0;
}
