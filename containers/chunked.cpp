#include "containers/chunked.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "containers/source.h"

namespace containers {

namespace {

// Decoded chunks are kept, the one read longest ago making room, while
// they hold no more than this many bytes together (and two of them
// whatever their size).  A walk over a volume goes back and forth between
// the catalog's nodes and the forks it lists, which lie in the catalog's
// order of names rather than on the disk's: a few dozen chunks of hdiutil's
// 1 MiB spare decoding each chunk over again for every file it holds.
constexpr size_t kKeptBytes = size_t{16} << 20;
constexpr size_t kLeastKept = 2;

class ChunkedDisk final : public Source {
public:
    ChunkedDisk(std::shared_ptr<const Source> parent, std::vector<Chunk> chunks, uint64_t size)
        : parent_(std::move(parent)), chunks_(std::move(chunks)), size_(size) {}

    uint64_t size() const override { return size_; }

    size_t read_at(uint64_t offset, void *buffer, size_t n) const override {
        if (offset >= size_) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
        auto *out = static_cast<uint8_t *>(buffer);
        for (size_t done = 0; done < n;) {
            const uint64_t at = offset + done;
            // The first chunk that ends past `at`.
            auto c = std::upper_bound(chunks_.begin(), chunks_.end(), at,
                                      [](uint64_t a, const Chunk &k) { return a < k.at + k.length; });
            size_t step;
            if (c == chunks_.end() || c->at > at) {
                // A gap between chunks reads as zeros.
                step = static_cast<size_t>(std::min<uint64_t>(n - done, (c == chunks_.end() ? size_ : c->at) - at));
                std::memset(out + done, 0, step);
            } else {
                step = static_cast<size_t>(std::min<uint64_t>(n - done, c->at + c->length - at));
                read_chunk(*c, at - c->at, out + done, step);
            }
            done += step;
        }
        return n;
    }

private:
    void read_chunk(const Chunk &c, uint64_t within, uint8_t *out, size_t n) const {
        switch (c.kind) {
            case Chunk::Kind::kZero:
                std::memset(out, 0, n);
                return;
            case Chunk::Kind::kStored:
                if (within + n > c.in_length || parent_->read_at(c.in_at + within, out, n) != n)
                    throw Error(Grade::kMember, "a stored chunk lies past the end of the image");
                return;
            case Chunk::Kind::kRefused:
                throw Error(Grade::kMember, c.refused);
            case Chunk::Kind::kDecoded:
                break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        std::memcpy(out, decoded(c) + within, n);
    }

    // The chunk decoded, from the kept ones or anew.  A slot's memory is
    // reused as it stands, never cleared: the decoder fills every byte of
    // the chunk or the chunk is an error.
    const uint8_t *decoded(const Chunk &c) const {
        for (Kept &k : kept_)
            if (k.chunk == &c) {
                k.read = ++reads_;
                return k.bytes.get();
            }
        if (c.in_at > parent_->size() || c.in_length > parent_->size() - c.in_at)
            throw Error(Grade::kMember, "a compressed chunk lies past the end of the image");
        const auto length = static_cast<size_t>(c.length);
        Kept &slot = room_for(length);
        slot.chunk = nullptr;
        if (slot.capacity < length) {
            slot.bytes.reset();
            slot.bytes = std::make_unique_for_overwrite<uint8_t[]>(length);
            held_ += length - slot.capacity;
            slot.capacity = length;
        }
        auto decoder = c.decoder(decoders::ByteInput(parent_, c.in_at, c.in_length));
        size_t got = 0;
        for (size_t step; got < length && (step = decoder->read(slot.bytes.get() + got, length - got)) > 0;) got += step;
        if (got < length)
            throw Error(Grade::kMember, "a compressed chunk gives " + std::to_string(got) + " bytes of the " +
                                            std::to_string(c.length) + " it declares");
        decoder->finish();
        slot.chunk = &c;
        slot.read = ++reads_;
        return slot.bytes.get();
    }

    struct Kept {
        const Chunk *chunk = nullptr;  // null while being decoded, or after a decoding failed
        std::unique_ptr<uint8_t[]> bytes;
        size_t capacity = 0;
        uint64_t read = 0;  // when it was last read, in reads_
    };

    // A slot for a chunk of `length` bytes: a new one while the kept chunks
    // leave room for it, else the one read longest ago, whose memory is
    // reused when it is large enough and given back otherwise.
    Kept &room_for(size_t length) const {
        while (kept_.size() >= kLeastKept && held_ + length > kKeptBytes) {
            const auto oldest = std::min_element(kept_.begin(), kept_.end(),
                                                 [](const Kept &a, const Kept &b) { return a.read < b.read; });
            if (oldest->capacity >= length) return *oldest;
            held_ -= oldest->capacity;
            kept_.erase(oldest);
        }
        kept_.emplace_back();
        return kept_.back();
    }

    std::shared_ptr<const Source> parent_;
    std::vector<Chunk> chunks_;
    uint64_t size_;
    mutable std::mutex mutex_;
    mutable std::vector<Kept> kept_;
    mutable size_t held_ = 0;     // the kept slots' bytes
    mutable uint64_t reads_ = 0;  // reads of decoded chunks so far
};

}  // namespace

std::unique_ptr<Source> chunked(std::shared_ptr<const Source> parent, std::vector<Chunk> chunks, uint64_t size) {
    std::erase_if(chunks, [](const Chunk &c) { return c.length == 0; });
    std::sort(chunks.begin(), chunks.end(), [](const Chunk &a, const Chunk &b) { return a.at < b.at; });
    uint64_t end = 0;
    for (const Chunk &c : chunks) {
        if (c.at < end) throw Error(Grade::kFatal, "two chunks of the disk overlap");
        if (c.at > size || c.length > size - c.at) throw Error(Grade::kFatal, "a chunk lies past the end of the disk");
        if (c.kind == Chunk::Kind::kDecoded && c.length > kLongestChunk)
            throw Error(Grade::kFatal, "a compressed chunk claims " + std::to_string(c.length) + " bytes, more than " +
                                           std::to_string(kLongestChunk) + " that mwconv decodes at once");
        end = c.at + c.length;
    }
    return std::make_unique<ChunkedDisk>(std::move(parent), std::move(chunks), size);
}

std::string refused(const std::vector<Chunk> &chunks) {
    for (const Chunk &c : chunks)
        if (c.kind == Chunk::Kind::kRefused) return c.refused;
    return {};
}

}  // namespace containers
