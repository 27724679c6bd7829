// LZFSE streams built by hand from the format's public description, for the
// tests and fuzz seeds: stored, table-coded and LZVN blocks one after
// another, their matches reaching back into the blocks before, with the bytes
// they stand for.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

inline std::string le32(uint32_t v) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(v >> 8 * i);
    return b;
}

// Appends a match of `length` bytes at `distance` back, byte by byte as it
// may overlap itself.
inline void copy_back(std::string &out, size_t length, size_t distance) {
    for (size_t i = 0; i < length; ++i) out += out[out.size() - distance];
}

// An entropy-coded stream is read from its last byte backwards, each byte
// from its top bit down: `bits` ('0' and '1') in that order, under zero bits
// that fill the last byte.
inline std::string backward(const std::string &bits) {
    const size_t bytes = (bits.size() + 7) / 8;
    const std::string all = std::string(bytes * 8 - bits.size(), '0') + bits;
    std::string out(bytes, '\0');
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i] == '1') out[bytes - 1 - i / 8] |= static_cast<char>(0x80 >> i % 8);
    return out;
}

struct LzfseSample {
    std::string stream, plain;
};

// A stream of three blocks and its bytes.  7-Zip 26.02 decodes neither a
// stored block (it reports a data error and loses the blocks after it) nor
// plain tables (not implemented), so `plain` gives the kinds it lacks: the
// first block stored rather than LZVN literals, the tables plain rather
// than packed.
inline LzfseSample lzfse_sample(bool plain, uint16_t distance_count = 128) {
    LzfseSample s;
    std::string first = "A first block, then two coded ones.";
    first.resize(40, '.');
    if (plain) s.stream = "bvx-" + le32(40) + first;
    else s.stream = "bvxn" + le32(40) + le32(2 + 40 + 8) + "\xE0\x18" + first + std::string("\x06\0\0\0\0\0\0\0", 8);
    s.plain = first;

    // The tables' counts, in one run: literal lengths, match lengths,
    // distances, literals.  Every literal length 2; match lengths of symbol
    // 17 (24 and 5 more bits); distances of symbol 13 (36 and 3 more bits) or
    // symbol 0, the last distance again, half the states each; literals 'x'
    // and 'y', half each.
    std::vector<uint16_t> counts(360);
    counts[2] = 64;
    counts[20 + 17] = 64;
    counts[40 + 0] = distance_count;
    counts[40 + 13] = 128;
    counts[104 + 'x'] = counts[104 + 'y'] = 512;
    const std::string literal_bits = "1011";  // each literal state reads one
    // Match lengths 24+10 and 24+31; distances 36+4 and the same again.  A
    // distance state reads one bit before its value's.
    const std::string triple_bits = "01010" "0" "100" "11111" "0";
    const std::string literals = backward(literal_bits), triples = std::string(8, '\0') + backward(triple_bits);
    const uint32_t output = 2 + 34 + 2 + 55;
    const int literal_pad = static_cast<int>(literal_bits.size()) - 8, triple_pad = static_cast<int>(triple_bits.size()) - 16;
    std::string h;
    auto put = [&h](size_t at, uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at + i] = static_cast<char>(v >> 8 * i);
    };
    if (plain) {
        h.assign(772, '\0');
        h.replace(0, 4, "bvx1");
        put(4, output, 4);
        put(8, literals.size() + triples.size(), 4);
        put(12, 4, 4);  // literals
        put(16, 2, 4);  // matches
        put(20, literals.size(), 4);
        put(24, triples.size(), 4);
        put(28, static_cast<uint32_t>(literal_pad), 4);
        put(32, 512, 2), put(34, 0, 2), put(36, 0, 2), put(38, 512, 2);  // "yxxy"
        put(40, static_cast<uint32_t>(triple_pad), 4);
        put(44, 0, 2), put(46, 0, 2), put(48, 128, 2);  // L, M, D states
        for (size_t i = 0; i < counts.size(); ++i) put(50 + 2 * i, counts[i], 2);
    } else {
        // Counts in the packed header's code, low bits first: 0 as two zero
        // bits, 24 and more as 1111 and ten bits of the count less 24.
        std::string code;
        uint32_t bits = 0;
        int held = 0;
        for (uint16_t c : counts) {
            bits |= (c == 0 ? 0u : 0xFu | (c - 24u) << 4) << held;
            for (held += c == 0 ? 2 : 14; held >= 8; held -= 8, bits >>= 8) code += static_cast<char>(bits);
        }
        if (held > 0) code += static_cast<char>(bits);
        h.assign(32, '\0');
        h.replace(0, 4, "bvx2");
        put(4, output, 4);
        put(8, 4 | uint64_t{literals.size()} << 20 | uint64_t{2} << 40 | uint64_t(literal_pad + 7) << 60, 8);
        put(16, 512 | uint64_t{512} << 30 | uint64_t{triples.size()} << 40 | uint64_t(triple_pad + 7) << 60, 8);
        put(24, (32 + code.size()) | uint64_t{128} << 52, 8);
        h += code;
    }
    s.stream += h + literals + triples;
    s.plain += "yx";
    copy_back(s.plain, 34, 40);
    s.plain += "xy";
    copy_back(s.plain, 55, 40);  // overlapping itself

    // LZVN: every kind of opcode, distances reaching into both blocks before.
    const std::string last(43, 'z');
    const std::string ops = std::string("\xE6\nLZVN:", 7) +  // 6 literals
                            std::string("\x90\x50" "ab", 4) +  // 2 literals, 5 at 80
                            std::string("\x5E" "c", 2) +       // 1 literal, 6 at 80 again
                            std::string("\xA5\x90\x01", 3) +   // 23 at 100
                            std::string("\xCF\x96\x00" "def", 6) +  // 3 literals, 4 at 150
                            std::string("\x0E\xFF\xF0\xFF", 4) +    // nop, 15 and 271 at 150
                            std::string("\xE0\x1B", 2) + last +    // 43 literals
                            std::string("\x16\x06\0\0\0\0\0\0\0", 9);  // nop, end
    s.stream += "bvxn" + le32(512 - 133) + le32(static_cast<uint32_t>(ops.size())) + ops + "bvx$";
    s.plain += "\nLZVN:ab";
    copy_back(s.plain, 5, 80);
    s.plain += "c";
    copy_back(s.plain, 6, 80);
    copy_back(s.plain, 23, 100);
    s.plain += "def";
    copy_back(s.plain, 4 + 15 + 271, 150);
    s.plain += last;
    return s;
}

