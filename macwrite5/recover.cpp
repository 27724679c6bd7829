// Recovery of a damaged MacWrite 4.6/5 document: the checks that find the
// damage, and the reading of paragraphs by their own structure.
#include "macwrite5/recover.h"

#include <algorithm>

#include "host/bytes.h"
#include "host/stream_codes.h"

namespace macwrite5 {

namespace {

using kavrel::be16;
using kavrel::be16s;
using kavrel::be32;

// Nothing but the header lies before this: the window records end here.
constexpr long kHeaderEnd = kMainWindowAt + kWindowSize;
constexpr long kMaxDocument = static_cast<long>(kDataOffsetMask) + 1;

struct Span {
    long begin, end;
};

using Bytes = std::vector<uint8_t>;

long even(long at) { return at + (at & 1); }

// The end of nibble-compressed text of `count` characters at `at`, its
// characters in `text`; -1 when it runs past `limit`.
long expand_at(const Bytes &doc, long at, long limit, uint16_t count, Bytes *text) {
    long nibble = 0;
    auto next = [&]() -> int {
        const long byte = at + nibble / 2;
        if (byte >= limit) return -1;
        const int v = (nibble & 1) ? doc[byte] & 0x0F : doc[byte] >> 4;
        ++nibble;
        return v;
    };
    for (uint16_t i = 0; i < count; ++i) {
        const int n = next();
        if (n < 0) return -1;
        uint8_t c = static_cast<uint8_t>(kNibbleTable[n < kNibbleEscape ? n : 0]);
        if (n == kNibbleEscape) {
            const int hi = next(), lo = hi < 0 ? -1 : next();
            if (lo < 0) return -1;
            c = static_cast<uint8_t>(hi << 4 | lo);
        }
        if (text != nullptr) text->push_back(c);
    }
    return at + (nibble + 1) / 2;
}

// A text paragraph as it lies in the file.
struct TextParagraph {
    long end = -1;   // past its run list; -1 when it does not fit
    Bytes text;
    long runs_at = 0;
    uint16_t runs_length = 0;
};

TextParagraph read_text_at(const Bytes &doc, long at, long limit, bool compressed) {
    TextParagraph p;
    if (at + 2 > limit) return p;
    const uint16_t count = be16(&doc[at]);
    long text_end;
    if (compressed) {
        text_end = expand_at(doc, at + 2, limit, count, &p.text);
        if (text_end < 0) return p;
    } else {
        text_end = at + 2 + count;
        if (text_end > limit) return p;
        p.text.assign(doc.begin() + at + 2, doc.begin() + text_end);
    }
    p.runs_at = even(text_end) + 2;
    if (p.runs_at > limit) return p;
    p.runs_length = be16(&doc[p.runs_at - 2]);
    if (p.runs_at + p.runs_length > limit) return p;
    p.end = p.runs_at + p.runs_length;
    return p;
}

// Runs that a writer could have stored: whole, starting at the first
// character, in ascending order within the text, at a size and in a font
// that exist and with no unknown style bit.
bool runs_hold(const Bytes &doc, const TextParagraph &p, bool need_one) {
    if (p.runs_length % kRunSize != 0 || (need_one && p.runs_length == 0)) return false;
    long last = -1;
    for (long at = p.runs_at; at < p.runs_at + p.runs_length; at += kRunSize) {
        const int16_t position = be16s(&doc[at]);
        const int8_t size = static_cast<int8_t>(doc[at + 2]);
        if (position <= last || position >= static_cast<long>(p.text.size()) || (last < 0 && position != 0)) return false;
        if (size <= 0 || (doc[at + 3] & 0x80) != 0 || be16s(&doc[at + 4]) < 0) return false;
        last = position;
    }
    return true;
}

// Text as a writer stores it: printable characters and tabs, one return at
// the end.
bool text_holds(const Bytes &text) {
    if (text.empty() || text.back() != kavrel::code::kParagraphEnd) return false;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if ((text[i] < 0x20 && text[i] != kavrel::code::kTab) || text[i] == 0x7F) return false;
    return true;
}

// The ruler fields that have a range of their own.
bool ruler_holds(const uint8_t *r, bool strict) {
    if (r[kJustificationAt] > kFull || r[kTabCountAt] > kMaxTabs) return false;
    if (!strict) return true;
    const int16_t left = be16s(r + kLeftMarginAt), right = be16s(r + kRightMarginAt);
    if (left < 0 || left > 720 || right <= left || right > 1440 || be16(r + kLineSpacingAt) > 16) return false;
    int32_t previous = 0;
    for (int i = 0; i < r[kTabCountAt]; ++i) {
        const int32_t stop = stop_position(be16(r + kTabStopsAt + 2 * i));
        if (stop <= previous || stop > 1440) return false;
        previous = stop;
    }
    return true;
}

bool rect_holds(const uint8_t *r) {
    const int16_t top = be16s(r), left = be16s(r + 2), bottom = be16s(r + 4), right = be16s(r + 6);
    return top < bottom && left < right && top > -2048 && left > -2048 && bottom < 4096 && right < 4096;
}

// A picture paragraph: its rectangle, then a picture whose size word and
// frame hold and which ends with the picture end.  Its length, or 0.
long picture_at(const Bytes &doc, long at, long limit) {
    constexpr int kPicHead = kPictureRectSize + 10;
    if (at + kPicHead + 2 > limit || !rect_holds(&doc[at]) || !rect_holds(&doc[at + kPictureRectSize + 2])) return 0;
    const uint8_t *v = &doc[at + kPicHead];
    const long length = kPictureRectSize + be16(&doc[at + kPictureRectSize]);
    if (at + length > limit || length < kPicHead + 2) return 0;
    if (v[0] == 0x11 && v[1] == 0x01) return doc[at + length - 1] == 0xFF ? length : 0;
    if (v[0] == 0x00 && v[1] == 0x11 && v[2] == 0x02 && v[3] == 0xFF)
        return doc[at + length - 2] == 0x00 && doc[at + length - 1] == 0xFF ? length : 0;
    return 0;
}

Entry make_entry(int16_t height, uint8_t flags, long at, uint16_t length) {
    Entry e{};
    kavrel::put_be16(&e[kHeightAt], static_cast<uint16_t>(height));
    kavrel::put_be32(&e[kDataWordAt], static_cast<uint32_t>(flags) << 24 | (static_cast<uint32_t>(at) & kDataOffsetMask));
    kavrel::put_be16(&e[kDataLengthAt], length);
    return e;
}

long entry_data(const Entry &e) { return static_cast<long>(be32(&e[kDataWordAt]) & kDataOffsetMask); }

// Where an entry's paragraph lies, or {-1, -1} when it does not fit in the
// document; `keep` also asks that it hold together as a paragraph.
Span entry_span(const Bytes &doc, const Entry &e, bool keep) {
    const Span none{-1, -1};
    const long size = static_cast<long>(doc.size());
    const int16_t height = be16s(&e[kHeightAt]);
    const long at = entry_data(e);
    if (height < 0) {
        const uint16_t length = be16(&e[kDataLengthAt]);
        if (length == kPageBreakLength) return Span{0, 0};
        return at >= kHeaderEnd && at + length <= size ? Span{at, at + length} : none;
    }
    if (at < kHeaderEnd) return none;
    if (height == 0)
        return at + kRulerSize <= size && (!keep || ruler_holds(&doc[at], false)) ? Span{at, at + kRulerSize} : none;
    const TextParagraph p = read_text_at(doc, at, size, (e[kDataWordAt] & kFlagCompressed) != 0);
    if (p.end < 0 || p.text.empty()) return none;
    if (keep && (!runs_hold(doc, p, false) || std::all_of(p.text.begin(), p.text.end(), [](uint8_t c) { return c == 0; })))
        return none;
    return Span{at, p.end};
}

// One area as its window record and count describe it.
struct AreaIndex {
    uint16_t count = 0;
    Span array{0, 0};        // the part of the array within the document
    std::vector<Entry> entries;   // those the document holds
};

AreaIndex read_index(const Bytes &doc, int count_at, int window_at) {
    AreaIndex a;
    const uint8_t *window = &doc[window_at];
    a.count = be16(&doc[count_at]);
    const uint16_t stored = be16(window + kInfoArrayLengthAt);
    const long length = stored >= uint32_t{a.count} * kEntrySize ? stored : be16s(window + kInfoArrayLengthAt);
    const long pos = static_cast<long>(be32(window + kInfoArrayPosAt));
    const long size = static_cast<long>(doc.size());
    if (length <= 0 || pos < kHeaderEnd || pos >= size) return a;
    a.array = Span{pos, std::min(size, pos + length)};
    for (long at = pos; at + kEntrySize <= a.array.end && a.entries.size() < a.count; at += kEntrySize) {
        Entry e;
        std::copy_n(&doc[at], kEntrySize, e.begin());
        a.entries.push_back(e);
    }
    return a;
}

bool index_sound(const Bytes &doc, const AreaIndex &a) {
    if (a.entries.size() < a.count) return false;
    return std::none_of(a.entries.begin(), a.entries.end(),
                        [&](const Entry &e) { return entry_span(doc, e, false).begin < 0; });
}

// A paragraph found by its structure at `at` within `limit`: its entry and
// its end, or end -1.
struct Found {
    Entry entry;
    long end = -1;
};

Found paragraph_at(const Bytes &doc, long at, long limit) {
    for (const bool compressed : {false, true}) {
        const TextParagraph p = read_text_at(doc, at, limit, compressed);
        if (p.end > 0 && p.text.size() > 0 && text_holds(p.text) && runs_hold(doc, p, true))
            return Found{make_entry(1, compressed ? kFlagCompressed : 0, at, 0), p.end};
    }
    if (at + kRulerSize <= limit && ruler_holds(&doc[at], true)) return Found{make_entry(0, 0, at, kRulerSize), at + kRulerSize};
    if (const long length = picture_at(doc, at, limit); length > 0)
        return Found{make_entry(-1, 0, at, static_cast<uint16_t>(length)), at + length};
    return Found{};
}

struct Located {
    long at;
    Entry entry;
};

// Paragraphs found in the bytes that nothing sound claims, in file order.
std::vector<Located> scan_gaps(const Bytes &doc, std::vector<Span> claimed) {
    claimed.push_back(Span{0, kHeaderEnd});
    std::sort(claimed.begin(), claimed.end(), [](const Span &a, const Span &b) { return a.begin < b.begin; });
    std::vector<Located> found;
    long from = 0;
    auto scan = [&](long begin, long end) {
        for (long at = even(begin); at < end;) {
            const Found f = paragraph_at(doc, at, end);
            if (f.end < 0) {
                at += 2;
                continue;
            }
            found.push_back({at, f.entry});
            at = even(f.end);
        }
    };
    for (const Span &s : claimed) {
        if (s.begin > from) scan(from, s.begin);
        from = std::max(from, s.end);
    }
    scan(from, static_cast<long>(doc.size()));
    return found;
}

struct Kept {
    size_t index;
    long at;
    Entry entry;
};

// The sound entries of an area, in array order, with the spans they claim.
std::vector<Kept> keep_sound(const Bytes &doc, const AreaIndex &a, std::vector<Span> &claimed) {
    std::vector<Kept> kept;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const Span s = entry_span(doc, a.entries[i], true);
        if (s.begin < 0) continue;
        if (s.end > s.begin) claimed.push_back(s);
        kept.push_back({i, s.begin, a.entries[i]});
    }
    return kept;
}

// Where found paragraphs go among the kept ones.  When the kept paragraphs
// lie in file order, each found one goes where its place in the file puts
// it; otherwise they stand together where the first lost entry stood.
std::vector<Entry> merge(const std::vector<Kept> &kept, const std::vector<Located> &found, size_t count) {
    std::vector<Entry> out;
    const bool in_file_order = std::is_sorted(kept.begin(), kept.end(), [](const Kept &a, const Kept &b) {
        return a.at < b.at;
    });
    size_t first_lost = 0;
    for (const Kept &k : kept) {
        if (k.index != first_lost) break;
        ++first_lost;
    }
    if (first_lost == kept.size() && first_lost >= count) first_lost = count;
    size_t f = 0;
    for (const Kept &k : kept) {
        if (in_file_order) {
            for (; f < found.size() && found[f].at < k.at; ++f) out.push_back(found[f].entry);
        } else if (k.index > first_lost) {
            for (; f < found.size(); ++f) out.push_back(found[f].entry);
        }
        out.push_back(k.entry);
    }
    for (; f < found.size(); ++f) out.push_back(found[f].entry);
    return out;
}

// What a lost entry says: one whose data lies outside the document (or in
// its header) is a damaged index; one whose data is not a paragraph, a
// damaged paragraph.
bool points_outside(const Bytes &doc, const Entry &e) {
    const long at = entry_data(e);
    return at < kHeaderEnd || at >= static_cast<long>(doc.size());
}

void add_loss(Survey &s, const std::string &what) { s.lost += (s.lost.empty() ? "" : "; ") + what; }

void note_loss(Survey &s, const Bytes &doc, int area, const AreaIndex &a, const std::vector<Kept> &kept) {
    if (kept.size() >= a.count) return;
    if (area < 2) {
        add_loss(s, std::string(kept.empty() ? "the " : "part of the ") + (area == 0 ? "page header" : "page footer") +
                        " was lost");
        return;
    }
    size_t index_lost = a.count - a.entries.size(), unreadable = 0;
    for (size_t i = 0, k = 0; i < a.entries.size(); ++i) {
        if (k < kept.size() && kept[k].index == i) {
            ++k;
            continue;
        }
        ++(points_outside(doc, a.entries[i]) ? index_lost : unreadable);
    }
    if (index_lost > 0) add_loss(s, index_lost >= a.count ? "the paragraph index was lost" : "part of the paragraph index was lost");
    if (unreadable > 0)
        add_loss(s, std::to_string(unreadable) + (unreadable == 1 ? " paragraph" : " paragraphs") + " could not be read");
}

}  // namespace

