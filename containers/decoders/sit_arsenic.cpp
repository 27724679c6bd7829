// Method 15, "Arsenic": an adaptive arithmetic coder over a block-sorting
// compressor.  The stream starts with "As" and the block size; each block
// carries an end flag, a randomisation flag and the sort's start index, then
// move-to-front indexes with runs of zeros coded in bijective base 2.  After
// the inverse sort (and the derandomisation, when flagged), runs of four
// equal bytes are followed by a count of further repeats; that last stage
// runs across block boundaries.  A CRC-32 of the output ends the stream.
#include <algorithm>
#include <array>
#include <vector>

#include "containers/decoders/sit_decoders.h"

namespace containers::sit {

namespace {

constexpr int kPrecision = 26;
constexpr uint32_t kOne = 1u << (kPrecision - 1), kHalf = 1u << (kPrecision - 2);
// Bytes of zero bits the coder may read past the end before the fork counts
// as cut short (its registers hold a few bytes that the encoder flushed).
constexpr int kSlackBytes = 8;

constexpr uint16_t kRandom[256] = {
    0xee, 0x56, 0xf8, 0xc3, 0x9d, 0x9f, 0xae, 0x2c, 0xad, 0xcd, 0x24, 0x9d, 0xa6, 0x101, 0x18, 0xb9,
    0xa1, 0x82, 0x75, 0xe9, 0x9f, 0x55, 0x66, 0x6a, 0x86, 0x71, 0xdc, 0x84, 0x56, 0x96, 0x56, 0xa1,
    0x84, 0x78, 0xb7, 0x32, 0x6a, 0x3, 0xe3, 0x2, 0x11, 0x101, 0x8, 0x44, 0x83, 0x100, 0x43, 0xe3,
    0x1c, 0xf0, 0x86, 0x6a, 0x6b, 0xf, 0x3, 0x2d, 0x86, 0x17, 0x7b, 0x10, 0xf6, 0x80, 0x78, 0x7a,
    0xa1, 0xe1, 0xef, 0x8c, 0xf6, 0x87, 0x4b, 0xa7, 0xe2, 0x77, 0xfa, 0xb8, 0x81, 0xee, 0x77, 0xc0,
    0x9d, 0x29, 0x20, 0x27, 0x71, 0x12, 0xe0, 0x6b, 0xd1, 0x7c, 0xa, 0x89, 0x7d, 0x87, 0xc4, 0x101,
    0xc1, 0x31, 0xaf, 0x38, 0x3, 0x68, 0x1b, 0x76, 0x79, 0x3f, 0xdb, 0xc7, 0x1b, 0x36, 0x7b, 0xe2,
    0x63, 0x81, 0xee, 0xc, 0x63, 0x8b, 0x78, 0x38, 0x97, 0x9b, 0xd7, 0x8f, 0xdd, 0xf2, 0xa3, 0x77,
    0x8c, 0xc3, 0x39, 0x20, 0xb3, 0x12, 0x11, 0xe, 0x17, 0x42, 0x80, 0x2c, 0xc4, 0x92, 0x59, 0xc8,
    0xdb, 0x40, 0x76, 0x64, 0xb4, 0x55, 0x1a, 0x9e, 0xfe, 0x5f, 0x6, 0x3c, 0x41, 0xef, 0xd4, 0xaa,
    0x98, 0x29, 0xcd, 0x1f, 0x2, 0xa8, 0x87, 0xd2, 0xa0, 0x93, 0x98, 0xef, 0xc, 0x43, 0xed, 0x9d,
    0xc2, 0xeb, 0x81, 0xe9, 0x64, 0x23, 0x68, 0x1e, 0x25, 0x57, 0xde, 0x9a, 0xcf, 0x7f, 0xe5, 0xba,
    0x41, 0xea, 0xea, 0x36, 0x1a, 0x28, 0x79, 0x20, 0x5e, 0x18, 0x4e, 0x7c, 0x8e, 0x58, 0x7a, 0xef,
    0x91, 0x2, 0x93, 0xbb, 0x56, 0xa1, 0x49, 0x1b, 0x79, 0x92, 0xf3, 0x58, 0x4f, 0x52, 0x9c, 0x2,
    0x77, 0xaf, 0x2a, 0x8f, 0x49, 0xd0, 0x99, 0x4d, 0x98, 0x101, 0x60, 0x93, 0x100, 0x75, 0x31, 0xce,
    0x49, 0x20, 0x56, 0x57, 0xe2, 0xf5, 0x26, 0x2b, 0x8a, 0xbf, 0xde, 0xd0, 0x83, 0x34, 0xf4, 0x17};

constexpr std::array<uint32_t, 256> make_crc32_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrc32 = make_crc32_table();

// An adaptive frequency model over `count` consecutive symbols.
class Model {
public:
    Model(int first, int count, int increment, int limit)
        : first_(first), count_(count), increment_(increment), limit_(limit) {
        reset();
    }
    void reset() {
        std::fill(freq_.begin(), freq_.begin() + count_, increment_);
        total_ = increment_ * count_;
    }
    int total() const { return total_; }
    // The symbol whose cumulative range holds `target`, with that range.  The
    // last symbol's range reaches the top of the coder's range, past the
    // total that the rounded step covers.
    int find(uint32_t target, uint32_t &low, uint32_t &high) const {
        uint32_t cumulative = 0;
        for (int i = 0; i < count_; ++i) {
            const uint32_t next = cumulative + static_cast<uint32_t>(freq_[static_cast<size_t>(i)]);
            if (target < next || i == count_ - 1) {
                low = cumulative;
                high = next;
                return i;
            }
            cumulative = next;
        }
        return 0;
    }
    void update(int index) {
        freq_[static_cast<size_t>(index)] += increment_;
        total_ += increment_;
        if (total_ <= limit_) return;
        total_ = 0;
        for (int i = 0; i < count_; ++i) {
            int &f = freq_[static_cast<size_t>(i)];
            f = (f + 1) / 2;
            total_ += f;
        }
    }
    int first() const { return first_; }

private:
    int first_, count_, increment_, limit_;
    std::array<int, 128> freq_{};
    int total_ = 0;
};

class Coder {
public:
    explicit Coder(ByteInput input) : input_(std::move(input)) {
        for (int i = 0; i < kPrecision; ++i) code_ = (code_ << 1) | bit();
    }

