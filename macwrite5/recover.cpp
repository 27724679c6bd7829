// Recovery of a damaged MacWrite 4.6/5 document: the checks that find the
// damage, and the reading of paragraphs by their own structure.
#include "macwrite5/recover.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

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

bool text_char(uint8_t c) { return (c >= 0x20 && c != 0x7F) || c == kavrel::code::kTab; }

// Character i of `count` as a writer stores text: printable or a tab, or a
// return last (the last paragraph of an area has none).  Scanning asks it of every character as it goes, so that
// bytes that are no paragraph are left at once.
bool text_at(uint8_t c, size_t i, size_t count) {
    return text_char(c) || (i + 1 == count && c == kavrel::code::kParagraphEnd);
}

// Nibble-compressed characters, read from `nibble` nibbles into the byte
// at `at`, never at or past `limit`.
struct Nibbles {
    const Bytes &doc;
    long at, limit, nibble = 0;

    int next() {
        const long byte = at + nibble / 2;
        if (byte >= limit) return -1;
        const int v = (nibble & 1) ? doc[byte] & 0x0F : doc[byte] >> 4;
        ++nibble;
        return v;
    }
    // The next character; -1 when it runs past the limit.
    int character() {
        const int n = next();
        if (n < 0) return -1;
        if (n != kNibbleEscape) return static_cast<uint8_t>(kNibbleTable[n]);
        const int hi = next(), lo = hi < 0 ? -1 : next();
        return lo < 0 ? -1 : hi << 4 | lo;
    }
    // Past the byte that holds the last nibble read.
    long end() const { return at + (nibble + 1) / 2; }
};

// The end of nibble-compressed text of `count` characters at `at`, its
// characters in `text`; -1 when it runs past `limit`.
long expand_at(const Bytes &doc, long at, long limit, uint16_t count, Bytes *text, bool as_text, long *work) {
    Nibbles in{doc, at, limit};
    for (uint16_t i = 0; i < count; ++i) {
        const int n = in.character();
        if (n < 0) return -1;
        const auto c = static_cast<uint8_t>(n);
        if (as_text && !text_at(c, i, count)) return -1;
        if (work != nullptr && --*work < 0) return -1;
        if (text != nullptr) text->push_back(c);
    }
    return in.end();
}

// Prose has a space every six or seven characters; letters that nibbles
// decode from other bytes have one in sixteen.
bool reads_as_prose(const Bytes &text) {
    constexpr size_t kLeast = 24;
    if (text.size() < kLeast) return false;
    const auto spaces = std::count(text.begin(), text.end(), ' ');
    // Zero bytes decode to spaces: a long run of them is a lost region.
    const Bytes run(8, ' ');
    return static_cast<size_t>(spaces) * 100 >= text.size() * 12 &&
           std::search(text.begin(), text.end(), run.begin(), run.end()) == text.end();
}

// Text as a writer stores it: printable characters and tabs, and a return
// at the end, which the last paragraph of an area lacks.
bool text_holds(const Bytes &text) {
    if (text.empty()) return false;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (!text_char(text[i])) return false;
    return text.back() == kavrel::code::kParagraphEnd || text_char(text.back());
}

// A text paragraph as it lies in the file.
struct TextParagraph {
    long end = -1;   // past its run list; -1 when it does not fit
    Bytes text;
    long runs_at = 0;
    uint16_t runs_length = 0;
};

// `as_text`: only text as a writer stores it (text_holds) is read.
// `work`, when given, is what decoding may still spend; it stops at none.
TextParagraph read_text_at(const Bytes &doc, long at, long limit, bool compressed, bool as_text = false,
                           long *work = nullptr) {
    TextParagraph p;
    if (at + 2 > limit) return p;
    const uint16_t count = be16(&doc[at]);
    long text_end;
    if (compressed) {
        text_end = expand_at(doc, at + 2, limit, count, &p.text, as_text, work);
        if (text_end < 0) return p;
    } else {
        text_end = at + 2 + count;
        if (text_end > limit) return p;
        p.text.assign(doc.begin() + at + 2, doc.begin() + text_end);
        if (as_text && !text_holds(p.text)) return p;
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
        // An empty text (a writer stores one without its return) has its run.
        if (position <= last || position >= std::max<long>(1, static_cast<long>(p.text.size())) || (last < 0 && position != 0))
            return false;
        if (size <= 0 || (doc[at + 3] & 0x80) != 0 || be16s(&doc[at + 4]) < 0) return false;
        last = position;
    }
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

// Where in a text a lost region (a run of zeros no writer stores) begins;
// the text's size when there is none.
// Compressed, the zeros read as sixteen spaces.
size_t zeroed_at(const Bytes &text, bool compressed = false) {
    const size_t run = compressed ? 16 : 4;
    const uint8_t zero = compressed ? ' ' : 0;
    size_t zeros = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        zeros = text[i] == zero ? zeros + 1 : 0;
        if (zeros == run) return i + 1 - run;
    }
    return text.size();
}

