// Method 13: LZ77 over a 64 KB window with prefix codes.  A first byte picks
// the codes: its high nibble 0 means they follow as code lengths (themselves
// coded with a fixed meta-code), 1 to 5 one of five predefined sets.  Two
// literal/length codes of 321 symbols alternate (the first after a literal,
// the second after a match) and a third code gives the bit count of a
// match's offset.  Symbol 320 ends the stream.  Bits are read least
// significant first; a code's first bit is its most significant.
#include <array>
#include <vector>

#include "containers/decoders/sit_decoders.h"
#include "containers/decoders/sit_lzh_tables.h"

namespace containers::sit {

namespace {

constexpr int kSymbols = 321;
constexpr int kEnd = 320;
constexpr unsigned kWindow = 1u << 16;
constexpr int kMaxLength = 32;

// A prefix code as a binary tree walked one bit at a time.  A child is a node
// index (> 0), a leaf (-1 - symbol), or 0 when no code goes that way.
class PrefixCode {
public:
    // `codes[i]` holds symbol i's bits with the first bit read in bit 0.
    void add(uint32_t bits, int length, int symbol) {
        size_t node = 0;
        for (int i = 0; i < length; ++i, bits >>= 1) {
            const unsigned side = bits & 1;
            const int child = nodes_[node][side];
            if (child < 0 || (i == length - 1 && child != 0)) damaged("LZH", "the prefix code is ambiguous");
            if (i == length - 1) {
                nodes_[node][side] = -1 - symbol;
            } else if (child == 0) {
                nodes_[node][side] = static_cast<int>(nodes_.size());
                node = nodes_.size();
                nodes_.push_back({0, 0});
            } else {
                node = static_cast<size_t>(child);
            }
        }
    }

    // Canonical codes from lengths (0 or less: the symbol is absent),
    // assigned in order of length, then of symbol.
    static PrefixCode from_lengths(const int *lengths, int count) {
        PrefixCode code;
        uint64_t next = 0;
        const uint64_t top = uint64_t{1} << kMaxLength;
        for (int length = 1; length <= kMaxLength; ++length) {
            for (int symbol = 0; symbol < count; ++symbol) {
                if (lengths[symbol] != length) continue;
                if (next >= top) damaged("LZH", "the code lengths are oversubscribed");
                code.add(reverse(static_cast<uint32_t>(next >> (kMaxLength - length)), length), length, symbol);
                next += uint64_t{1} << (kMaxLength - length);
            }
        }
        return code;
    }

    int read(BitsLsb &bits) const {
        int node = 0;
        for (;;) {
            const int child = nodes_[static_cast<size_t>(node)][bits.read(1)];
            if (child < 0) return -1 - child;
            if (child == 0) damaged("LZH", "a bit sequence matches no code");
            node = child;
        }
    }

private:
    static uint32_t reverse(uint32_t value, int length) {
        uint32_t r = 0;
        for (int i = 0; i < length; ++i, value >>= 1) r = (r << 1) | (value & 1);
        return r;
    }
    std::vector<std::array<int, 2>> nodes_{{0, 0}};
};

const PrefixCode &meta_code() {
    static const PrefixCode code = [] {
        PrefixCode c;
        for (int i = 0; i < 37; ++i) c.add(lzh_tables::kMetaCodes[i], lzh_tables::kMetaLengths[i], i);
        return c;
    }();
    return code;
}

class Lzh final : public Decoder {
public:
    explicit Lzh(ByteInput input) : bits_(std::move(input)), window_(kWindow) { read_codes(); }

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (match_left_ > 0) {
                const uint8_t b = window_[(pos_ - distance_) & (kWindow - 1)];
                put(b, out, done);
                --match_left_;
                continue;
            }
            if (ended_) break;
            step(out, done);
        }
        return done;
    }

private:
    void put(uint8_t b, uint8_t *out, size_t &done) {
        window_[pos_ & (kWindow - 1)] = b;
        ++pos_;
        out[done++] = b;
    }

    void step(uint8_t *out, size_t &done) {
        const int symbol = (use_second_ ? second_ : first_).read(bits_);
        if (symbol < 256) {
            put(static_cast<uint8_t>(symbol), out, done);
            use_second_ = false;
            return;
        }
        if (symbol == kEnd) {
            ended_ = true;
            return;
        }
        unsigned length = symbol < 318 ? static_cast<unsigned>(symbol) - 253
                                        : bits_.read(symbol == 318 ? 10 : 15) + 65;
        const int bit_count = offset_.read(bits_);
        uint64_t offset = 0;
        if (bit_count > 0) offset = (uint64_t{1} << (bit_count - 1)) | (bit_count > 1 ? bits_.read(bit_count - 1) : 0);
        distance_ = offset + 1;
        if (distance_ > pos_ || distance_ > kWindow) damaged("LZH", "a match reaches before the start");
        match_left_ = length;
        use_second_ = true;
    }

    void read_lengths(int *lengths, int count) {
        int length = 0;
        for (int i = 0; i < count; ++i) {
            const int op = meta_code().read(bits_);
            int repeat = 0;
            if (op < 31) length = op + 1;
            else if (op == 31) length = -1;
            else if (op == 32) ++length;
            else if (op == 33) --length;
            else if (op == 34) repeat = static_cast<int>(bits_.read(1));
            else if (op == 35) repeat = static_cast<int>(bits_.read(3)) + 2;
            else repeat = static_cast<int>(bits_.read(6)) + 10;
            if (length > kMaxLength) damaged("LZH", "a code length is too long");
            if (i + repeat >= count) damaged("LZH", "code lengths run past the code");
            for (; repeat > 0; --repeat) lengths[i++] = length;
            lengths[i] = length;
        }
    }

    void read_codes() {
        const unsigned header = bits_.read(8);
        const unsigned set = header >> 4;
        if (set == 0) {
            std::array<int, kSymbols> lengths{};
            read_lengths(lengths.data(), kSymbols);
            first_ = PrefixCode::from_lengths(lengths.data(), kSymbols);
            if (!(header & 0x08)) read_lengths(lengths.data(), kSymbols);
            second_ = PrefixCode::from_lengths(lengths.data(), kSymbols);
            const int offsets = static_cast<int>(header & 7) + 10;
            read_lengths(lengths.data(), offsets);
            offset_ = PrefixCode::from_lengths(lengths.data(), offsets);
        } else if (set <= 5) {
            const auto &table = lzh_tables::kPredefined[set - 1];
            first_ = PrefixCode::from_lengths(table.first, kSymbols);
            second_ = PrefixCode::from_lengths(table.second, kSymbols);
            offset_ = PrefixCode::from_lengths(table.offset, table.offset_count);
        } else {
            damaged("LZH", "unknown code set");
        }
    }

    BitsLsb bits_;
    PrefixCode first_, second_, offset_;
    std::vector<uint8_t> window_;
    uint64_t pos_ = 0, distance_ = 0;
    unsigned match_left_ = 0;
    bool use_second_ = false, ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> lzh_decoder(ByteInput input) { return std::make_unique<Lzh>(std::move(input)); }

}  // namespace containers::sit