    int decode(Model &model) {
        const uint32_t total = static_cast<uint32_t>(model.total());
        const uint32_t step = range_ / total;
        uint32_t low = 0, high = total;
        const int index = model.find(code_ / step, low, high);
        const uint32_t increment = step * low;
        code_ -= increment;
        range_ = high == total ? range_ - increment : (high - low) * step;
        while (range_ <= kHalf) {
            range_ <<= 1;
            code_ = (code_ << 1) | bit();
        }
        model.update(index);
        return model.first() + index;
    }

    // `count` binary decisions, least significant first.
    uint32_t bits(Model &model, int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) value |= static_cast<uint32_t>(decode(model)) << i;
        return value;
    }

private:
    uint32_t bit() {
        if (held_ == 0) {
            int b = input_.next();
            if (b < 0) {
                if (++past_end_ > kSlackBytes) damaged("Arsenic", "the compressed fork is cut short");
                b = 0;
            }
            byte_ = static_cast<uint32_t>(b);
            held_ = 8;
        }
        --held_;
        return (byte_ >> held_) & 1;
    }

    ByteInput input_;
    uint32_t range_ = kOne, code_ = 0, byte_ = 0;
    int held_ = 0, past_end_ = 0;
};

class Arsenic final : public Decoder {
public:
    Arsenic(ByteInput input, uint64_t expected) : coder_(std::move(input)), expected_(expected) {
        if (coder_.bits(primary_, 8) != 'A' || coder_.bits(primary_, 8) != 's')
            damaged("Arsenic", "the stream does not start with its signature");
        block_bits_ = static_cast<int>(coder_.bits(primary_, 4)) + 9;
        for (int i = 0; i < 7; ++i) mtf_models_.emplace_back(2 << i, 2 << i, i == 0 ? 8 : i < 4 ? 4 : i < 6 ? 2 : 1, 1024);
    }

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (repeat_ > 0) {
                const size_t k = std::min<size_t>(repeat_, n - done);
                std::fill(out + done, out + done + k, last_);
                update_crc(out + done, k);
                done += k;
                repeat_ -= static_cast<unsigned>(k);
                continue;
            }
            if (block_pos_ == block_.size() && !next_block()) break;
            take(sorted_byte(), out, done);
        }
        return done;
    }

    void finish() override {
        uint8_t extra;
        if (read(&extra, 1) != 0) damaged("Arsenic", "the stream holds more than the archive declares");
        if (stored_crc_ != (crc_ ^ 0xFFFFFFFFu)) damaged("Arsenic", "CRC-32 mismatch");
    }

