#include "tests/support/mw5_builder.h"

#include <cstring>

namespace testing_support {

namespace {

void be16(std::string &s, uint16_t v) {
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v & 0xFF);
}

void put16(std::string &s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v & 0xFF);
}

void put32(std::string &s, size_t at, uint32_t v) {
    put16(s, at, static_cast<uint16_t>(v >> 16));
    put16(s, at + 2, static_cast<uint16_t>(v));
}

constexpr size_t kHeaderSize = 512;
constexpr int kCountAt[3] = {2, 4, 6};
constexpr int kWindowAt[3] = {252, 206, 160};
constexpr int16_t kIconAt[3] = {30, 236, 442};  // where MacWrite keeps unplaced fields' icons

}  // namespace

std::string Mw5Builder::compress(const std::string &text) {
    static const char table[] = " etnroaisdlhcfp";
    std::vector<uint8_t> nibbles;
    for (unsigned char c : text) {
        const char *hit = c != 0 ? std::strchr(table, c) : nullptr;
        if (hit != nullptr) {
            nibbles.push_back(static_cast<uint8_t>(hit - table));
        } else {
            nibbles.push_back(15);
            nibbles.push_back(c >> 4);
            nibbles.push_back(c & 0x0F);
        }
    }
    std::string out;
    for (size_t i = 0; i < nibbles.size(); i += 2) {
        const uint8_t lo = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
        out += static_cast<char>(nibbles[i] << 4 | lo);
    }
    return out;
}

Mw5Builder &Mw5Builder::text(Area area, const std::string &text, std::vector<Run> runs, uint8_t flags) {
    std::string data;
    be16(data, static_cast<uint16_t>(text.size()));
    data += text;
    if (text.size() & 1) data += '\0';
    data += run_list_bytes(runs);
    areas_[static_cast<int>(area)].push_back(Entry{20, flags, data});
    return *this;
}

Mw5Builder &Mw5Builder::compressed(Area area, const std::string &text, std::vector<Run> runs, uint8_t flags) {
    std::string data;
    be16(data, static_cast<uint16_t>(text.size()));
    data += compress(text);
    if (data.size() & 1) data += '\0';  // data starts even, so parity is the file's
    data += run_list_bytes(runs);
    areas_[static_cast<int>(area)].push_back(Entry{20, static_cast<uint8_t>(flags | 0x08), data});
    return *this;
}

std::string ruler_bytes(const RulerSpec &r) {
    std::string data(34, '\0');
    put16(data, 0, static_cast<uint16_t>(r.left_margin));
    put16(data, 2, static_cast<uint16_t>(r.right_margin));
    data[4] = static_cast<char>(r.justification);
    data[5] = static_cast<char>(r.tab_count >= 0 ? r.tab_count : static_cast<int>(r.tabs.size()));
    put16(data, 6, static_cast<uint16_t>(r.line_spacing));
    put16(data, 8, static_cast<uint16_t>(r.first_line.value_or(r.left_margin)));
    for (size_t i = 0; i < r.tabs.size() && i < 10; ++i) put16(data, 10 + 2 * i, r.tabs[i]);
    return data;
}

std::string run_list_bytes(const std::vector<Run> &runs) {
    std::string s;
    be16(s, static_cast<uint16_t>(runs.size() * 6));
    for (const Run &r : runs) {
        be16(s, static_cast<uint16_t>(r.position));
        s += static_cast<char>(r.size);
        s += static_cast<char>(r.style);
        be16(s, static_cast<uint16_t>(r.font));
    }
    return s;
}

Mw5Builder &Mw5Builder::ruler(Area area, const RulerSpec &r) {
    areas_[static_cast<int>(area)].push_back(Entry{0, 0, ruler_bytes(r)});
    return *this;
}

Mw5Builder &Mw5Builder::picture(Area area, uint16_t data_length, int16_t height) {
    areas_[static_cast<int>(area)].push_back(Entry{height, 0, std::string(data_length, '\0')});
    return *this;
}

Mw5Builder &Mw5Builder::picture(Area area, const std::string &data, int16_t height) {
    areas_[static_cast<int>(area)].push_back(Entry{height, 0, data});
    return *this;
}

