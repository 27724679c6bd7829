// LZFSE streams (UDIF's type 0x80000007 chunks, hdiutil's ULFO images): blocks
// one after another, each opened by a four-byte tag, until the tag "bvx$":
//   "bvx-"  stored bytes;
//   "bvx1"  an LZ77 block whose literals and (literal length, match length,
//           distance) triples are entropy coded with finite-state tables, the
//           tables' counts given plainly in the header;
//   "bvx2"  the same with the header's fields packed and the counts in a
//           short prefix code;
//   "bvxn"  an LZVN block: byte-aligned opcodes, each some literals and a match.
// A match may reach back into the earlier blocks of the stream.  Neither coding
// can express a distance of 2^18 or more, so a window of that size holds all a
// match can reach, whatever the size of the chunk.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "containers/decoders/methods.h"

namespace containers::decoders {

namespace {

constexpr uint32_t tag(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 | uint32_t(uint8_t(s[3])) << 24;
}
constexpr uint32_t kStoredTag = tag("bvx-"), kPlainTablesTag = tag("bvx1"), kPackedTablesTag = tag("bvx2"),
                   kLzvnTag = tag("bvxn"), kEndTag = tag("bvx$");

constexpr size_t kWindow = size_t{1} << 18;
constexpr uint32_t kMostMatches = 10000, kMostLiterals = 4 * kMostMatches;
// Far more than the most literals and triples a block holds can take.
constexpr uint32_t kLongestPayload = uint32_t{1} << 20;

// The four alphabets' sizes and the number of states of each table.
constexpr size_t kLengthSymbols = 20, kDistanceSymbols = 64, kLiteralSymbols = 256;
constexpr size_t kAllCounts = 2 * kLengthSymbols + kDistanceSymbols + kLiteralSymbols;
constexpr unsigned kLengthStates = 64, kDistanceStates = 256, kLiteralStates = 1024;

void damaged(const std::string &what) { sit::damaged("LZFSE", what.c_str()); }

// A length or distance is a symbol's base value plus the symbol's number of
// raw bits; the bases follow from the bit counts, each symbol starting where
// the one before it ends.
template <size_t N>
struct Alphabet {
    std::array<uint8_t, N> extra{};
    std::array<uint32_t, N> base{};
};

template <size_t N>
constexpr Alphabet<N> alphabet(const std::array<uint8_t, N> &extra) {
    Alphabet<N> a{extra, {}};
    for (size_t i = 1; i < N; ++i) a.base[i] = a.base[i - 1] + (uint32_t{1} << extra[i - 1]);
    return a;
}

constexpr std::array<uint8_t, kLengthSymbols> short_lengths_then(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    std::array<uint8_t, kLengthSymbols> extra{};
    extra[16] = a, extra[17] = b, extra[18] = c, extra[19] = d;
    return extra;
}

constexpr std::array<uint8_t, kDistanceSymbols> distance_bits() {
    std::array<uint8_t, kDistanceSymbols> extra{};
    for (size_t i = 0; i < kDistanceSymbols; ++i) extra[i] = static_cast<uint8_t>(i / 4);
    return extra;
}

constexpr auto kLiteralLengths = alphabet(short_lengths_then(2, 3, 5, 8));
constexpr auto kMatchLengths = alphabet(short_lengths_then(3, 5, 8, 11));
constexpr auto kDistances = alphabet(distance_bits());

uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t le64(const uint8_t *p) { return le32(p) | uint64_t{le32(p + 4)} << 32; }
uint32_t field(uint64_t v, int at, int bits) { return static_cast<uint32_t>(v >> at & ((uint64_t{1} << bits) - 1)); }

// An entropy-coded stream is written backwards: it is read from its last byte
// towards its first, each byte's bits from the most significant down.  The
// last byte may hold fewer bits (8 + `final_bits`, final_bits in -8..0),
// its unused top bits zero.
class BackwardBits {
public:
    void start(std::span<const uint8_t> bytes, int final_bits, const char *stream) {
        stream_ = stream;
        if (final_bits < -8 || final_bits > 0) damaged(std::string("the ") + stream + " stream's bit count is out of range");
        if (bytes.empty()) damaged(std::string("the ") + stream + " stream is empty");
        bytes_ = bytes;
        at_ = bytes.size() - 1;
        held_ = 8 + final_bits;
        bits_ = bytes[at_];
        if (bits_ >> held_ != 0) damaged(std::string("the ") + stream + " stream's unused bits are not zero");
    }

