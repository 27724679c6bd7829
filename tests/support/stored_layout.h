// The author's pages as a MacWrite 4.6/5 document stores them, read straight
// from the file for measuring printed outputs against: each main-text
// paragraph's page and top, its lines, and the first characters of its text;
// the page rectangle, and the room the header and footer take on it.  Read
// independently of the import, so that a mistake there shows.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct StoredParagraph {
    enum Kind { Text, Ruler, Picture } kind = Text;
    int page = 0;     // counted from 0
    int top = 0;      // points from the top of the page rectangle
    int height = 0;   // points
    int lines = 0;    // of a text paragraph, as its line-height record counts them
    int characters = 0;  // the return included
    bool one_size = true;  // its format runs give one size: its first line's top is where its glyphs start
    std::string text; // its characters, Mac Roman, without the return
};

struct StoredLayout {
    bool readable = false;
    // The page rectangle in points (72 an inch), and where it lies on the
    // paper when the print record says so sensibly (`on_paper`).
    double rect_width = 0, rect_height = 0, rect_top = 0, rect_left = 0;
    bool on_paper = false;
    int header = 0, footer = 0;   // the room they take, points
    std::vector<StoredParagraph> main;

    // Documents that other programs saved have no layout: every top and
    // page 0, every paragraph one line.
    bool laid_out() const {
        for (const StoredParagraph &p : main)
            if (p.page != 0 || p.top != 0 || p.lines > 1) return true;
        return false;
    }
    int text_area() const { return static_cast<int>(rect_height) - header - footer; }
    // The pages the author's print has: a paragraph keeps its first page,
    // and what runs past the text area goes on to the next ones.
    int pages() const {
        int pages = 0;
        for (const StoredParagraph &p : main) {
            const int area = std::max(1, text_area());
            const int over = p.top + p.height > area ? (p.top + p.height - 1) / area : 0;
            pages = std::max(pages, p.page + 1 + over);
        }
        return pages;
    }
};

