// What every StuffIt decoder shares: the buffered fork input, the bit
// reader, the CRC-16, and method 0 (stored bytes).
#include <algorithm>
#include <array>
#include <string>

#include "containers/decoders/sit_decoders.h"

namespace containers::sit {

namespace {

constexpr size_t kBuffer = 64 * 1024;

// Stuffed bytes past the end that a last code may still cover.
constexpr int kSlackBytes = 4;

constexpr std::array<uint16_t, 256> make_crc16_table() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
        table[i] = static_cast<uint16_t>(c);
    }
    return table;
}
constexpr auto kCrc16 = make_crc16_table();

class Stored final : public Decoder {
public:
    explicit Stored(ByteInput input) : input_(std::move(input)) {}
    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (held_.empty() && (held_ = input_.take()).empty()) break;
            const size_t step = std::min(n - done, held_.size());
            std::copy_n(held_.begin(), step, out + done);
            held_ = held_.subspan(step);
            done += step;
        }
        return done;
    }

private:
    ByteInput input_;
    std::span<const uint8_t> held_;  // taken from the input, not yet given
};

}  // namespace

ByteInput::ByteInput(std::shared_ptr<const Source> source, uint64_t offset, uint64_t length)
    : source_(std::move(source)), offset_(offset), remaining_(length) {}

bool ByteInput::refill() {
    if (remaining_ == 0) return false;
    buffer_.resize(static_cast<size_t>(std::min<uint64_t>(kBuffer, remaining_)));
    const size_t got = source_->read_at(offset_, buffer_.data(), buffer_.size());
    buffer_.resize(got);
    pos_ = 0;
    offset_ += got;
    // A source shorter than the fork ends the fork where the source ends.
    remaining_ = got == 0 ? 0 : remaining_ - got;
    return got > 0;
}

void BitsLsb::fill(int count) {
    while (held_ < count) {
        int b = ended_ ? -1 : input_.next();
        if (b < 0) {
            ended_ = true;
            if (++past_end_ > kSlackBytes) damaged("compressed", "the compressed fork is cut short");
            b = 0;
        }
        bits_ |= static_cast<uint64_t>(b) << held_;
        held_ += 8;
    }
}

uint32_t BitsLsb::read(int count) {
    fill(count);
    const uint32_t value = static_cast<uint32_t>(bits_ & ((uint64_t{1} << count) - 1));
    bits_ >>= count;
    held_ -= count;
    return value;
}

bool BitsLsb::available(int count) {
    while (held_ < count && !ended_) {
        const int b = input_.next();
        if (b < 0) {
            ended_ = true;
            break;
        }
        bits_ |= static_cast<uint64_t>(b) << held_;
        held_ += 8;
    }
    return held_ >= count;
}

void BitsLsb::skip(uint64_t count) {
    while (count > 0) {
        const int step = static_cast<int>(std::min<uint64_t>(count, 16));
        if (!available(step)) {
            bits_ = 0;
            held_ = 0;
            return;
        }
        read(step);
        count -= static_cast<uint64_t>(step);
    }
}

uint16_t crc16(uint16_t crc, const uint8_t *data, size_t n) {
    for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrc16[(crc ^ data[i]) & 0xFF]);
    return crc;
}

void damaged(const char *method, const char *what) {
    throw Error(Grade::kMember, std::string(method) + " data damaged: " + what);
}

std::unique_ptr<Decoder> stored_decoder(ByteInput input) { return std::make_unique<Stored>(std::move(input)); }

}  // namespace containers::sit