// Compressed text that a lost region ends reads as spaces to its end,
// where a writer puts the return.
bool zeroed_end(const Bytes &text) {
    constexpr size_t kRun = 16;
    return text.size() >= kRun && std::all_of(text.end() - kRun, text.end(), [](uint8_t c) { return c == ' '; });
}

// An empty paragraph without runs whose data is followed by zeros is a
// lost region rather than a paragraph: a writer gives even an empty
// paragraph its run.
bool lost_region(const Bytes &doc, long at) {
    constexpr long kZeros = 16;
    return at + kZeros <= static_cast<long>(doc.size()) &&
           std::all_of(&doc[at], &doc[at] + kZeros, [](uint8_t b) { return b == 0; });
}

// A run of zeros after the first: the run list was lost.
bool zeroed_runs(const Bytes &doc, const TextParagraph &p) {
    for (long at = p.runs_at + kRunSize; at + kRunSize <= p.runs_at + p.runs_length; at += kRunSize)
        if (std::all_of(&doc[at], &doc[at] + kRunSize, [](uint8_t b) { return b == 0; })) return true;
    return false;
}

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
    if (p.end < 0 || zeroed_at(p.text) < p.text.size() || zeroed_runs(doc, p) || (p.text.empty() && lost_region(doc, at)) ||
        ((e[kDataWordAt] & kFlagCompressed) != 0 && zeroed_end(p.text)))
        return none;
    if (keep && !runs_hold(doc, p, false)) return none;
    return Span{at, p.end};
}