Mw5Builder &Mw5Builder::entry(Area area, int16_t height, uint32_t data_word, uint16_t data_length) {
    areas_[static_cast<int>(area)].push_back(Entry{height, 0, {}, true, data_word, data_length});
    return *this;
}

Mw5Builder &Mw5Builder::lines(Area area, const std::string &codes) {
    const int a = static_cast<int>(area);
    areas_[a].back().lines = codes;
    has_lines_[a] = true;
    return *this;
}

Mw5Builder &Mw5Builder::count(Area area, uint16_t n) {
    count_override_[static_cast<int>(area)] = n;
    return *this;
}

Mw5Builder &Mw5Builder::field(Area area, uint8_t kind, int16_t vertical, int16_t horizontal) {
    const int a = static_cast<int>(area);
    fields_[a][kind - 1][0] = vertical;
    fields_[a][kind - 1][1] = horizontal;
    placed_[a][kind - 1] = true;
    return *this;
}

std::string Mw5Builder::build() const {
    std::string doc(kHeaderSize, '\0');
    put16(doc, 0, 6);
    for (int a = 0; a < 3; ++a) {
        std::string info;
        int16_t top = 0;  // paragraphs stack from the top of their area
        for (const Entry &e : areas_[a]) {
            std::string entry(16, '\0');
            put16(entry, 0, static_cast<uint16_t>(e.height));
            put16(entry, 2, static_cast<uint16_t>(flat_ ? 0 : top));
            if (e.height > 0) top = static_cast<int16_t>(top + e.height);
            if (e.raw) {
                put32(entry, 8, e.raw_word);
                put16(entry, 12, e.data_length);
            } else {
                if (doc.size() & 1) doc += '\0';
                put32(entry, 8, static_cast<uint32_t>(e.flags) << 24 | static_cast<uint32_t>(doc.size()));
                put16(entry, 12, static_cast<uint16_t>(e.data.size()));
                doc += e.data;
            }
            info += entry;
        }
        if (doc.size() & 1) doc += '\0';
        const uint16_t n = count_override_[a] >= 0 ? static_cast<uint16_t>(count_override_[a])
                                                   : static_cast<uint16_t>(areas_[a].size());
        put16(doc, kCountAt[a], n);
        for (int k = 0; k < 3; ++k) {
            put16(doc, kWindowAt[a] + 24 + 4 * k, static_cast<uint16_t>(placed_[a][k] ? fields_[a][k][0] : -14));
            put16(doc, kWindowAt[a] + 26 + 4 * k, static_cast<uint16_t>(placed_[a][k] ? fields_[a][k][1] : kIconAt[k]));
        }
        if (has_lines_[a]) {
            std::string heights;
            for (const Entry &e : areas_[a]) {
                be16(heights, static_cast<uint16_t>(e.lines.size()));
                heights += e.lines;
                if (e.lines.size() & 1) heights += '\0';
            }
            put32(doc, kWindowAt[a] + 18, static_cast<uint32_t>(doc.size()));
            put16(doc, kWindowAt[a] + 22, static_cast<uint16_t>(heights.size()));
            doc += heights;
        }
        put32(doc, kWindowAt[a] + 12, static_cast<uint32_t>(doc.size()));
        put16(doc, kWindowAt[a] + 16, static_cast<uint16_t>(info.size()));
        doc += info;
    }
    for (const auto &[at, bytes] : header_patches_) doc.replace(at, bytes.size(), bytes);
    return doc;
}

std::string Mw5Builder::build_macbinary() const { return macbinary_wrap(build(), "WORDMACA"); }

std::string macbinary_wrap(const std::string &data, const char *type_creator) {
    std::string header(128, '\0');
    const char name[] = "Test Document";
    header[1] = static_cast<char>(sizeof name - 1);
    std::memcpy(&header[2], name, sizeof name - 1);
    std::memcpy(&header[65], type_creator, 8);
    put32(header, 83, static_cast<uint32_t>(data.size()));
    std::string out = header + data;
    out.resize(128 + ((data.size() + 127) / 128) * 128, '\0');
    return out;
}

}  // namespace testing_support