    uint32_t pull(int count) {
        if (held_ < count) refill(count);
        held_ -= count;
        return static_cast<uint32_t>(bits_ >> held_) & ((uint32_t{1} << count) - 1);
    }

private:
    void refill(int count) {
        // Never more than 64 bits held: the oldest ones are shifted out only
        // once they have been read.
        while (held_ <= 56 && at_ > 0) {
            bits_ = bits_ << 8 | bytes_[--at_];
            held_ += 8;
        }
        if (held_ < count) damaged(std::string("the ") + stream_ + " stream is cut short");
    }

    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
    uint64_t bits_ = 0;
    int held_ = 0;
    const char *stream_ = "";
};

// One state of a literal table: the byte it gives, and the next state as
// `next` plus `bits` bits of the stream.
struct LiteralState {
    uint8_t bits = 0, symbol = 0;
    uint16_t next = 0;
};

// One state of a length or distance table: as a literal state, and the value
// as `base` plus `extra` more bits read with the state's own (`bits` in all).
struct ValueState {
    uint8_t bits = 0, extra = 0;
    uint16_t next = 0;
    uint32_t base = 0;
};

// Gives each symbol a run of states as long as its count, in the symbols'
// order.  The first states of a run read one bit more than the others, so
// that together the run's next states cover the whole table once.
template <typename Fill>
void spread(std::span<const uint16_t> counts, unsigned states, Fill fill) {
    unsigned at = 0;
    for (size_t symbol = 0; symbol < counts.size(); ++symbol) {
        const unsigned f = counts[symbol];
        if (f == 0) continue;
        // states <= f << k < 2 * states
        const int k = std::bit_width(states) - std::bit_width(f);
        const unsigned wider = ((2 * states) >> k) - f;
        for (unsigned j = 0; j < f; ++j, ++at) {
            if (j < wider) fill(at, symbol, k, ((f + j) << k) - states);
            else fill(at, symbol, k - 1, (j - wider) << (k - 1));
        }
    }
}

// A table's counts must fill its states exactly; none at all is allowed for
// a table the block never reads (no literals, no matches).
void check_counts(std::span<const uint16_t> counts, unsigned states, bool used, const char *table) {
    uint32_t sum = 0;
    for (uint16_t c : counts) sum += c;
    if (sum == states || (sum == 0 && !used)) return;
    damaged(std::string("the ") + table + " table's counts add up to " + std::to_string(sum) + ", not " + std::to_string(states));
}

template <size_t N, size_t S>
void value_table(std::span<const uint16_t> counts, const Alphabet<N> &alphabet, std::array<ValueState, S> &table) {
    spread(counts, S, [&](unsigned state, size_t symbol, int bits, unsigned next) {
        table[state] = {static_cast<uint8_t>(bits + alphabet.extra[symbol]), alphabet.extra[symbol], static_cast<uint16_t>(next),
                        alphabet.base[symbol]};
    });
}

struct BlockHeader {
    uint32_t output = 0, literals = 0, matches = 0, literal_bytes = 0, triple_bytes = 0;
    int literal_bits = 0, triple_bits = 0;
    std::array<uint16_t, 4> literal_states{};
    uint16_t l_state = 0, m_state = 0, d_state = 0;
    std::array<uint16_t, kAllCounts> counts{};  // literal lengths, match lengths, distances, literals
};

// The packed header's counts: a prefix code read from the low bits up.
//   x0            0-1         (2 bits)
//   x01           2-3         (3 bits)
//   xx011         4-7         (5 bits)
//   xxxx0111      8-23        (8 bits)
//   x{10}1111     24-1047     (14 bits)
// The code fills its bytes but for the last one's top bits.
void unpack_counts(const uint8_t *p, size_t n, std::array<uint16_t, kAllCounts> &counts) {
    counts.fill(0);
    if (n == 0) return;  // no tables: a block without literals or matches
    uint64_t at = 0;     // in bits
    for (uint16_t &count : counts) {
        // The next 14 bits lie in three bytes at most; those past the end read as zeros.
        uint32_t v = 0;
        for (size_t i = 0; i < 3 && at / 8 + i < n; ++i) v |= uint32_t{p[at / 8 + i]} << 8 * i;
        v >>= at % 8;
        int length;
        if ((v & 1) == 0) length = 2, count = static_cast<uint16_t>(v >> 1 & 1);
        else if ((v & 2) == 0) length = 3, count = static_cast<uint16_t>(2 + (v >> 2 & 1));
        else if ((v & 4) == 0) length = 5, count = static_cast<uint16_t>(4 + (v >> 3 & 3));
        else if ((v & 8) == 0) length = 8, count = static_cast<uint16_t>(8 + (v >> 4 & 15));
        else length = 14, count = static_cast<uint16_t>(24 + (v >> 4 & 1023));
        at += length;
        if (at > n * 8) damaged("the block header's tables are cut short");
    }
    if ((at + 7) / 8 != n) damaged("the block header's tables do not fill the header");
}

class Lzfse final : public Decoder {
public:
    explicit Lzfse(ByteInput input) : input_(std::move(input)) {}

