// Writes StuffIt archives from their published layouts, both generations:
// the classic format (22-byte header, 112-byte entries, folder markers) and
// StuffIt 5 (banner, linked entries).  Forks are given packed as the archive
// stores them, with their plain bytes for the sizes and CRCs; method 2 comes
// from Debian's compress, method 1 from the small coder here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/bytes_io.h"

namespace testing_support {

struct SitFork {
    int method = 0;
    std::string packed, plain;
};

struct SitFile {
    std::string name;  // Mac OS Roman
    std::string type = "TEXT", creator = "ttxt";
    uint16_t finder_flags = 0;
    uint32_t created = 0, modified = 0;  // seconds since 1904
    SitFork data, resource;
    bool encrypted = false;
};

struct SitFolder {
    std::string name;
    std::vector<SitFile> files;
    std::vector<SitFolder> folders;
};

inline uint16_t sit_crc16(const std::string &bytes) {
    uint16_t crc = 0;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

namespace sit_detail {

inline void put16(std::string &s, size_t at, unsigned v) {
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v);
}
inline void put32(std::string &s, size_t at, uint32_t v) {
    put16(s, at, v >> 16);
    put16(s, at + 2, v & 0xFFFF);
}
inline void append16(std::string &s, unsigned v) {
    s.append(2, '\0');
    put16(s, s.size() - 2, v);
}
inline void append32(std::string &s, uint32_t v) {
    s.append(4, '\0');
    put32(s, s.size() - 4, v);
}

inline std::string classic_entry(int resource_method, int data_method, const std::string &name) {
    std::string h(112, '\0');
    h[0] = static_cast<char>(resource_method);
    h[1] = static_cast<char>(data_method);
    h[2] = static_cast<char>(name.size());
    h.replace(3, name.size(), name);
    return h;
}

inline void seal_classic(std::string &h) { put16(h, 110, sit_crc16(h.substr(0, 110))); }

inline void classic_file(std::string &out, const SitFile &f) {
    const int crypt = f.encrypted ? 0x10 : 0;
    std::string h = classic_entry(f.resource.method | crypt, f.data.method | crypt, f.name);
    h.replace(66, 4, f.type);
    h.replace(70, 4, f.creator);
    put16(h, 74, f.finder_flags);
    put32(h, 76, f.created);
    put32(h, 80, f.modified);
    put32(h, 84, static_cast<uint32_t>(f.resource.plain.size()));
    put32(h, 88, static_cast<uint32_t>(f.data.plain.size()));
    put32(h, 92, static_cast<uint32_t>(f.resource.packed.size()));
    put32(h, 96, static_cast<uint32_t>(f.data.packed.size()));
    put16(h, 100, sit_crc16(f.resource.plain));
    put16(h, 102, sit_crc16(f.data.plain));
    seal_classic(h);
    out += h + f.resource.packed + f.data.packed;
}

inline size_t classic_items(std::string &out, const SitFolder &folder) {
    for (const auto &sub : folder.folders) {
        std::string start = classic_entry(32, 32, sub.name);
        seal_classic(start);
        out += start;
        classic_items(out, sub);
        std::string end = classic_entry(33, 33, "");
        seal_classic(end);
        out += end;
    }
    for (const auto &f : folder.files) classic_file(out, f);
    return folder.folders.size() + folder.files.size();
}

constexpr size_t kSit5Header = 100, kSit5Reserved = 14, kSit5Info = 36;

inline std::string sit5_header(uint8_t flags, const std::string &name, uint32_t parent) {
    std::string h(48, '\0');
    put32(h, 0, 0xA5A5A5A5u);
    h[4] = 1;  // version 1: a 36-byte Finder block
    put16(h, 6, static_cast<unsigned>(48 + name.size()));
    h[9] = static_cast<char>(flags);
    put32(h, 26, parent);
    put16(h, 30, static_cast<unsigned>(name.size()));
    return h + name;
}

inline void seal_sit5(std::string &out, size_t at, size_t size) {
    std::string h = out.substr(at, size);
    put16(h, 32, 0);
    put16(out, at + 32, sit_crc16(h));
}

// Writes `folder`'s children at the end of `out`, linked to each other;
// returns the offset of the first (0 when empty).
inline uint32_t sit5_children(std::string &out, const SitFolder &folder, uint32_t parent);

inline uint32_t sit5_file(std::string &out, const SitFile &f, uint32_t parent) {
    const uint32_t at = static_cast<uint32_t>(out.size());
    std::string h = sit5_header(f.encrypted ? 0x20 : 0, f.name, parent);
    put32(h, 10, f.created);
    put32(h, 14, f.modified);
    put32(h, 34, static_cast<uint32_t>(f.data.plain.size()));
    put32(h, 38, static_cast<uint32_t>(f.data.packed.size()));
    put16(h, 42, f.data.method == 15 ? 0 : sit_crc16(f.data.plain));
    h[46] = static_cast<char>(f.data.method);
    out += h;
    seal_sit5(out, at, h.size());
    const bool has_resource = !f.resource.plain.empty();
    std::string info(kSit5Info, '\0');
    put16(info, 0, has_resource ? 1 : 0);
    info.replace(4, 4, f.type);
    info.replace(8, 4, f.creator);
    put16(info, 12, f.finder_flags);
    if (has_resource) {
        append32(info, static_cast<uint32_t>(f.resource.plain.size()));
        append32(info, static_cast<uint32_t>(f.resource.packed.size()));
        append16(info, f.resource.method == 15 ? 0 : sit_crc16(f.resource.plain));
        append16(info, 0);
        info += static_cast<char>(f.resource.method);
        info += '\0';
    }
    out += info + (has_resource ? f.resource.packed : "") + f.data.packed;
    return at;
}

inline uint32_t sit5_folder(std::string &out, const SitFolder &folder, uint32_t parent) {
    const uint32_t at = static_cast<uint32_t>(out.size());
    std::string h = sit5_header(0x40, folder.name, parent);
    put16(h, 46, static_cast<unsigned>(folder.files.size() + folder.folders.size()));
    out += h + std::string(kSit5Info, '\0');
    const uint32_t first = sit5_children(out, folder, at);
    put32(out, at + 34, first);
    seal_sit5(out, at, h.size());
    return at;
}

inline uint32_t sit5_children(std::string &out, const SitFolder &folder, uint32_t parent) {
    std::vector<uint32_t> offsets;
    for (const auto &sub : folder.folders) offsets.push_back(sit5_folder(out, sub, parent));
    for (const auto &f : folder.files) offsets.push_back(sit5_file(out, f, parent));
    for (size_t i = 0; i < offsets.size(); ++i) {
        const size_t size = static_cast<unsigned char>(out[offsets[i] + 6]) << 8 | static_cast<unsigned char>(out[offsets[i] + 7]);
        put32(out, offsets[i] + 18, i > 0 ? offsets[i - 1] : 0);
        put32(out, offsets[i] + 22, i + 1 < offsets.size() ? offsets[i + 1] : 0);
        seal_sit5(out, offsets[i], size);
    }
    return offsets.empty() ? 0 : offsets[0];
}

}  // namespace sit_detail

// A classic archive of `root`'s contents (root's own name is not stored).
inline std::string classic_archive(const SitFolder &root, const char *signature = "SIT!") {
    std::string out(22, '\0');
    out.replace(0, 4, signature);
    out.replace(10, 4, "rLau");
    out[14] = 2;
    const size_t count = sit_detail::classic_items(out, root);
    sit_detail::put16(out, 4, static_cast<unsigned>(count));
    sit_detail::put32(out, 6, static_cast<uint32_t>(out.size()));
    return out;
}

// A StuffIt 5 archive of `root`'s contents.
inline std::string sit5_archive(const SitFolder &root) {
    std::string out = "StuffIt (c)1997-2002 Aladdin Systems, Inc., http://www.aladdinsys.com/StuffIt/\r\n";
    out += std::string("\x1a\x00\x05\x10", 4);
    out.append(sit_detail::kSit5Header - out.size(), '\0');
    out += std::string("\x0d\xa5\xa5Reserved\xa5\xa5\x00", sit_detail::kSit5Reserved);
    const uint32_t first = sit_detail::sit5_children(out, root, 0);
    sit_detail::put32(out, 84, static_cast<uint32_t>(out.size()));
    sit_detail::put32(out, 88, first);
    sit_detail::put16(out, 92, static_cast<unsigned>(root.files.size() + root.folders.size()));
    sit_detail::put32(out, 94, first);
    return out;
}

inline SitFork sit_stored(const std::string &plain) { return {0, plain, plain}; }

// Method 1: 0x90 escapes itself as 0x90 0x00; runs of 3 to 255 become the
// byte, 0x90 and the count.
inline SitFork sit_rle90(const std::string &plain) {
    std::string packed;
    for (size_t i = 0; i < plain.size();) {
        const char c = plain[i];
        size_t run = 1;
        while (i + run < plain.size() && plain[i + run] == c && run < 255) ++run;
        packed += c;
        if (c == '\x90') packed += '\0';
        if (run >= 3) {
            packed += '\x90';
            packed += static_cast<char>(run);
        } else {
            run = 1;
        }
        i += run;
    }
    return {1, packed, plain};
}

// Method 2 by hand, for inputs under 250 bytes: each byte a 9-bit literal
// code (valid LZW that never refers back to the dictionary).
inline SitFork sit_lzw_literals(const std::string &plain) {
    std::string packed;
    uint32_t bits = 0;
    int held = 0;
    for (unsigned char c : plain) {
        bits |= static_cast<uint32_t>(c) << held;
        for (held += 9; held >= 8; held -= 8, bits >>= 8) packed += static_cast<char>(bits & 0xFF);
    }
    if (held > 0) packed += static_cast<char>(bits & 0xFF);
    return {2, packed, plain};
}

// Method 2 from Debian's compress with 14-bit codes, its 3-byte header cut
// off; empty packed bytes when compress is missing.
inline SitFork sit_lzw(const std::string &plain, const std::string &scratch_dir) {
    const std::string in = scratch_dir + "/lzw.in", out = scratch_dir + "/lzw.out";
    std::FILE *f = std::fopen(in.c_str(), "wb");
    std::fwrite(plain.data(), 1, plain.size(), f);
    std::fclose(f);
    const std::string cmd = "compress -b 14 -c -f '" + in + "' > '" + out + "' 2>/dev/null";
    const int status = std::system(cmd.c_str());
    const std::string z = read_file(out);
    if (status == -1 || z.size() < 3 || z.compare(0, 2, "\x1f\x9d") != 0) return {2, "", plain};
    return {2, z.substr(3), plain};
}

}  // namespace testing_support