namespace stored_detail {

inline int u8(const std::string &d, size_t at) { return at < d.size() ? static_cast<uint8_t>(d[at]) : 0; }
inline int u16(const std::string &d, size_t at) { return u8(d, at) << 8 | u8(d, at + 1); }
inline int s16(const std::string &d, size_t at) { return static_cast<int16_t>(static_cast<uint16_t>(u16(d, at))); }
inline uint32_t u32(const std::string &d, size_t at) {
    return static_cast<uint32_t>(u16(d, at)) << 16 | static_cast<uint32_t>(u16(d, at + 2));
}

// A text paragraph's characters at `at`: a count, then bytes or, when
// `compressed`, nibbles (0-14 stand for " etnroaisdlhcfp", 15 escapes a
// byte).  `end` is where the text ends, before its pad to an even offset.
inline std::string paragraph_text(const std::string &d, size_t at, bool compressed, size_t &end) {
    const size_t count = static_cast<size_t>(u16(d, at));
    at += 2;
    if (!compressed) {
        end = at + count;
        return d.substr(std::min(at, d.size()), count);
    }
    static const char kTable[] = " etnroaisdlhcfp";
    std::string text;
    size_t nibble = 0;
    auto next = [&]() { const int byte = u8(d, at + nibble / 2); return (nibble++ % 2 == 0) ? byte >> 4 : byte & 0x0F; };
    while (text.size() < count && at + nibble / 2 < d.size()) {
        const int n = next();
        if (n != 15) {
            text += kTable[n];
            continue;
        }
        const int hi = next();
        text += static_cast<char>(hi << 4 | next());
    }
    end = at + (nibble + 1) / 2;
    return text;
}

// Whether the format runs at `at` (a length word, then 6 bytes a run: its
// position, size, style and font) give one size.
inline bool one_size(const std::string &d, size_t at) {
    const size_t length = static_cast<size_t>(u16(d, at));
    for (size_t run = at + 2 + 6; run + 6 <= at + 2 + length; run += 6)
        if (u8(d, run + 2) != u8(d, at + 2 + 2)) return false;
    return true;
}

// The lines a line-height record counts: a byte below 0x80 is one line,
// 0x80|n says there are n lines in all of the last height.
inline int line_count(const std::string &codes) {
    int lines = 0;
    for (unsigned char c : codes)
        if (c < 0x80)
            ++lines;
        else if (lines > 0 && (c & 0x7F) > 1)
            lines += (c & 0x7F) - 1;
    return lines;
}

// The records of an area's line-height array, one for each entry.
inline std::vector<std::string> line_records(const std::string &d, size_t window, size_t count) {
    std::vector<std::string> records;
    size_t at = u32(d, window + 18);
    const size_t end = at + static_cast<size_t>(u16(d, window + 22));
    while (records.size() < count && at + 2 <= end && end <= d.size()) {
        const size_t n = static_cast<size_t>(u16(d, at));
        records.push_back(d.substr(at + 2, std::min(n, end - at - 2)));
        at += 2 + n + (n & 1);
    }
    records.resize(count);
    return records;
}

inline std::vector<StoredParagraph> area_paragraphs(const std::string &d, int count_at, size_t window) {
    const size_t count = static_cast<size_t>(u16(d, static_cast<size_t>(count_at)));
    const size_t info = u32(d, window + 12);
    const std::vector<std::string> records = line_records(d, window, count);
    std::vector<StoredParagraph> out;
    for (size_t i = 0; i < count && info + 16 * (i + 1) <= d.size(); ++i) {
        const size_t e = info + 16 * i;
        StoredParagraph p;
        const int height = s16(d, e);
        p.kind = height < 0 ? StoredParagraph::Picture : height == 0 ? StoredParagraph::Ruler : StoredParagraph::Text;
        p.height = height < 0 ? -height : height;
        p.top = s16(d, e + 2);
        p.page = u8(d, e + 4);
        p.lines = line_count(records[i]);
        if (p.kind == StoredParagraph::Text) {
            size_t end = 0;
            p.text = paragraph_text(d, u32(d, e + 8) & 0xFFFFFF, (u8(d, e + 8) & 0x08) != 0, end);
            p.characters = static_cast<int>(p.text.size());
            p.one_size = one_size(d, end + (end & 1));
            if (!p.text.empty() && p.text.back() == '\r') p.text.pop_back();
        }
        out.push_back(p);
    }
    return out;
}

// A field is placed when neither member of its (vertical, horizontal) pair
// is negative and they are not both 0.
inline bool places_a_field(const std::string &d, size_t window) {
    for (size_t k = 0; k < 3; ++k) {
        const int v = s16(d, window + 24 + 4 * k), h = s16(d, window + 26 + 4 * k);
        if (v >= 0 && h >= 0 && (v != 0 || h != 0)) return true;
    }
    return false;
}

// What a header or footer takes of the page: its paragraphs' heights, none
// when it holds no character, no picture and no placed field.
inline int area_room(const std::string &d, int count_at, size_t window) {
    bool shown = places_a_field(d, window);
    int room = 0;
    for (const StoredParagraph &p : area_paragraphs(d, count_at, window)) {
        room += p.height;
        if (p.kind == StoredParagraph::Picture || p.characters > 0) shown = true;
    }
    return shown ? room : 0;
}

}  // namespace stored_detail

// A document file's data fork: a MacBinary header before it is stepped over.
inline std::string document_data_fork(const std::string &file) {
    using stored_detail::u16;
    if (file.size() <= 128 || file[0] != 0 || file.compare(65, 8, "WORDMACA") != 0) return file;
    const size_t length = static_cast<size_t>(u16(file, 83)) << 16 | static_cast<size_t>(u16(file, 85));
    return file.substr(128, length);
}

// The stored layout of `document`, a MacWrite 4.6/5 data fork.
inline StoredLayout stored_layout(const std::string &d) {
    using namespace stored_detail;
    StoredLayout s;
    if (d.size() < 512 || u16(d, 0) != 6) return s;
    s.readable = true;
    const size_t print = 40;
    const int vres = s16(d, print + 4), hres = s16(d, print + 6);
    const int top = s16(d, print + 8), left = s16(d, print + 10), bottom = s16(d, print + 12), right = s16(d, print + 14);
    const int paper_top = s16(d, print + 16), paper_left = s16(d, print + 18), paper_bottom = s16(d, print + 20),
              paper_right = s16(d, print + 22);
    const bool sane = vres >= 36 && vres <= 1200 && hres >= 36 && hres <= 1200;
    const double v = sane ? 72.0 / vres : 1, h = sane ? 72.0 / hres : 1;
    s.rect_height = (bottom - top) * v;
    s.rect_width = (right - left) * h;
    s.on_paper = sane && paper_top <= top && paper_left <= left && paper_bottom >= bottom && paper_right >= right;
    if (s.on_paper) {
        s.rect_top = (top - paper_top) * v;
        s.rect_left = (left - paper_left) * h;
    }
    s.header = area_room(d, 4, 206);
    s.footer = area_room(d, 6, 160);
    s.main = area_paragraphs(d, 2, 252);
    return s;
}

}  // namespace testing_support
