// Builds Compact Pro archives for the container tests and fuzz seeds, from
// the published layout (nothing in Debian writes them): folders, both forks,
// the run-length code and the LZH method (fixed 8-bit literal, 6-bit length
// and 7-bit offset codes, greedy matches, blocks of 0x1FFF0 with their
// flush), and the CRC-32s without their final inversion.  unar reads every
// archive the tests trust.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tests/support/disk_builder.h"

namespace testing_support {

struct CptEntry {
    std::string name;
    std::string type_creator = "TEXTttxt";
    std::string data, resource;
    uint32_t created = 0, modified = 0;
    bool lzh = false;
    std::vector<CptEntry> children;  // a folder when `folder` is set
    bool folder = false;
};

inline CptEntry cpt_file(const std::string &name, const std::string &type_creator, const std::string &data,
                         const std::string &resource, uint32_t modified = 0, bool lzh = false) {
    CptEntry e;
    e.name = name;
    e.type_creator = type_creator;
    e.data = data;
    e.resource = resource;
    e.created = e.modified = modified;
    e.lzh = lzh;
    return e;
}
inline CptEntry cpt_folder(const std::string &name, std::vector<CptEntry> children) {
    CptEntry e;
    e.name = name;
    e.folder = true;
    e.children = std::move(children);
    return e;
}

inline uint32_t cpt_crc(uint32_t crc, const std::string &bytes) {
    for (const char ch : bytes) {
        crc ^= static_cast<uint8_t>(ch);
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return crc;
}

// 0x81 0x82 N repeats the byte before it N-1 times more; a literal 0x81
// 0x82 is written 0x81 0x82 0x00.
inline std::string cpt_rle(const std::string &data) {
    std::string out;
    for (size_t i = 0; i < data.size();) {
        const uint8_t b = static_cast<uint8_t>(data[i]);
        if (b == 0x81 && i + 1 < data.size() && static_cast<uint8_t>(data[i + 1]) == 0x82) {
            out += "\x81\x82";
            out += '\0';
            i += 2;
            continue;
        }
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == data[i] && run < 255) ++run;
        out += static_cast<char>(b);
        if (run >= 4) {
            out += "\x81\x82";
            out += static_cast<char>(run);
            i += run;
        } else {
            i += 1;
        }
    }
    return out;
}

class CptBits {
public:
    void put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = static_cast<uint8_t>(byte_ << 1 | (value >> i & 1));
            if (++held_ == 8) flush_byte();
        }
    }
    void align() {
        while (held_ != 0) put(0, 1);
    }
    void bytes(const std::string &b) { out_ += b; }
    size_t size() const { return out_.size(); }
    const std::string &out() const { return out_; }

private:
    void flush_byte() {
        out_ += static_cast<char>(byte_);
        byte_ = 0;
        held_ = 0;
    }
    std::string out_;
    uint8_t byte_ = 0;
    int held_ = 0;
};

// LZH with fixed codes: every block lists 256 literal lengths of 8, 64
// length lengths of 6 and 128 offset lengths of 7, so each symbol's code is
// its value.  `block` is the block size (0x1FFF0 as Compact Pro writes).
inline std::string cpt_lzh(const std::string &data, uint32_t block = 0x1FFF0) {
    CptBits bits;
    auto header = [&] {
        bits.bytes(std::string(1, static_cast<char>(128)) + std::string(128, '\x88'));
        bits.bytes(std::string(1, static_cast<char>(32)) + std::string(32, '\x66'));
        bits.bytes(std::string(1, static_cast<char>(64)) + std::string(64, '\x77'));
    };
    header();
    size_t data_start = bits.size();
    // A block ends on a byte, then two bytes more, or three when its data
    // took an odd number of bytes.
    auto flush = [&] {
        bits.align();
        bits.bytes(std::string((bits.size() - data_start) % 2 == 1 ? 3 : 2, '\0'));
    };
    uint32_t used = 0;
    std::unordered_map<uint32_t, size_t> last;  // three bytes -> where they were last seen
    auto key = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(data[i])) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(data[i + 1])) << 8 | static_cast<uint8_t>(data[i + 2]);
    };
    for (size_t i = 0; i < data.size();) {
        if (used >= block) {
            flush();
            header();
            data_start = bits.size();
            used = 0;
        }
        size_t length = 0, distance = 0;
        if (i + 3 <= data.size()) {
            const auto seen = last.find(key(i));
            if (seen != last.end() && i - seen->second < 8192) {
                distance = i - seen->second;
                while (i + length < data.size() && length < 63 && data[i + length] == data[i + length - distance]) ++length;
            }
            last[key(i)] = i;
        }
        if (length >= 3) {
            bits.put(0, 1);
            bits.put(static_cast<uint32_t>(length), 6);
            bits.put(static_cast<uint32_t>(distance >> 6), 7);
            bits.put(static_cast<uint32_t>(distance & 63), 6);
            for (size_t k = 1; k < length; ++k)
                if (i + k + 3 <= data.size()) last[key(i + k)] = i + k;
            i += length;
            used += 3;
        } else {
            bits.put(1, 1);
            bits.put(static_cast<uint8_t>(data[i]), 8);
            ++i;
            used += 2;
        }
    }
    // The stream's end: unar reads three bytes past the last symbol's byte
    // (real archives give two; our reader needs none).
    bits.align();
    bits.bytes(std::string(3, '\0'));
    return bits.out();
}

// The archive of `entries` (folders nest).
inline std::string compact_pro(const std::vector<CptEntry> &entries) {
    std::string archive(8, '\0');
    archive[0] = 1;
    archive[1] = 1;
    std::string directory;
    uint32_t count = 0;
    auto add = [&](auto &self, const std::vector<CptEntry> &list) -> uint32_t {
        uint32_t here = 0;
        for (const CptEntry &e : list) {
            ++count, ++here;
            directory += static_cast<char>(e.name.size() | (e.folder ? 0x80 : 0));
            directory += e.name;
            if (e.folder) {
                const size_t at = directory.size();
                directory += std::string(2, '\0');
                const uint32_t inside = self(self, e.children);
                put16(directory, at, inside);
                here += inside;
                continue;
            }
            const std::string resource = e.lzh ? cpt_lzh(cpt_rle(e.resource)) : cpt_rle(e.resource);
            const std::string data = e.lzh ? cpt_lzh(cpt_rle(e.data)) : cpt_rle(e.data);
            std::string f(45, '\0');
            f[0] = 1;
            put32(f, 1, static_cast<uint32_t>(archive.size()));
            f.replace(5, 8, e.type_creator);
            put32(f, 13, e.created);
            put32(f, 17, e.modified);
            put32(f, 23, cpt_crc(cpt_crc(0xFFFFFFFFu, e.resource), e.data));
            put16(f, 27, e.lzh ? 6 : 0);
            put32(f, 29, static_cast<uint32_t>(e.resource.size()));
            put32(f, 33, static_cast<uint32_t>(e.data.size()));
            put32(f, 37, static_cast<uint32_t>(resource.size()));
            put32(f, 41, static_cast<uint32_t>(data.size()));
            archive += resource + data;
            directory += f;
        }
        return here;
    };
    add(add, entries);
    std::string top(7, '\0');
    put16(top, 4, count);
    const std::string covered = top.substr(4) + directory;
    put32(top, 0, cpt_crc(0xFFFFFFFFu, covered));
    put32(archive, 4, static_cast<uint32_t>(archive.size()));
    return archive + top + directory;
}

}  // namespace testing_support
