// Apple Data Compression.  Each code starts with a byte:
//   1xxxxxxx            x+1 literal bytes follow (1-128);
//   01xxxxxx hi lo      copy x+4 bytes (4-67) from distance hi:lo + 1;
//   00xxxxyy lo         copy x+3 bytes (3-18) from distance yy:lo + 1.
// A copy may overlap the bytes it writes (a run).
#include <array>

#include "containers/decoders/methods.h"

namespace containers::decoders {

namespace {

constexpr size_t kWindow = 1 << 16;  // the longest distance is 65536

class Adc final : public Decoder {
public:
    explicit Adc(ByteInput input) : input_(std::move(input)) {}

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (left_ == 0 && !next_code()) break;
            const uint8_t b = literal_ ? byte("a literal run") : window_[(at_ - distance_) % kWindow];
            window_[at_++ % kWindow] = b;
            out[done++] = b;
            --left_;
        }
        return done;
    }

private:
    uint8_t byte(const char *where) {
        const int b = input_.next();
        if (b < 0) sit::damaged("ADC", where);
        return static_cast<uint8_t>(b);
    }

    // Reads the next code; false at the end of the chunk.
    bool next_code() {
        const int b = input_.next();
        if (b < 0) return false;
        literal_ = (b & 0x80) != 0;
        if (literal_) {
            left_ = (b & 0x7F) + 1;
            return true;
        }
        if (b & 0x40) {
            left_ = (b & 0x3F) + 4;
            distance_ = (size_t{byte("a copy")} << 8 | byte("a copy")) + 1;
        } else {
            left_ = ((b >> 2) & 0x0F) + 3;
            distance_ = (size_t(b & 0x03) << 8 | byte("a copy")) + 1;
        }
        if (distance_ > at_) sit::damaged("ADC", "a copy reaches before the start of the chunk");
        return true;
    }

    ByteInput input_;
    std::array<uint8_t, kWindow> window_{};
    uint64_t at_ = 0;  // bytes written so far
    size_t left_ = 0, distance_ = 0;
    bool literal_ = false;
};

}  // namespace

std::unique_ptr<Decoder> adc_decoder(ByteInput input) { return std::make_unique<Adc>(std::move(input)); }

}  // namespace containers::decoders