// A paragraph whose text a lost region cut short: what comes before the
// region, less the word it cut, as a literal piece; literal false when
// nothing is left.
Piece cut_paragraph(const Bytes &doc, const Entry &e) {
    Piece piece;
    const bool compressed = (e[kDataWordAt] & kFlagCompressed) != 0;
    const TextParagraph p = read_text_at(doc, entry_data(e), static_cast<long>(doc.size()), compressed);
    if (p.end < 0) return piece;
    size_t keep = zeroed_at(p.text, compressed);
    // Whole text whose run list a lost region took keeps the runs before it.
    const bool whole = keep >= p.text.size();
    if (whole && !zeroed_runs(doc, p)) return piece;
    while (!whole && keep > 0 && p.text[keep - 1] != ' ' && p.text[keep - 1] != kavrel::code::kTab) --keep;
    if (keep == 0) return piece;
    piece.literal = true;
    piece.entry = e;
    piece.text.assign(p.text.begin(), p.text.begin() + static_cast<long>(keep));
    if (!whole) piece.text.push_back(kavrel::code::kParagraphEnd);
    for (long at = p.runs_at; at + kRunSize <= p.runs_at + p.runs_length; at += kRunSize) {
        const FormatRun run = decode_format_run(&doc[at]);
        if (run.size <= 0 || run.font < 0 || run.position >= static_cast<long>(keep) ||
            (piece.runs.empty() ? run.position != 0 : run.position <= piece.runs.back().position))
            break;
        piece.runs.push_back(run);
    }
    return piece;
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

// What a lost entry says: one whose data lies outside the document (or in
// its header) is a damaged index; one whose data is not a paragraph, a
// damaged paragraph.
bool points_outside(const Bytes &doc, const Entry &e) {
    const long at = entry_data(e);
    return at < kHeaderEnd || at >= static_cast<long>(doc.size());
}

// A paragraph found by its structure at `at` within `limit`, and its end
// (-1 when there is none).
struct Found {
    Piece piece;
    long end = -1;
};

Piece entry_piece(const Entry &e) {
    Piece p;
    p.entry = e;
    return p;
}

// What a scan knows of its document: where, from each byte on, the first
// byte that is not text is (a plain text holds no other, but its return,
// so one look says whether it can be one), and the work that decoding
// compressed text may still do, so that no input makes the scan slow.
struct Scan {
    explicit Scan(const Bytes &doc) : breaks(doc.size() + 1), work(4 * static_cast<long>(doc.size()) + (1L << 16)) {
        breaks[doc.size()] = static_cast<uint32_t>(doc.size());
        for (size_t i = doc.size(); i-- > 0;) breaks[i] = text_char(doc[i]) ? breaks[i + 1] : static_cast<uint32_t>(i);
    }
    std::vector<uint32_t> breaks;   // a document is at most 16 MB
    long work;
    long after_sound = -1;          // where the bytes after a sound paragraph begin
    bool strict = false;            // every compressed paragraph must have its return

    // Lends the scan `n` of work of its own for a while, then gives back
    // what the scan had.
    class Work {
    public:
        Work(Scan &scan, long n) : scan_(scan), kept_(scan.work) { scan.work = n; }
        ~Work() { scan_.work = kept_; }
        Work(const Work &) = delete;
        Work &operator=(const Work &) = delete;

    private:
        Scan &scan_;
        long kept_;
    };
};

bool plain_text_at(const Bytes &doc, const Scan &scan, long at, long limit) {
    if (at + 2 > limit) return false;
    const long count = be16(&doc[at]);
    const long last = at + 1 + count;
    const uint32_t stop = scan.breaks[static_cast<size_t>(at + 2)];
    return count > 0 && last < limit && (stop > last || (stop == last && doc[last] == kavrel::code::kParagraphEnd));
}

Found paragraph_at(const Bytes &doc, Scan &scan, long at, long limit);

// Whether compressed text without its return (the last paragraph of an
// area) is a paragraph: nibbles decode almost any bytes to letters, so it
// must start where a sound paragraph ends, or end where the gap does or
// where a paragraph that has its return starts.
bool ends_area(const Bytes &doc, Scan &scan, long at, long end, long limit) {
    if (scan.strict) return false;
    if (at == scan.after_sound || end == limit) return true;
    scan.strict = true;
    const bool followed = paragraph_at(doc, scan, even(end), limit).end >= 0;
    scan.strict = false;
    return followed;
}

Found text_at(const Bytes &doc, Scan &scan, long at, long limit, bool compressed) {
    if (!compressed && !plain_text_at(doc, scan, at, limit)) return Found{};
    const TextParagraph p = read_text_at(doc, at, limit, compressed, true, &scan.work);
    if (p.end < 0 || !text_holds(p.text) || !runs_hold(doc, p, true)) return Found{};
    if (compressed && p.text.back() != kavrel::code::kParagraphEnd && !ends_area(doc, scan, at, p.end, limit)) return Found{};
    return Found{entry_piece(make_entry(1, compressed ? kFlagCompressed : 0, at, 0)), p.end};
}

// Nibbles read from a few bytes before a compressed paragraph can decode to
// letters and then fall in step with it, so a compressed paragraph that
// another one starting a little later ends with is that later one.
constexpr long kGlue = 64;

Found paragraph_at(const Bytes &doc, Scan &scan, long at, long limit) {
    if (Found f = text_at(doc, scan, at, limit, false); f.end > 0) return f;
    if (Found f = text_at(doc, scan, at, limit, true); f.end > 0) {
        // Each look decodes at most the found paragraph again: the work
        // stays within a fixed multiple of what was found.
        Scan::Work budget(scan, 3 * (f.end - at) * kGlue);
        for (long later = at + 2; later < f.end - 2 && later <= at + kGlue; later += 2) {
            for (const bool compressed : {false, true}) {
                Found g = text_at(doc, scan, later, limit, compressed);
                if (g.end == f.end) return g;
            }
        }
        return f;
    }
    if (at + kRulerSize <= limit && ruler_holds(&doc[at], true))
        return Found{entry_piece(make_entry(0, 0, at, kRulerSize)), at + kRulerSize};
    if (const long length = picture_at(doc, at, limit); length > 0)
        return Found{entry_piece(make_entry(-1, 0, at, static_cast<uint16_t>(length))), at + length};
    return Found{};
}

// The characters from `at` up to a return, and where they end; plain text
// or, starting `skip` nibbles into the byte at `at`, compressed text.
struct TailText {
    Bytes text;
    long end = -1;
};

TailText tail_text(const Bytes &doc, long at, long limit, bool compressed, int skip) {
    constexpr size_t kLongest = 4096;
    TailText t;
    if (!compressed) {
        long cr = at;
        while (cr < limit && cr - at < static_cast<long>(kLongest) && text_char(doc[cr])) ++cr;
        if (cr >= limit || doc[cr] != kavrel::code::kParagraphEnd) return t;
        t.text.assign(doc.begin() + at, doc.begin() + cr + 1);
        t.end = cr + 1;
        return t;
    }
    Nibbles in{doc, at, limit, skip};
    while (t.text.size() < kLongest) {
        const int n = in.character();
        if (n < 0) return TailText{};
        t.text.push_back(static_cast<uint8_t>(n));
        if (n == kavrel::code::kParagraphEnd) {
            t.end = in.end();
            return t;
        }
        if (!text_char(static_cast<uint8_t>(n))) return TailText{};
    }
    return TailText{};
}

// The end of a text paragraph whose start a lost region took: its text runs
// from `at` to a return, and a run list that holds follows.  Its words after
// the first (which the region cut) are kept, in the style of its last run.
Found tail_at(const Bytes &doc, Scan &scan, long at, long limit) {
    for (int mode = 0; mode < 4; ++mode) {
        const TailText t = tail_text(doc, at, limit, mode > 0, mode - 1);
        if (t.end < 0) continue;
        TextParagraph p;
        p.runs_at = even(t.end) + 2;
        if (p.runs_at > limit) continue;
        p.runs_length = be16(&doc[p.runs_at - 2]);
        p.text.assign(4096, ' ');  // run positions count from the lost start
        if (p.runs_at + p.runs_length > limit || !runs_hold(doc, p, true)) continue;
        Found f;
        f.end = p.runs_at + p.runs_length;
        // Nibbles decode almost any bytes to letters: compressed text must
        // end where the next paragraph begins.
        if (mode > 0 && f.end != limit && paragraph_at(doc, scan, even(f.end), limit).end < 0 && !reads_as_prose(t.text))
            continue;
        const auto first = std::find_if(t.text.begin(), t.text.end(), [](uint8_t c) { return c != ' '; });
        const auto word = std::find(first, t.text.end(), ' ');
        if (word == t.text.end()) return f;
        f.piece.literal = true;
        f.piece.entry = make_entry(1, 0, at, 0);
        f.piece.text.assign(word + 1, t.text.end());
        FormatRun last = decode_format_run(&doc[p.runs_at + p.runs_length - kRunSize]);
        last.position = 0;
        f.piece.runs.push_back(last);
        return f;
    }
    return Found{};
}

struct Located {
    long at;
    Piece piece;
};

bool zero_word(const Bytes &doc, long at) { return doc[at] == 0 && doc[at + 1] == 0; }

// Paragraphs found in the bytes that nothing sound claims, in file order.
// After a lost region (zeros) the end of the paragraph it cut may follow.
std::vector<Located> scan_gaps(const Bytes &doc, std::vector<Span> claimed) {
    claimed.push_back(Span{0, kHeaderEnd});
    std::sort(claimed.begin(), claimed.end(), [](const Span &a, const Span &b) { return a.begin < b.begin; });
    std::vector<Located> found;
    Scan state(doc);
    long from = 0;
    auto scan = [&](long begin, long end) {
        // A lost region is longer than the zeros a writer leaves (pads,
        // empty rulers).
        constexpr long kLostRegion = 32;
        long zeros = 0;
        state.after_sound = even(begin);
        for (long at = even(begin); at < end;) {
            Found f = paragraph_at(doc, state, at, end);
            if (f.end < 0 && at + 2 <= end && zero_word(doc, at)) {
                zeros += 2;
                at += 2;
                continue;
            }
            if (f.end < 0 && zeros >= kLostRegion) f = tail_at(doc, state, at, end);
            zeros = 0;
            if (f.end < 0) {
                at += 2;
                continue;
            }
            if (f.piece.literal || f.piece.entry != Entry{}) found.push_back({entry_data(f.piece.entry), f.piece});
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
    long at;       // of its data; -1 for a page break, which has none
    Piece piece;
};

// The sound entries of an area, in array order, with the spans they claim,
// and the part before a lost region of those it cut short.
std::vector<Kept> keep_sound(const Bytes &doc, const AreaIndex &a, std::vector<Span> &claimed) {
    std::vector<Kept> kept;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const Entry &e = a.entries[i];
        const Span s = entry_span(doc, e, true);
        if (s.begin < 0) {
            if (be16s(&e[kHeightAt]) <= 0 || points_outside(doc, e)) continue;
            Piece cut = cut_paragraph(doc, e);
            if (!cut.literal) continue;
            claimed.push_back(Span{entry_data(e), entry_data(e) + 2 + static_cast<long>(cut.text.size()) - 1});
            kept.push_back({i, entry_data(e), std::move(cut)});
            continue;
        }
        if (s.end > s.begin) claimed.push_back(s);
        kept.push_back({i, s.end > s.begin ? s.begin : -1, entry_piece(e)});
    }
    return kept;
}

// What places a found paragraph: an entry's paragraph and where its data
// lies.  The data of a damaged one did not hold together, so what follows
// it in the file, up to the next anchor, is what is left of it.
struct Anchor {
    long at;
    size_t index;
    bool damaged;
};

// Where a piece goes in the main text: at the entry of index `slot`, and
// among the pieces given that entry, by `how` (its own entry first, then the
// rest of a damaged paragraph, then paragraphs placed by their file
// neighbours, then those nothing places), then by `rank`.
struct Place {
    size_t slot;
    int how;
    double rank;
    bool operator<(const Place &o) const { return std::tie(slot, how, rank) < std::tie(o.slot, o.how, o.rank); }
};

enum How { kOwnEntry, kRestOfDamaged, kByNeighbours, kUnplaced };

// The paragraphs that entries place, in file order: the kept ones, and the
// text entries whose data lies in the document but did not hold.
std::vector<Anchor> anchors_of(const Bytes &doc, const AreaIndex &a, const std::vector<Kept> &kept) {
    std::vector<Anchor> anchors;
    std::vector<bool> is_kept(a.entries.size());
    for (const Kept &k : kept) {
        is_kept[k.index] = true;
        if (k.at >= 0) anchors.push_back({k.at, k.index, k.piece.literal});
    }
    for (size_t i = 0; i < a.entries.size(); ++i)
        if (!is_kept[i] && be16s(&a.entries[i][kHeightAt]) > 0 && !points_outside(doc, a.entries[i]))
            anchors.push_back({entry_data(a.entries[i]), i, true});
    std::sort(anchors.begin(), anchors.end(), [](const Anchor &x, const Anchor &y) { return x.at < y.at; });
    return anchors;
}

// A run of lost entries [begin, end), where the paragraphs of the nearest
// kept entries before and after it lie in the file (-1: none), and the
// found paragraphs it takes.
struct Gap {
    size_t begin, end;
    long before = -1, after = -1;
    std::vector<size_t> found;

    // MacWrite writes runs of paragraphs forwards or backwards.  The found
    // paragraph nearest in the file to a neighbour of the gap is its first
    // (near the one before) or its last (near the one after), and the rest
    // lie on its far side.  A gap that opens the index has only the one
    // after it, and most of its paragraphs lie before that one when the gap
    // runs forwards.
    bool rising(std::vector<long> ats) const {
        if (before < 0 && after >= 0) {
            std::nth_element(ats.begin(), ats.begin() + static_cast<long>(ats.size() / 2), ats.end());
            return ats[ats.size() / 2] < after;
        }
        long best = -1;
        bool rises = true;
        for (const long neighbour : {before, after}) {
            for (const long at : ats) {
                if (neighbour < 0 || (best >= 0 && std::abs(at - neighbour) >= best)) continue;
                best = std::abs(at - neighbour);
                rises = (at > neighbour) == (neighbour == before);
            }
        }
        return rises;
    }
};

std::vector<Gap> gaps_of(const std::vector<Kept> &kept, size_t count) {
    std::vector<long> at(count, -1);
    std::vector<bool> is_lost(count, true);
    for (const Kept &k : kept) {
        at[k.index] = k.at;
        is_lost[k.index] = false;
    }
    std::vector<Gap> gaps;
    long last = -1;
    for (size_t i = 0; i < count; ++i) {
        if (!is_lost[i]) {
            if (at[i] < 0) continue;
            if (!gaps.empty() && gaps.back().after < 0) gaps.back().after = at[i];
            last = at[i];
            continue;
        }
        if (gaps.empty() || gaps.back().end != i) {
            gaps.push_back(Gap{i, i + 1, -1, -1, {}});
            gaps.back().before = last;
        } else {
            gaps.back().end = i + 1;
        }
    }
    return gaps;
}

// The gap that each found paragraph goes to: the narrowest whose
// neighbours lie about it in the file, else the first.  One sweep over the
// file keeps the gaps about the current position by their width.
std::vector<size_t> gaps_for(const std::vector<Gap> &gaps, const std::vector<Located> &found) {
    std::vector<std::pair<long, size_t>> opens, closes;
    for (size_t g = 0; g < gaps.size(); ++g) {
        if (gaps[g].before < 0 || gaps[g].after < 0) continue;
        opens.push_back({std::min(gaps[g].before, gaps[g].after), g});
        closes.push_back({std::max(gaps[g].before, gaps[g].after), g});
    }
    std::sort(opens.begin(), opens.end());
    std::sort(closes.begin(), closes.end());
    auto width = [&](size_t g) { return std::make_pair(std::abs(gaps[g].after - gaps[g].before), g); };
    std::set<std::pair<long, size_t>> about;
    std::vector<size_t> out;
    size_t o = 0, c = 0;
    for (const Located &f : found) {
        for (; o < opens.size() && opens[o].first < f.at; ++o) about.insert(width(opens[o].second));
        for (; c < closes.size() && closes[c].first <= f.at; ++c) about.erase(width(closes[c].second));
        out.push_back(about.empty() ? 0 : about.begin()->second);
    }
    return out;
}

// The found paragraph that comes after a damaged entry's data, up to the
// next paragraph an entry places, is the rest of that entry's paragraph;
// kNotDamaged for one that is not.
constexpr size_t kNotDamaged = SIZE_MAX;

size_t damaged_before(const std::vector<Anchor> &anchors, long at) {
    const auto next = std::upper_bound(anchors.begin(), anchors.end(), at, [](long v, const Anchor &x) { return v < x.at; });
    if (next == anchors.begin() || !(next - 1)->damaged) return kNotDamaged;
    return (next - 1)->index;
}

// Gives the found paragraphs of a gap its lost entries, spread evenly, in
// the direction of its neighbours.
void place_gap(const Gap &g, const std::vector<Located> &found, std::vector<Place> &places, size_t first) {
    const size_t m = g.found.size();
    if (m == 0) return;
    std::vector<long> ats;
    for (const size_t f : g.found) ats.push_back(found[f].at);
    const bool rising = g.rising(ats);
    for (size_t j = 0; j < m; ++j) {
        const size_t r = rising ? j : m - 1 - j;
        const double q = (double(r) + 0.5) * double(g.end - g.begin) / double(m);
        places[first + g.found[j]] = {g.begin + static_cast<size_t>(q), kByNeighbours, q};
    }
}

// The main text: the kept paragraphs in array order, and the found ones
// where their neighbours place them.  `guessed` counts those whose place
// is only a guess.
std::vector<Piece> merge(const Bytes &doc, const AreaIndex &a, const std::vector<Kept> &kept,
                         const std::vector<Located> &found, size_t &guessed) {
    std::vector<Place> places;
    for (const Kept &k : kept) places.push_back({k.index, kOwnEntry, 0});
    places.resize(kept.size() + found.size());
    const std::vector<Anchor> anchors = anchors_of(doc, a, kept);
    std::vector<Gap> gaps = gaps_of(kept, a.count);
    const std::vector<size_t> gap = gaps_for(gaps, found);
    for (size_t f = 0; f < found.size(); ++f) {
        if (const size_t d = damaged_before(anchors, found[f].at); d != kNotDamaged)
            places[kept.size() + f] = {d, kRestOfDamaged, double(f)};
        else if (gaps.empty())
            places[kept.size() + f] = {a.count, kUnplaced, double(f)};
        else
            gaps[gap[f]].found.push_back(f);
    }
    for (const Gap &g : gaps) place_gap(g, found, places, kept.size());
    std::vector<size_t> order(places.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) { return places[x] < places[y]; });
    std::vector<Piece> out;
    guessed = 0;
    for (const size_t i : order) {
        out.push_back(i < kept.size() ? kept[i].piece : found[i - kept.size()].piece);
        guessed += places[i].how >= kByNeighbours ? 1 : 0;
    }
    return out;
}

void add_loss(Survey &s, const std::string &what) { s.lost += (s.lost.empty() ? "" : "; ") + what; }

// Paragraphs found without their entry have no order of their own: the
// message says where it was guessed.
void note_guesses(Survey &s, size_t guessed) {
    if (guessed == 0) return;
    add_loss(s, std::to_string(guessed) + (guessed == 1 ? " paragraph" : " paragraphs") +
                    " found without an index entry stand where the file places them, perhaps out of order");
}

void note_loss(Survey &s, const Bytes &doc, int area, const AreaIndex &a, const std::vector<Kept> &kept) {
    const auto cut = std::count_if(kept.begin(), kept.end(), [](const Kept &k) { return k.piece.literal; });
    if (kept.size() >= a.count && cut == 0) return;
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
    if (cut > 0) add_loss(s, std::to_string(cut) + (cut == 1 ? " paragraph was" : " paragraphs were") + " cut short");
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

namespace {

bool zeros(const uint8_t *from, size_t n) {
    return std::all_of(from, from + n, [](uint8_t b) { return b == 0; });
}

// What the entry at `at` says, its data `shift` bytes further on: 1 when it
// places a paragraph of its kind that the scan found (`kinds`: start,
// height sign), an empty text paragraph or a page break; 0 when its data
// lies in a lost region (zeros); -1 when it is no entry.
int places_found(const Bytes &doc, long at, long shift, const std::map<long, int> &kinds) {
    Entry e;
    std::copy_n(&doc[at], kEntrySize, e.begin());
    const int16_t height = be16s(&e[kHeightAt]);
    if (height < 0 && be16(&e[kDataLengthAt]) == kPageBreakLength) return 1;
    const long data = entry_data(e) + shift;
    const auto kind = kinds.find(data);
    if (kind != kinds.end()) return kind->second == (height > 0) - (height < 0) ? 1 : -1;
    if (data < kHeaderEnd || data + 2 > static_cast<long>(doc.size()) || !zero_word(doc, data)) return -1;
    if (height > 0 && entry_span(doc, make_entry(1, 0, data, 0), true).begin >= 0) return 1;
    return lost_region(doc, data) ? 0 : -1;
}

// The longest run of entries that place paragraphs, through entries whose
// paragraphs were lost, from one that places to one that places.
struct EntryRun {
    size_t places = 0;
    long begin = 0, end = 0, shift = 0;
};

EntryRun longest_run(const Bytes &doc, long first, long shift, const std::map<long, int> &kinds, EntryRun best) {
    EntryRun run{0, 0, 0, shift};
    for (long at = first; at + kEntrySize <= static_cast<long>(doc.size()); at += kEntrySize) {
        const int says = places_found(doc, at, shift, kinds);
        if (says < 0) run.places = 0;
        if (says <= 0) continue;
        if (run.places++ == 0) run.begin = at;
        run.end = at + kEntrySize;
        if (run.places > best.places) best = run;
    }
    return best;
}

// The main text's information array of a document whose header was lost:
// the longest run of entries that place paragraphs the scan found.  A lost
// first sector may have taken a MacBinary header along, so the data may
// lie 128 bytes further on than the entries say.
AreaIndex index_by_structure(const Bytes &doc, const std::vector<Located> &found) {
    constexpr long kMacBinaryHeader = 128;
    constexpr size_t kLeast = 2;
    std::map<long, int> kinds;
    for (const Located &l : found)
        if (!l.piece.literal) kinds[l.at] = (be16s(&l.piece.entry[kHeightAt]) > 0) - (be16s(&l.piece.entry[kHeightAt]) < 0);
    EntryRun best;
    for (const long shift : {0L, kMacBinaryHeader})
        for (long first = kHeaderEnd; first < kHeaderEnd + kEntrySize; first += 2) best = longest_run(doc, first, shift, kinds, best);
    AreaIndex a;
    if (best.places < kLeast) return a;
    a.count = static_cast<uint16_t>(std::min<long>((best.end - best.begin) / kEntrySize, 0xFFFF));
    a.array = Span{best.begin, best.begin + kEntrySize * long{a.count}};
    for (long at = a.array.begin; at < a.array.end; at += kEntrySize) {
        Entry e;
        std::copy_n(&doc[at], kEntrySize, e.begin());
        const uint32_t word = be32(&e[kDataWordAt]);
        kavrel::put_be32(&e[kDataWordAt], (word & ~kDataOffsetMask) | ((word + static_cast<uint32_t>(best.shift)) & kDataOffsetMask));
        a.entries.push_back(e);
    }
    return a;
}

// The text of a paragraph that recovery keeps or found, as its words.
std::vector<std::string> words_of(const Bytes &doc, const Piece &piece) {
    Bytes text = piece.text;
    if (!piece.literal && be16s(&piece.entry[kHeightAt]) > 0)
        text = read_text_at(doc, entry_data(piece.entry), static_cast<long>(doc.size()),
                            (piece.entry[kDataWordAt] & kFlagCompressed) != 0).text;
    std::vector<std::string> words;
    std::string word;
    for (const uint8_t c : text) {
        if (c > ' ') {
            word += static_cast<char>(c);
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

using Pairs = std::set<std::string>;

Pairs word_pairs(const Bytes &doc, const Piece &piece) {
    const std::vector<std::string> w = words_of(doc, piece);
    Pairs pairs;
    for (size_t i = 0; i + 1 < w.size(); ++i) pairs.insert(w[i] + ' ' + w[i + 1]);
    return pairs;
}

// Which paragraphs hold each word pair.  A pair that many paragraphs hold
// ("of the") says nothing of where one came from, and is left out.
class PairIndex {
public:
    void add(const Pairs &pairs, size_t id) {
        for (const std::string &p : pairs) holders_[p].push_back(id);
    }
    // Whether a paragraph with these pairs shares more than half of them with
    // one paragraph of the index that `counts` accepts.
    template <typename Counts>
    bool shares_most(const Pairs &pairs, Counts counts) const {
        constexpr size_t kCommon = 16;
        std::map<size_t, size_t> hits;
        for (const std::string &p : pairs) {
            const auto it = holders_.find(p);
            if (it == holders_.end() || it->second.size() > kCommon) continue;
            for (const size_t id : it->second)
                if (counts(id)) ++hits[id];
        }
        return std::any_of(hits.begin(), hits.end(), [&](const auto &h) { return 2 * h.second > pairs.size(); });
    }

private:
    std::map<std::string, std::vector<size_t>> holders_;
};

// Free space keeps the old versions of edited paragraphs.  A paragraph found
// there that shares most of its word pairs with a kept paragraph, or with
// one found later in the file (an edited paragraph is written anew after
// what the file holds), is such a version, not a lost paragraph.
void drop_old_versions(const Bytes &doc, const std::vector<Kept> (&kept)[3], std::vector<Located> &found) {
    PairIndex kept_pairs;
    size_t id = 0;
    for (const auto &area : kept)
        for (const Kept &k : area) kept_pairs.add(word_pairs(doc, k.piece), id++);
    std::vector<Pairs> pairs;
    PairIndex found_pairs;
    for (size_t i = 0; i < found.size(); ++i) {
        pairs.push_back(word_pairs(doc, found[i].piece));
        found_pairs.add(pairs.back(), i);
    }
    std::vector<Located> newest;
    for (size_t i = 0; i < found.size(); ++i) {
        const bool old = !pairs[i].empty() && (kept_pairs.shares_most(pairs[i], [](size_t) { return true; }) ||
                                               (pairs[i].size() >= 2 && found_pairs.shares_most(pairs[i], [&](size_t j) { return j > i; })));
        if (!old) newest.push_back(std::move(found[i]));
    }
    found = std::move(newest);
}

// Reads what survives of a damaged document by its areas' indexes.  When
// the header was lost, only the main text's index (found by its structure)
// is known, and what else the document holds is looked for too.
Survey recover(const Bytes &doc, const AreaIndex (&index)[3], bool header_lost) {
    Survey s;
    s.damaged = true;
    if (header_lost) add_loss(s, "the document header was lost");
    std::vector<Span> claimed;
    std::vector<Kept> kept[3];
    for (int area = 0; area < 3; ++area) {
        if (index[area].array.end > index[area].array.begin) claimed.push_back(index[area].array);
        kept[area] = keep_sound(doc, index[area], claimed);
        s.expected += header_lost ? 0 : index[area].count;
    }
    for (int area = 0; area < 2; ++area)
        for (const Kept &k : kept[area]) s.areas[area].push_back(k.piece);
    // Free space of a sound document may hold old versions of paragraphs:
    // only a main text that lost paragraphs, or parts of them, is looked
    // for in it.
    const bool lost_some = header_lost || kept[2].size() < index[2].count ||
                           std::any_of(kept[2].begin(), kept[2].end(), [](const Kept &k) { return k.piece.literal; });
    std::vector<Located> found = lost_some ? scan_gaps(doc, claimed) : std::vector<Located>{};
    drop_old_versions(doc, kept, found);
    size_t guessed = 0;
    s.areas[2] = merge(doc, index[2], kept[2], found, guessed);
    // A document of this generation holds at most 65,535 paragraphs an area.
    if (s.areas[2].size() > 0xFFFF) s.areas[2].resize(0xFFFF);
    for (int area = 0; area < 3; ++area) {
        s.recovered += static_cast<int32_t>(s.areas[area].size());
        note_loss(s, doc, area, index[area], kept[area]);
    }
    note_guesses(s, guessed);
    return s;
}

}  // namespace

bool header_lost(const uint8_t *doc, size_t length) {
    constexpr int kEnough = 2;  // text paragraphs that show it is a document
    constexpr size_t kHead = 4096;  // as much as recognition sees
    if (length < static_cast<size_t>(kHeaderEnd) || !zeros(doc, kHeaderEnd)) return false;
    const Bytes head(doc, doc + std::min(length, kHead));
    int text = 0;
    for (const Located &l : scan_gaps(head, {}))
        if (!l.piece.literal && be16s(&l.piece.entry[kHeightAt]) > 0 && ++text >= kEnough) return true;
    return false;
}

long cut_macbinary_offset(const uint8_t *head, size_t length, uint64_t file_length) {
    constexpr size_t kNameLengthAt = 1, kTypeAt = 65, kZeroAt = 74, kZero2At = 82, kDataLengthAt = 83;
    if (length < 128 || head[0] != 0 || head[kZeroAt] != 0 || head[kZero2At] != 0) return 0;
    if (head[kNameLengthAt] < 1 || head[kNameLengthAt] > 63) return 0;
    if (file_length < 128 || be32(head + kDataLengthAt) <= file_length - 128) return 0;
    return std::equal(head + kTypeAt, head + kTypeAt + 8, kMacBinaryTypeCreator) ? 128 : 0;
}

Survey survey(const std::vector<uint8_t> &doc) {
    if (doc.size() < static_cast<size_t>(kHeaderEnd)) return Survey{};
    if (doc[kVersionAt + 1] != kVersion) {
        if (!header_lost(doc.data(), doc.size())) return Survey{};
        AreaIndex index[3];
        index[2] = index_by_structure(doc, scan_gaps(doc, {}));
        return recover(doc, index, true);
    }
    const AreaIndex index[3] = {read_index(doc, kHeaderCountAt, kHeaderWindowAt),
                                read_index(doc, kFooterCountAt, kFooterWindowAt),
                                read_index(doc, kMainCountAt, kMainWindowAt)};
    if (std::all_of(std::begin(index), std::end(index), [&](const AreaIndex &a) { return index_sound(doc, a); })) return Survey{};
    return recover(doc, index, false);
}

void convert_literal(ImportContext &ctx, const Piece &piece) {
    ctx.spend(static_cast<long long>(piece.text.size()));
    apply_justification(ctx, 0);
    emit_paragraph_text(ctx, piece.text, piece.runs);
}

std::string damage_summary(const Survey &s) {
    std::string text = "recovered " + std::to_string(s.recovered);
    if (s.expected > 0) text += " of about " + std::to_string(s.expected);
    text += s.recovered == 1 && s.expected <= 1 ? " paragraph" : " paragraphs";
    if (!s.lost.empty()) text += "; " + s.lost;
    return text;
}

}  // namespace macwrite5