    size_t read(uint8_t *out, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (literal_left_ > 0) done += copy_literals(out + done, n - done);
            else if (match_left_ > 0) done += copy_match(out + done, n - done);
            else if (!next_step()) break;
        }
        return done;
    }

    // The declared size is given: the stream should end here, after any
    // steps that give nothing (an LZVN block's end, a nop), with its end
    // block.  A stream that would give more is cut at the declared size, as
    // every method's is, without decoding the rest.
    void finish() override {
        while (block_ != Block::kEnded) {
            if (literal_left_ > 0 || match_left_ > 0) return;
            next_step();
        }
    }

private:
    enum class Block { kNone, kStored, kTables, kLzvn, kEnded };

    uint8_t byte() {
        const int b = input_.next();
        if (b < 0) damaged("the stream is cut short");
        return static_cast<uint8_t>(b);
    }
    uint32_t u32() {
        uint8_t b[4];
        for (uint8_t &x : b) x = byte();
        return le32(b);
    }
    uint8_t payload_byte() {
        if (payload_left_ == 0) damaged("an LZVN block ends without its end opcode");
        --payload_left_;
        return byte();
    }

    // Keeps the bytes just given in the window.
    void keep(const uint8_t *p, size_t n) {
        for (size_t i = 0; i < n;) {
            const size_t at = static_cast<size_t>(written_ % kWindow), step = std::min(n - i, kWindow - at);
            std::memcpy(window_.data() + at, p + i, step);
            i += step;
            written_ += step;
        }
    }

    size_t copy_literals(uint8_t *out, size_t n) {
        const auto step = static_cast<size_t>(std::min<uint64_t>(n, literal_left_));
        if (block_ == Block::kTables) {
            std::memcpy(out, literals_.data() + literal_at_, step);
            literal_at_ += static_cast<uint32_t>(step);
        } else {
            for (size_t i = 0; i < step; ++i) out[i] = block_ == Block::kLzvn ? payload_byte() : byte();
        }
        keep(out, step);
        literal_left_ -= step;
        return step;
    }

    // A match may overlap the bytes it writes.  Its first `distance` bytes
    // come from the window; the rest repeat them, and are copied from this
    // step's own start in runs that double, each a whole number of repeats.
    size_t copy_match(uint8_t *out, size_t n) {
        const auto step = static_cast<size_t>(std::min<uint64_t>(n, match_left_));
        const auto head = static_cast<size_t>(std::min<uint64_t>(step, distance_));
        for (size_t done = 0; done < head;) {
            const auto from = static_cast<size_t>((written_ - distance_ + done) % kWindow);
            const size_t run = std::min(head - done, kWindow - from);
            std::memcpy(out + done, window_.data() + from, run);
            done += run;
        }
        for (size_t done = head; done < step;) {
            const size_t run = std::min(done, step - done);
            std::memcpy(out + done, out, run);
            done += run;
        }
        keep(out, step);
        match_left_ -= step;
        return step;
    }