std::vector<uint8_t> load_document(std::FILE *in, long offset) {
    std::vector<uint8_t> doc;
    if (std::fseek(in, offset, SEEK_SET) != 0) return doc;
    uint8_t buffer[65536];
    size_t n;
    while (doc.size() < static_cast<size_t>(kMaxDocument) && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        doc.insert(doc.end(), buffer, buffer + std::min(n, static_cast<size_t>(kMaxDocument) - doc.size()));
    return doc;
}

Survey survey(const std::vector<uint8_t> &doc) {
    Survey s;
    if (doc.size() < static_cast<size_t>(kHeaderEnd)) return s;
    const AreaIndex index[3] = {read_index(doc, kHeaderCountAt, kHeaderWindowAt),
                                read_index(doc, kFooterCountAt, kFooterWindowAt),
                                read_index(doc, kMainCountAt, kMainWindowAt)};
    s.damaged = std::any_of(std::begin(index), std::end(index), [&](const AreaIndex &a) { return !index_sound(doc, a); });
    if (!s.damaged) return s;
    std::vector<Span> claimed;
    std::vector<Kept> kept[3];
    for (int area = 0; area < 3; ++area) {
        if (index[area].array.end > index[area].array.begin) claimed.push_back(index[area].array);
        kept[area] = keep_sound(doc, index[area], claimed);
        s.expected += index[area].count;
    }
    for (int area = 0; area < 2; ++area)
        for (const Kept &k : kept[area]) s.areas[area].push_back(k.entry);
    const std::vector<Located> found = scan_gaps(doc, claimed);
    s.areas[2] = merge(kept[2], found, index[2].count);
    // A document of this generation holds at most 65,535 paragraphs an area.
    if (s.areas[2].size() > 0xFFFF) s.areas[2].resize(0xFFFF);
    for (int area = 0; area < 3; ++area) {
        s.recovered += static_cast<int32_t>(s.areas[area].size());
        note_loss(s, doc, area, index[area], kept[area]);
    }
    return s;
}

std::string damage_summary(const Survey &s) {
    std::string text = "recovered " + std::to_string(s.recovered) + " of about " + std::to_string(s.expected) + " paragraphs";
    if (!s.lost.empty()) text += "; " + s.lost;
    return text;
}

}  // namespace macwrite5
