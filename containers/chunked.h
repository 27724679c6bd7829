// A disk stored in chunks (UDIF, NDIF, DART): each chunk a run of the disk
// that is zero, stored as it stands, or compressed by one method.  The disk
// is a Source read a chunk at a time: a read decodes the chunk it falls in
// (capped by the chunk's declared length) and keeps the last few decoded,
// so a walk over a volume never holds the whole disk in memory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "containers/decoders/methods.h"

namespace containers {

struct Chunk {
    uint64_t at = 0, length = 0;  // on the disk
    enum class Kind { kZero, kStored, kDecoded, kRefused } kind = Kind::kZero;
    uint64_t in_at = 0, in_length = 0;  // the stored or compressed bytes in the image
    std::unique_ptr<decoders::Decoder> (*decoder)(decoders::ByteInput) = nullptr;
    std::string refused;  // for kRefused: why the chunk cannot be read
};

// The longest chunk that is decoded whole into memory.
inline constexpr uint64_t kLongestChunk = uint64_t{64} << 20;

// The disk of `size` bytes that `chunks` describe, over the image `parent`.
// Throws Error (kFatal) when the chunks overlap, run past `size`, or a
// compressed one is longer than kLongestChunk; gaps read as zeros.  A read
// of a chunk that is damaged, cut short or refused throws Error (kMember).
std::unique_ptr<Source> chunked(std::shared_ptr<const Source> parent, std::vector<Chunk> chunks, uint64_t size);

// The first refused chunk's reason, or empty.
std::string refused(const std::vector<Chunk> &chunks);

}  // namespace containers