    // Sets up the next literals and match, or moves to the next block; false
    // at the end of the stream.
    bool next_step() {
        switch (block_) {
            case Block::kNone: return next_block();
            case Block::kStored: block_ = Block::kNone; return true;
            case Block::kTables: next_triple(); return true;
            case Block::kLzvn: next_opcode(); return true;
            case Block::kEnded: return false;
        }
        return false;
    }

    bool next_block() {
        const int first = input_.next();
        if (first < 0) damaged("the stream ends without its end block");
        uint32_t magic = static_cast<uint32_t>(first);
        for (int shift = 8; shift < 32; shift += 8) magic |= uint32_t{byte()} << shift;
        if (magic == kEndTag) {
            block_ = Block::kEnded;
            return false;
        }
        if (magic == kStoredTag) {
            literal_left_ = u32();
            block_ = Block::kStored;
        } else if (magic == kLzvnTag) {
            block_left_ = u32();
            payload_left_ = u32();
            lzvn_distance_ = 0;
            block_ = Block::kLzvn;
        } else if (magic == kPlainTablesTag || magic == kPackedTablesTag) {
            start_tables(magic == kPlainTablesTag ? plain_header() : packed_header());
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", magic);
            damaged(std::string("a block has an unknown tag (") + hex + ")");
        }
        return true;
    }

    BlockHeader plain_header() {
        // The header is 772 bytes, 4 of them the tag.
        std::array<uint8_t, 768> h;
        for (uint8_t &b : h) b = byte();
        BlockHeader b;
        b.output = le32(&h[0]);
        b.literals = le32(&h[8]);
        b.matches = le32(&h[12]);
        b.literal_bytes = le32(&h[16]);
        b.triple_bytes = le32(&h[20]);
        b.literal_bits = static_cast<int32_t>(le32(&h[24]));
        for (size_t i = 0; i < 4; ++i) b.literal_states[i] = static_cast<uint16_t>(h[28 + 2 * i] | h[29 + 2 * i] << 8);
        b.triple_bits = static_cast<int32_t>(le32(&h[36]));
        b.l_state = static_cast<uint16_t>(h[40] | h[41] << 8);
        b.m_state = static_cast<uint16_t>(h[42] | h[43] << 8);
        b.d_state = static_cast<uint16_t>(h[44] | h[45] << 8);
        for (size_t i = 0; i < kAllCounts; ++i) b.counts[i] = static_cast<uint16_t>(h[46 + 2 * i] | h[47 + 2 * i] << 8);
        return b;
    }

    BlockHeader packed_header() {
        std::array<uint8_t, 28 + 2 * kAllCounts> h;
        for (size_t i = 0; i < 28; ++i) h[i] = byte();
        const uint64_t v0 = le64(&h[4]), v1 = le64(&h[12]), v2 = le64(&h[20]);
        const uint32_t size = field(v2, 0, 32);  // with the tag
        if (size < 32 || size > 32 + 2 * kAllCounts) damaged("a block header gives a size of " + std::to_string(size) + " bytes");
        for (size_t i = 28; i < size - 4; ++i) h[i] = byte();
        BlockHeader b;
        b.output = le32(&h[0]);
        b.literals = field(v0, 0, 20);
        b.literal_bytes = field(v0, 20, 20);
        b.matches = field(v0, 40, 20);
        b.literal_bits = static_cast<int>(field(v0, 60, 3)) - 7;
        for (size_t i = 0; i < 4; ++i) b.literal_states[i] = static_cast<uint16_t>(field(v1, 10 * static_cast<int>(i), 10));
        b.triple_bytes = field(v1, 40, 20);
        b.triple_bits = static_cast<int>(field(v1, 60, 3)) - 7;
        b.l_state = static_cast<uint16_t>(field(v2, 32, 10));
        b.m_state = static_cast<uint16_t>(field(v2, 42, 10));
        b.d_state = static_cast<uint16_t>(field(v2, 52, 10));
        unpack_counts(&h[28], size - 32, b.counts);
        return b;
    }