private:
    // The final run-length stage: after four equal bytes, a count.
    void take(uint8_t b, uint8_t *out, size_t &done) {
        if (run_ == 4) {
            repeat_ = b;
            run_ = 0;
            return;
        }
        run_ = (run_ > 0 && b == last_) ? run_ + 1 : 1;
        last_ = b;
        out[done++] = b;
        update_crc(&b, 1);
    }

    void update_crc(const uint8_t *p, size_t n) {
        for (size_t i = 0; i < n; ++i) crc_ = (crc_ >> 8) ^ kCrc32[(crc_ ^ p[i]) & 0xFF];
    }

    uint8_t sorted_byte() {
        uint8_t b = block_[next_];
        next_ = links_[next_];
        if (randomised_) {
            if (block_pos_ == random_at_) {
                b ^= 1;
                random_index_ = (random_index_ + 1) % 256;
                random_at_ += kRandom[random_index_];
            }
        }
        ++block_pos_;
        return b;
    }

    bool next_block() {
        if (ended_) return false;
        if (coder_.decode(primary_)) {
            stored_crc_ = coder_.bits(primary_, 32);
            ended_ = true;
            return false;
        }
        randomised_ = coder_.decode(primary_) != 0;
        const uint32_t start = coder_.bits(primary_, block_bits_);
        read_block();
        if (block_.empty() || start >= block_.size()) damaged("Arsenic", "a block's start index lies outside it");
        unsort(start);
        block_pos_ = 0;
        random_index_ = 0;
        random_at_ = kRandom[0];
        return true;
    }

    void read_block() {
        selector_.reset();
        for (auto &m : mtf_models_) m.reset();
        for (int i = 0; i < 256; ++i) mtf_[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        block_.clear();
        // Every four block bytes give at least four output bytes, a count byte none.
        const uint64_t most = expected_ / 4 * 5 + 5;
        const size_t limit = static_cast<size_t>(std::min<uint64_t>(uint64_t{1} << block_bits_, most));
        uint64_t zeros = 0, weight = 0;
        for (;;) {
            const int selector = coder_.decode(selector_);
            if (selector < 2) {
                weight = weight == 0 ? 1 : weight * 2;
                zeros += weight * static_cast<uint64_t>(selector + 1);
                if (zeros > limit) damaged("Arsenic", "a block overflows its size");
                continue;
            }
            if (weight > 0) {
                emit(0, zeros, limit);
                zeros = weight = 0;
            }
            if (selector == 10) break;
            const int index = selector == 2 ? 1 : coder_.decode(mtf_models_[static_cast<size_t>(selector - 3)]);
            emit(index, 1, limit);
        }
    }

    void emit(int index, uint64_t count, size_t limit) {
        if (block_.size() + count > limit) damaged("Arsenic", "a block overflows its size");
        const uint8_t value = mtf_[static_cast<size_t>(index)];
        std::copy_backward(mtf_.begin(), mtf_.begin() + index, mtf_.begin() + index + 1);
        mtf_[0] = value;
        block_.insert(block_.end(), static_cast<size_t>(count), value);
    }

    // The inverse block sort: links_[i] is the row that follows row i.
    void unsort(uint32_t start) {
        std::array<uint32_t, 256> base{};
        for (uint8_t b : block_) ++base[b];
        uint32_t sum = 0;
        for (auto &c : base) {
            const uint32_t k = c;
            c = sum;
            sum += k;
        }
        links_.resize(block_.size());
        for (uint32_t i = 0; i < block_.size(); ++i) links_[base[block_[i]]++] = i;
        next_ = links_[start];
    }

    Coder coder_;
    uint64_t expected_;
    Model primary_{0, 2, 1, 256};
    Model selector_{0, 11, 8, 1024};
    std::vector<Model> mtf_models_;
    std::array<uint8_t, 256> mtf_{};
    std::vector<uint8_t> block_;
    std::vector<uint32_t> links_;
    int block_bits_ = 0;
    size_t block_pos_ = 0;
    uint32_t next_ = 0;
    bool randomised_ = false, ended_ = false;
    int random_index_ = 0;
    size_t random_at_ = 0;
    int run_ = 0;
    uint8_t last_ = 0;
    unsigned repeat_ = 0;
    uint32_t crc_ = 0xFFFFFFFFu, stored_crc_ = 0;
};

}  // namespace

std::unique_ptr<Decoder> arsenic_decoder(ByteInput input, uint64_t expected) {
    return std::make_unique<Arsenic>(std::move(input), expected);
}

}  // namespace containers::sit
