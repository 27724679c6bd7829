// Method 1: run-length coding with 0x90 as the escape.  0x90 0x00 stands for
// a literal 0x90; 0x90 N (N > 0) repeats the byte before it until it has
// appeared N times in all.
#include "containers/decoders/sit_decoders.h"

namespace containers::sit {

namespace {

constexpr int kEscape = 0x90;

class Rle90 final : public Decoder {
public:
    explicit Rle90(ByteInput input) : input_(std::move(input)) {}

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (repeat_ > 0) {
                --repeat_;
                out[done++] = last_;
                continue;
            }
            const int b = input_.next();
            if (b < 0) break;
            if (b != kEscape) {
                out[done++] = last_ = static_cast<uint8_t>(b);
                seen_ = true;
                continue;
            }
            const int count = input_.next();
            if (count < 0) damaged("RLE", "the stream ends inside a run");
            if (count == 0) {
                out[done++] = last_ = kEscape;
                seen_ = true;
            } else {
                if (!seen_) damaged("RLE", "a run repeats nothing");
                repeat_ = count - 1;  // the byte already written counts once
            }
        }
        return done;
    }

private:
    ByteInput input_;
    uint8_t last_ = 0;
    int repeat_ = 0;
    bool seen_ = false;
};

}  // namespace

std::unique_ptr<Decoder> rle90_decoder(ByteInput input) { return std::make_unique<Rle90>(std::move(input)); }

}  // namespace containers::sit