    static void check(const BlockHeader &b) {
        // Literals are bytes of the output, padded to a multiple of four.
        if (b.literals > kMostLiterals || b.literals > uint64_t{b.output} + 3)
            damaged("a block claims " + std::to_string(b.literals) + " literals");
        if (b.matches > kMostMatches) damaged("a block claims " + std::to_string(b.matches) + " matches");
        if (b.literal_bytes > kLongestPayload || b.triple_bytes > kLongestPayload) damaged("a block's payload is too long");
        for (uint16_t s : b.literal_states)
            if (s >= kLiteralStates) damaged("a literal state is out of range");
        if (b.l_state >= kLengthStates || b.m_state >= kLengthStates || b.d_state >= kDistanceStates)
            damaged("a length or distance state is out of range");
        const std::span<const uint16_t> c(b.counts);
        const bool matches = b.matches > 0;
        check_counts(c.subspan(0, kLengthSymbols), kLengthStates, matches, "literal length");
        check_counts(c.subspan(kLengthSymbols, kLengthSymbols), kLengthStates, matches, "match length");
        check_counts(c.subspan(2 * kLengthSymbols, kDistanceSymbols), kDistanceStates, matches, "distance");
        check_counts(c.subspan(2 * kLengthSymbols + kDistanceSymbols), kLiteralStates, b.literals > 0, "literal");
    }

    void start_tables(const BlockHeader &b) {
        check(b);
        payload_.resize(size_t{b.literal_bytes} + b.triple_bytes);
        for (uint8_t &x : payload_) x = byte();
        const std::span<const uint16_t> c(b.counts);
        decode_literals(b, c.subspan(2 * kLengthSymbols + kDistanceSymbols));
        if (b.matches > 0) {
            value_table(c.subspan(0, kLengthSymbols), kLiteralLengths, l_table_);
            value_table(c.subspan(kLengthSymbols, kLengthSymbols), kMatchLengths, m_table_);
            value_table(c.subspan(2 * kLengthSymbols, kDistanceSymbols), kDistances, d_table_);
            triples_.start(std::span<const uint8_t>(payload_).subspan(b.literal_bytes), b.triple_bits, "match");
        }
        l_state_ = b.l_state, m_state_ = b.m_state, d_state_ = b.d_state;
        matches_left_ = b.matches;
        block_left_ = b.output;
        last_distance_ = 0;
        block_ = Block::kTables;
    }

    // All the block's literals at once: four interleaved states, each giving
    // every fourth literal.
    void decode_literals(const BlockHeader &b, std::span<const uint16_t> counts) {
        literal_count_ = (b.literals + 3) & ~3u;
        literal_at_ = 0;
        if (literal_count_ == 0) return;
        std::array<LiteralState, kLiteralStates> table;
        spread(counts, kLiteralStates, [&](unsigned state, size_t symbol, int bits, unsigned next) {
            table[state] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(symbol), static_cast<uint16_t>(next)};
        });
        BackwardBits bits;
        bits.start(std::span<const uint8_t>(payload_).first(b.literal_bytes), b.literal_bits, "literal");
        std::array<uint16_t, 4> state = b.literal_states;
        for (uint32_t i = 0; i < literal_count_; ++i) {
            const LiteralState &e = table[state[i % 4]];
            literals_[i] = e.symbol;
            state[i % 4] = static_cast<uint16_t>(e.next + bits.pull(e.bits));
        }
    }

    template <size_t S>
    uint32_t value(const std::array<ValueState, S> &table, uint16_t &state) {
        const ValueState &e = table[state];
        const uint32_t bits = triples_.pull(e.bits);
        state = static_cast<uint16_t>(e.next + (bits >> e.extra));
        return e.base + (bits & ((uint32_t{1} << e.extra) - 1));
    }

    void next_triple() {
        if (matches_left_ == 0) {
            if (block_left_ != 0) damaged("a block gives " + std::to_string(block_left_) + " bytes fewer than it declares");
            block_ = Block::kNone;
            return;
        }
        --matches_left_;
        const uint32_t literals = value(l_table_, l_state_);
        const uint32_t match = value(m_table_, m_state_);
        const uint32_t distance = value(d_table_, d_state_);
        // A distance of 0 repeats the last one.
        if (distance != 0) last_distance_ = distance;
        if (literals > literal_count_ - literal_at_) damaged("a block's matches use more literals than it holds");
        if (uint64_t{literals} + match > block_left_) damaged("a block gives more bytes than it declares");
        start_copy(literals, match, last_distance_);
    }

