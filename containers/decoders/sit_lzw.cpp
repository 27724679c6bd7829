// Method 2: the LZW of Unix compress with codes of 9 to 14 bits and block
// mode (code 256 clears the dictionary), without compress's 3-byte header.
// compress writes codes in groups of eight, so whenever the code width
// changes (the dictionary outgrows it, or a clear) the rest of the current
// group is padding and is skipped.
#include <array>

#include "containers/decoders/sit_decoders.h"

namespace containers::sit {

namespace {

constexpr int kMinBits = 9, kMaxBits = 14;
constexpr unsigned kEntries = 1u << kMaxBits;
constexpr unsigned kClear = 256, kFirst = 257;

class Lzw final : public Decoder {
public:
    explicit Lzw(ByteInput input) : bits_(std::move(input)) {}

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (depth_ > 0) {
                out[done++] = stack_[--depth_];
                continue;
            }
            if (ended_ || !decode_next()) break;
        }
        return done;
    }

private:
    // Skips what is left of the current group of eight codes.
    void realign() {
        const unsigned left = (8 - codes_in_group_ % 8) % 8;
        bits_.skip(static_cast<uint64_t>(left) * static_cast<uint64_t>(width_));
        codes_in_group_ = 0;
    }

    bool next_code(unsigned &code) {
        if (clearing_) {
            realign();
            width_ = kMinBits;
            clearing_ = false;
        } else if (free_ > max_code() && width_ < kMaxBits) {
            realign();
            ++width_;
        }
        if (!bits_.available(width_)) {
            ended_ = true;
            return false;
        }
        code = bits_.read(width_);
        ++codes_in_group_;
        return true;
    }

    unsigned max_code() const { return width_ == kMaxBits ? kEntries : (1u << width_) - 1; }

    bool decode_next() {
        unsigned code;
        if (!next_code(code)) return false;
        if (!started_) {
            if (code > 255) damaged("LZW", "the first code is not a byte");
            started_ = true;
            old_ = code;
            final_ = static_cast<uint8_t>(code);
            stack_[depth_++] = final_;
            return true;
        }
        if (code == kClear) {
            free_ = kClear;  // the next code only fills the unused slot 256
            clearing_ = true;
            return true;
        }
        const unsigned incoming = code;
        if (code >= free_) {
            if (code > free_) damaged("LZW", "a code refers past the dictionary");
            stack_[depth_++] = final_;
            code = old_;
        }
        while (code > 255) {
            stack_[depth_++] = suffix_[code];
            code = prefix_[code];
        }
        final_ = static_cast<uint8_t>(code);
        stack_[depth_++] = final_;
        if (free_ < kEntries) {
            prefix_[free_] = static_cast<uint16_t>(old_);
            suffix_[free_] = final_;
            ++free_;
        }
        old_ = incoming;
        return true;
    }

    BitsLsb bits_;
    std::array<uint16_t, kEntries> prefix_{};
    std::array<uint8_t, kEntries> suffix_{};
    std::array<uint8_t, kEntries + 1> stack_{};
    unsigned depth_ = 0;
    unsigned free_ = kFirst;
    unsigned old_ = 0;
    uint8_t final_ = 0;
    int width_ = kMinBits;
    unsigned codes_in_group_ = 0;
    bool started_ = false, clearing_ = false, ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> lzw_decoder(ByteInput input) { return std::make_unique<Lzw>(std::move(input)); }

}  // namespace containers::sit