// One LZVN block of 384 KiB, longer than the window of matches, with
// matches at distances up to the longest, over the window's end.
inline LzfseSample lzvn_long_sample() {
    LzfseSample s;
    std::string ops;
    uint32_t seed = 5;
    auto literals = [&](size_t n) {  // 16 to 271 bytes
        ops += '\xE0';
        ops += static_cast<char>(n - 16);
        for (size_t i = 0; i < n; ++i) {
            seed = seed * 1103515245 + 12345;
            ops += static_cast<char>(seed >> 16);
            s.plain += ops.back();
        }
    };
    literals(200);
    const size_t distances[] = {1, 7, 16, 300, 4000, 30000, 65535};
    constexpr size_t kLength = 384 << 10;
    for (size_t k = 0; s.plain.size() < kLength - 301 - 32; ++k) {
        const size_t d = std::min(distances[k % 7], s.plain.size());
        ops += '\x3F';  // 10 bytes at a 16-bit distance
        ops += static_cast<char>(d), ops += static_cast<char>(d >> 8);
        ops += "\xF0\xFF";  // 271 more at the same
        copy_back(s.plain, 10 + 271, d);
        literals(20);
    }
    const size_t rest = kLength - s.plain.size();  // 32 to 333
    literals(rest / 2);
    literals(rest - rest / 2);
    ops += '\x16';
    ops += '\x06', ops += std::string(7, '\0');
    s.stream = "bvxn" + le32(static_cast<uint32_t>(s.plain.size())) + le32(static_cast<uint32_t>(ops.size())) + ops + "bvx$";
    return s;
}

}  // namespace testing_support
