// Compact Pro's run-length code.  0x81 0x82 N (N > 1) repeats the byte
// written last N-1 times more; 0x81 0x82 0x00 stands for 0x81 0x82; 0x81
// before any other byte is a literal 0x81, and that byte is read afresh (so
// 0x81 0x81 0x82 N is a run of 0x81).
#include <array>

#include <zlib.h>

#include "containers/decoders/cpt_decoders.h"

namespace containers::cpt {

namespace {

constexpr int kEscape = 0x81, kRun = 0x82;

class Rle final : public sit::Decoder {
public:
    explicit Rle(std::unique_ptr<sit::Decoder> inner) : inner_(std::move(inner)) {}

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (pending_ > 0) {
                out[done++] = queued_[--pending_];
                continue;
            }
            if (repeat_ > 0) {
                --repeat_;
                out[done++] = last_;
                continue;
            }
            const int b = next();
            if (b < 0) break;
            if (b != kEscape) {
                out[done++] = last_ = static_cast<uint8_t>(b);
                continue;
            }
            const int c = next();
            if (c != kRun) {
                if (c >= 0) held_ = c;  // read afresh
                out[done++] = last_ = kEscape;
                continue;
            }
            const int count = next();
            if (count < 0) sit::damaged("Compact Pro RLE", "the stream ends inside a run");
            if (count == 0) {
                // Given in the order they are taken: the queue is read from its end.
                queued_ = {kRun, kEscape};
                pending_ = 2;
                last_ = kRun;
            } else {
                repeat_ = count - 1;
            }
        }
        return done;
    }

private:
    int next() {
        if (held_ >= 0) {
            const int b = held_;
            held_ = -1;
            return b;
        }
        if (at_ == filled_) {
            filled_ = inner_->read(buffer_.data(), buffer_.size());
            at_ = 0;
            if (filled_ == 0) return -1;
        }
        return buffer_[at_++];
    }

    std::unique_ptr<sit::Decoder> inner_;
    std::array<uint8_t, 4096> buffer_{};
    size_t at_ = 0, filled_ = 0;
    int held_ = -1;
    uint8_t last_ = 0;
    int repeat_ = 0;
    std::array<uint8_t, 2> queued_{};
    int pending_ = 0;
};

}  // namespace

std::unique_ptr<sit::Decoder> rle_decoder(std::unique_ptr<sit::Decoder> inner) {
    return std::make_unique<Rle>(std::move(inner));
}

// zlib's CRC-32 inverts before and after; the archive keeps the register
// itself, so the inversions are undone around it.
uint32_t crc32(uint32_t crc, const uint8_t *data, size_t n) {
    return ~static_cast<uint32_t>(::crc32(~crc & 0xFFFFFFFFu, data, static_cast<uInt>(n)));
}

}  // namespace containers::cpt
