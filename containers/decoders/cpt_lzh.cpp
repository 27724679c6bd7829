// Compact Pro's LZH: LZSS over an 8 KiB window with three canonical Huffman
// codes, read most significant bit first.  Each block starts on a byte with
// its codes (a count of bytes, then two code lengths a byte, high nibble
// first: 256 literals, 64 lengths, 128 offset high parts); then symbols: a
// 1 bit and a literal, or a 0 bit, a length, the offset's high 7 bits by
// their code and its low 6 bits as they stand (an offset of 0 reaches the
// whole window back, 8192 bytes).  A block ends once literals
// (2 each) and matches (3 each) reach 0x1FFF0; the coder then leaves the
// rest of its 16-bit buffer: the input skips to a byte and then 2 more
// bytes, or 3 when the block's data took an odd number of bytes.
#include <array>
#include <vector>

#include "containers/decoders/cpt_decoders.h"

namespace containers::cpt {

namespace {

constexpr size_t kWindow = 8192;
constexpr uint32_t kBlockSize = 0x1FFF0;
constexpr int kMaxLength = 15;
constexpr int kSlackBytes = 4;  // zero bytes a last code may read past the end

// A canonical prefix code, decoded a bit at a time: symbols of each length
// in order of value take consecutive codes, shorter lengths first.
class Code {
public:
    void build(const uint8_t *lengths, size_t count) {
        counts_.fill(0);
        symbols_.clear();
        for (size_t i = 0; i < count; ++i) ++counts_[lengths[i]];
        counts_[0] = 0;
        for (int length = 1; length <= kMaxLength; ++length)
            for (size_t i = 0; i < count; ++i)
                if (lengths[i] == length) symbols_.push_back(static_cast<uint16_t>(i));
    }

    template <typename Bits>
    int decode(Bits &bits) const {
        int code = 0, first = 0, index = 0;
        for (int length = 1; length <= kMaxLength; ++length) {
            code |= static_cast<int>(bits.read(1));
            const int count = counts_[length];
            if (code - first < count) return symbols_[static_cast<size_t>(index + code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        sit::damaged("Compact Pro LZH", "a code that its block does not define");
    }

private:
    std::array<int, kMaxLength + 1> counts_{};
    std::vector<uint16_t> symbols_;
};

class BitsMsb {
public:
    explicit BitsMsb(sit::ByteInput input) : input_(std::move(input)) {}

    uint32_t read(int count) {
        while (held_ < count) {
            int b = input_.next();
            if (b < 0) {
                if (++past_end_ > kSlackBytes) sit::damaged("Compact Pro LZH", "the stream is cut short");
                b = 0;
            }
            bits_ = bits_ << 8 | static_cast<uint32_t>(b);
            held_ += 8;
            ++consumed_;
        }
        held_ -= count;
        return (bits_ >> held_) & ((1u << count) - 1);
    }
    int byte() { return static_cast<int>(read(8)); }

    // Leaves the bits of the byte begun, then skips `n` bytes.
    void align_and_skip(int n) {
        held_ = 0;
        for (int i = 0; i < n; ++i) read(8);
    }
    uint64_t consumed() const { return consumed_; }

private:
    sit::ByteInput input_;
    uint32_t bits_ = 0;
    int held_ = 0, past_end_ = 0;
    uint64_t consumed_ = 0;
};

class Lzh final : public sit::Decoder {
public:
    explicit Lzh(sit::ByteInput input) : bits_(std::move(input)) {}

    // The stream has no end marker: it ends where its input does, and the
    // caller stops at the size it declares.  A symbol cut short by the end
    // ends the stream after the bytes already given.
    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        try {
            done = decode(out, n);
        } catch (const Error &) {
            if (partial_ == 0) throw;
            done = partial_;
            ended_ = true;
        }
        partial_ = 0;
        return done;
    }

private:
    size_t decode(uint8_t *out, size_t n) {
        if (ended_) return 0;
        size_t &done = partial_;
        while (done < n) {
            if (copy_ > 0) {
                const uint8_t b = window_[(at_ - distance_) % kWindow];
                put(b);
                out[done++] = b;
                --copy_;
                continue;
            }
            if (block_used_ >= kBlockSize || !started_) next_block();
            if (bits_.read(1) == 1) {
                const uint8_t b = static_cast<uint8_t>(literals_.decode(bits_));
                put(b);
                out[done++] = b;
                block_used_ += 2;
            } else {
                copy_ = static_cast<size_t>(lengths_.decode(bits_));
                distance_ = static_cast<size_t>(offsets_.decode(bits_)) << 6 | bits_.read(6);
                block_used_ += 3;
            }
        }
        return done;
    }

    void put(uint8_t b) { window_[at_++ % kWindow] = b; }

    void next_block() {
        if (started_) {
            const uint64_t data_bytes = bits_.consumed() - block_start_;
            bits_.align_and_skip(data_bytes % 2 == 1 ? 3 : 2);
        }
        started_ = true;
        read_code(literals_, 256);
        read_code(lengths_, 64);
        read_code(offsets_, 128);
        block_start_ = bits_.consumed();
        block_used_ = 0;
    }

    void read_code(Code &code, size_t count) {
        std::array<uint8_t, 256> lengths{};
        const size_t bytes = static_cast<size_t>(bits_.byte());
        if (bytes * 2 > count) sit::damaged("Compact Pro LZH", "a block's code lists more lengths than symbols");
        for (size_t i = 0; i < bytes; ++i) {
            const int b = bits_.byte();
            lengths[2 * i] = static_cast<uint8_t>(b >> 4);
            lengths[2 * i + 1] = static_cast<uint8_t>(b & 0x0F);
        }
        code.build(lengths.data(), count);
    }

    BitsMsb bits_;
    Code literals_, lengths_, offsets_;
    std::array<uint8_t, kWindow> window_{};
    uint64_t at_ = 0;
    size_t copy_ = 0, distance_ = 0;
    uint32_t block_used_ = 0;
    uint64_t block_start_ = 0;
    bool started_ = false, ended_ = false;
    size_t partial_ = 0;  // bytes given by the call under way
};

}  // namespace

std::unique_ptr<sit::Decoder> lzh_decoder(sit::ByteInput input) { return std::make_unique<Lzh>(std::move(input)); }

}  // namespace containers::cpt
