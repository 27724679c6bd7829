// LZSS with an adaptive Huffman code, as DART's "best" compression uses it:
// a 4096-byte window that starts filled with zeros, matches of 3 to 60
// bytes.  The 314 symbols (256 bytes and 58 match lengths) sit at the leaves
// of a Huffman tree whose counts grow as symbols are decoded; the tree keeps
// its nodes sorted by count and is rebuilt, counts halved, when the root
// reaches 0x8000.  A match's distance is a 6-bit upper part in a fixed
// prefix code of 3 to 8 bits, then 6 bits as they stand.
#include <array>

#include "containers/decoders/methods.h"

namespace containers::decoders {

namespace {

constexpr int kWindow = 4096;
constexpr int kLongest = 60;
constexpr int kThreshold = 2;
constexpr int kSymbols = 256 - kThreshold + kLongest;  // 314
constexpr int kNodes = 2 * kSymbols - 1;                // 627
constexpr int kRoot = kNodes - 1;
constexpr unsigned kMostCount = 0x8000;

// The fixed code of a distance's upper six bits: how many of them have each
// length from 3 to 8 bits, the codes assigned in order of value.
constexpr std::array<int, 6> kUpperCounts = {1, 3, 8, 12, 24, 16};

struct UpperCode {
    std::array<uint8_t, 256> value{}, length{};  // by the first 8 bits read
};

constexpr UpperCode make_upper_code() {
    UpperCode code{};
    int prefix = 0, value = 0;
    for (int i = 0; i < 6; ++i) {
        const int length = 3 + i;
        for (int k = 0; k < kUpperCounts[i]; ++k, ++value)
            for (int n = 0; n < 256 >> length; ++n, ++prefix) {
                code.value[prefix] = static_cast<uint8_t>(value);
                code.length[prefix] = static_cast<uint8_t>(length);
            }
    }
    return code;
}
constexpr UpperCode kUpper = make_upper_code();

class Lzhuf final : public Decoder {
public:
    explicit Lzhuf(ByteInput input) : input_(std::move(input)) {
        window_.fill(0);
        start_tree();
    }

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (copy_left_ > 0) {
                put(out[done++] = window_[copy_from_++ % kWindow]);
                --copy_left_;
                continue;
            }
            if (!more()) break;
            const int symbol = decode_symbol();
            if (symbol < 256) {
                put(out[done++] = static_cast<uint8_t>(symbol));
                continue;
            }
            const int distance = decode_distance();
            copy_from_ = (at_ - distance - 1 + kWindow) % kWindow;
            copy_left_ = symbol - 255 + kThreshold;
        }
        return done;
    }

private:
    void put(uint8_t b) {
        window_[at_] = b;
        at_ = (at_ + 1) % kWindow;
    }

    // True while bits remain: the stream has no end code, so it ends where
    // its bytes do (the caller stops at the size the image declares).
    bool more() {
        if (held_ > 0) return true;
        const int b = input_.next();
        if (b < 0) return false;
        bits_ = static_cast<uint32_t>(b);
        held_ = 8;
        return true;
    }

    int bit() {
        if (held_ == 0) {
            const int b = input_.next();
            if (b < 0) sit::damaged("LZH", "the stream ends inside a code");
            bits_ = static_cast<uint32_t>(b);
            held_ = 8;
        }
        return static_cast<int>(bits_ >> --held_ & 1);
    }

    int bits(int count) {
        int v = 0;
        while (count-- > 0) v = v << 1 | bit();
        return v;
    }

    int decode_distance() {
        const int first = bits(8);
        int low = first;
        for (int i = 0; i < kUpper.length[first] - 2; ++i) low = low << 1 | bit();
        return kUpper.value[first] << 6 | (low & 0x3F);
    }

    void start_tree() {
        for (int i = 0; i < kSymbols; ++i) {
            count_[i] = 1;
            child_[i] = i + kNodes;
            parent_[i + kNodes] = i;
        }
        for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
            count_[j] = count_[i] + count_[i + 1];
            child_[j] = i;
            parent_[i] = parent_[i + 1] = j;
        }
        count_[kNodes] = 0xFFFF;  // a sentinel above every count
        parent_[kRoot] = 0;
    }

    int decode_symbol() {
        int node = child_[kRoot];
        while (node < kNodes) node = child_[node + bit()];
        const int symbol = node - kNodes;
        update(symbol);
        return symbol;
    }

    // Halves every leaf's count and rebuilds the inner nodes, kept sorted.
    void rebuild() {
        int j = 0;
        for (int i = 0; i < kNodes; ++i)
            if (child_[i] >= kNodes) {
                count_[j] = (count_[i] + 1) / 2;
                child_[j] = child_[i];
                ++j;
            }
        for (int i = 0, k = kSymbols; k < kNodes; i += 2, ++k) {
            const unsigned sum = count_[i] + count_[i + 1];
            int at = k - 1;
            while (sum < count_[at]) --at;
            ++at;
            for (int m = k; m > at; --m) {
                count_[m] = count_[m - 1];
                child_[m] = child_[m - 1];
            }
            count_[at] = sum;
            child_[at] = i;
        }
        for (int i = 0; i < kNodes; ++i) {
            const int c = child_[i];
            parent_[c] = i;
            if (c < kNodes) parent_[c + 1] = i;
        }
    }

    // Counts the symbol once more, moving each node on its path past the
    // nodes whose counts it now exceeds.
    void update(int symbol) {
        if (count_[kRoot] == kMostCount) rebuild();
        int node = parent_[symbol + kNodes];
        do {
            const unsigned k = ++count_[node];
            int l = node + 1;
            if (k > count_[l]) {
                while (k > count_[++l]) {
                }
                --l;
                count_[node] = count_[l];
                count_[l] = k;
                const int i = child_[node];
                parent_[i] = l;
                if (i < kNodes) parent_[i + 1] = l;
                const int j = child_[l];
                child_[l] = i;
                parent_[j] = node;
                if (j < kNodes) parent_[j + 1] = node;
                child_[node] = j;
                node = l;
            }
        } while ((node = parent_[node]) != 0);
    }

    ByteInput input_;
    std::array<uint8_t, kWindow> window_{};
    int at_ = kWindow - kLongest;
    int copy_from_ = 0, copy_left_ = 0;
    uint32_t bits_ = 0;
    int held_ = 0;
    std::array<unsigned, kNodes + 1> count_{};
    std::array<int, kNodes + kSymbols> parent_{};
    std::array<int, kNodes> child_{};
};

}  // namespace

std::unique_ptr<Decoder> lzhuf_decoder(ByteInput input) { return std::make_unique<Lzhuf>(std::move(input)); }

}  // namespace containers::decoders