    void start_copy(uint64_t literals, uint64_t match, uint64_t distance) {
        if (match > 0 && distance == 0) damaged("a match repeats a distance before any was given");
        if (match > 0 && distance > written_ + literals) damaged("a match reaches before the start of the output");
        block_left_ -= literals + match;
        literal_left_ = literals;
        match_left_ = match;
        distance_ = distance;
    }

    // LZVN opcodes (L literal bytes follow the opcode's own bytes, M is the
    // match's length, D its distance):
    //   LLMMMDDD DDDDDDDD         D < 1536 (DDD 0-5), M 3-10, L 0-3
    //   LLMMM110                  the previous distance
    //   LLMMM111 D[16]            D < 65536
    //   101LLMMM DDDDDDMM DDDDDDDD  D < 16384, M 3-34
    //   1110LLLL, 11100000 L-16   literals only (1-15, 16-271)
    //   1111MMMM, 11110000 M-16   a match at the previous distance
    //   00000110 + 7 bytes        the end of the block; 00001110 and 00010110 do nothing
    void next_opcode() {
        const uint8_t op = payload_byte();
        uint64_t literals = 0, match = 0;
        if (op == 0x06) return end_lzvn();
        if (op == 0x0E || op == 0x16) return;
        if (op >= 0xE0) {
            if (op == 0xE0) literals = payload_byte() + 16u;
            else if (op < 0xF0) literals = op & 0x0F;
            else if (op == 0xF0) match = payload_byte() + 16u;
            else match = op & 0x0F;
        } else if ((op & 0xF0) == 0x70 || (op & 0xF0) == 0xD0 || (op < 0x40 && (op & 7) == 6)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", op);
            damaged(std::string("an LZVN block has an undefined opcode (") + hex + ")");
        } else if ((op & 0xE0) == 0xA0) {
            literals = op >> 3 & 3;
            const uint32_t d = payload_byte() | uint32_t{payload_byte()} << 8;
            match = ((op & 7u) << 2 | (d & 3)) + 3;
            lzvn_distance_ = d >> 2;
        } else {
            literals = op >> 6;
            match = (op >> 3 & 7u) + 3;
            if ((op & 7) == 7) lzvn_distance_ = payload_byte() | uint32_t{payload_byte()} << 8;
            else if ((op & 7) != 6) lzvn_distance_ = (op & 7u) << 8 | payload_byte();
        }
        if (literals + match > block_left_) damaged("an LZVN block gives more bytes than it declares");
        start_copy(literals, match, lzvn_distance_);
    }

    void end_lzvn() {
        for (int i = 0; i < 7; ++i) payload_byte();
        if (payload_left_ != 0) damaged("an LZVN block has " + std::to_string(payload_left_) + " bytes after its end opcode");
        if (block_left_ != 0) damaged("an LZVN block gives " + std::to_string(block_left_) + " bytes fewer than it declares");
        block_ = Block::kNone;
    }

    ByteInput input_;
    Block block_ = Block::kNone;
    uint64_t written_ = 0;                        // the stream's output so far
    uint64_t block_left_ = 0;                     // what the block still owes of its declared output
    uint64_t literal_left_ = 0, match_left_ = 0;  // of the step being copied
    uint64_t distance_ = 0;
    uint32_t payload_left_ = 0;   // an LZVN block's bytes not yet read
    uint32_t lzvn_distance_ = 0;  // 0 until a match gives one
    // An entropy-coded block: its payload read whole (its streams are read
    // backwards), its literals decoded at its start, its triples as they are
    // needed.
    std::vector<uint8_t> payload_;
    std::array<uint8_t, kMostLiterals> literals_;
    uint32_t literal_count_ = 0, literal_at_ = 0;
    BackwardBits triples_;
    std::array<ValueState, kLengthStates> l_table_, m_table_;
    std::array<ValueState, kDistanceStates> d_table_;
    uint16_t l_state_ = 0, m_state_ = 0, d_state_ = 0;
    uint32_t matches_left_ = 0, last_distance_ = 0;
    std::array<uint8_t, kWindow> window_;
};

}  // namespace

std::unique_ptr<Decoder> lzfse_decoder(ByteInput input) { return std::make_unique<Lzfse>(std::move(input)); }

}  // namespace containers::decoders
