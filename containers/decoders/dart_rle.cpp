// DART's "fast" compression, on big-endian 16-bit words: a signed count
// word, then either that many literal words (count > 0) or one word
// repeated -count times (count < 0).
#include "containers/decoders/methods.h"

namespace containers::decoders {

namespace {

class DartRle final : public Decoder {
public:
    explicit DartRle(ByteInput input) : input_(std::move(input)) {}

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (half_) {
                out[done++] = static_cast<uint8_t>(word_);
                half_ = false;
                continue;
            }
            if (left_ == 0 && !next_code()) break;
            if (literal_) word_ = word("a literal run");
            --left_;
            out[done++] = static_cast<uint8_t>(word_ >> 8);
            half_ = true;
        }
        return done;
    }

private:
    uint16_t word(const char *where) {
        const int hi = input_.next();
        const int lo = hi < 0 ? -1 : input_.next();
        if (lo < 0) sit::damaged("DART RLE", where);
        return static_cast<uint16_t>(hi << 8 | lo);
    }

    bool next_code() {
        const int hi = input_.next();
        if (hi < 0) return false;
        const int lo = input_.next();
        if (lo < 0) sit::damaged("DART RLE", "the stream ends inside a count");
        const auto count = static_cast<int16_t>(hi << 8 | lo);
        if (count == 0) sit::damaged("DART RLE", "a count of zero");
        literal_ = count > 0;
        left_ = literal_ ? count : -static_cast<int32_t>(count);
        if (!literal_) word_ = word("a run");
        return true;
    }

    ByteInput input_;
    uint16_t word_ = 0;
    int32_t left_ = 0;
    bool literal_ = false, half_ = false;
};

}  // namespace

std::unique_ptr<Decoder> dart_rle_decoder(ByteInput input) { return std::make_unique<DartRle>(std::move(input)); }

}  // namespace containers::decoders
