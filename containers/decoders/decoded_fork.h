// A compressed fork as a Source: decoded as it is read, forward a chunk at a
// time (a read before the current chunk starts the decoder again), so memory
// stays at one chunk whatever the fork's size, and never decoded past the
// size its archive declares.  The archive's check (a CRC) follows the bytes
// and is judged when the last one is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "containers/decoders/sit_decoders.h"

namespace containers {

class ForkCheck {
public:
    virtual ~ForkCheck() = default;
    virtual void restart() = 0;
    virtual void update(const uint8_t *data, size_t n) = 0;
    // After the last byte: throws Error (kMember) when the fork is damaged.
    virtual void end() = 0;
};

using MakeDecoder = std::function<std::unique_ptr<sit::Decoder>()>;

std::unique_ptr<Source> decoded_fork(MakeDecoder make, uint64_t size, std::unique_ptr<ForkCheck> check);

}  // namespace containers
