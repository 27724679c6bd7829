// Recovery of a damaged MacWrite 4.6/5 document, first part: the paragraphs
// found by their own structure (text, compressed text, rulers, pictures, the
// ends of paragraphs a lost region cut) in the bytes nothing sound claims.
#include <algorithm>

#include "host/bytes.h"
#include "host/stream_codes.h"
#include "macwrite5/recover_parts.h"

namespace macwrite5::recovery {

namespace {

using kavrel::be16;
using kavrel::be16s;
using kavrel::be32;

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
    const Document &doc;
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
long expand_at(const Document &doc, long at, long limit, uint16_t count, Bytes *text, bool as_text, long *work) {
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

}  // namespace

// `as_text`: only text as a writer stores it (text_holds) is read.
// `work`, when given, is what decoding may still spend; it stops at none.
TextParagraph read_text_at(const Document &doc, long at, long limit, bool compressed, bool as_text, long *work) {
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
        p.text = doc.copy(at + 2, text_end);
        if (as_text && !text_holds(p.text)) return p;
    }
    p.runs_at = even(text_end) + 2;
    if (p.runs_at > limit) return p;
    p.runs_length = be16(&doc[p.runs_at - 2]);
    if (p.runs_at + p.runs_length > limit) return p;
    p.end = p.runs_at + p.runs_length;
    return p;
}

namespace {

// Runs that a writer could have stored: whole, starting at the first
// character, in ascending order within the text, at a size and in a font
// that exist and with no unknown style bit.
bool runs_hold(const Document &doc, const TextParagraph &p, bool need_one) {
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
long picture_at(const Document &doc, long at, long limit) {
    constexpr int kPicHead = kPictureRectSize + 10;
    if (at + kPicHead + 2 > limit || !rect_holds(&doc[at]) || !rect_holds(&doc[at + kPictureRectSize + 2])) return 0;
    const uint8_t *v = &doc[at + kPicHead];
    const long length = kPictureRectSize + be16(&doc[at + kPictureRectSize]);
    if (at + length > limit || length < kPicHead + 2) return 0;
    if (v[0] == 0x11 && v[1] == 0x01) return doc[at + length - 1] == 0xFF ? length : 0;
    if (length >= kPicHead + 4 && v[0] == 0x00 && v[1] == 0x11 && v[2] == 0x02 && v[3] == 0xFF)
        return doc[at + length - 2] == 0x00 && doc[at + length - 1] == 0xFF ? length : 0;
    return 0;
}

// Where in a text a lost region (a run of zeros no writer stores) begins;
// the text's size when there is none.
// Compressed, the zeros read as sixteen spaces.
// Every text of a document is asked this, so it looks at one byte in `run`
// where it can: a run that starts at or past `from` and before the byte
// `run - 1` further on holds that byte, so where that byte is no zero, no
// run starts before the byte after it.
size_t zeroed_at(const Bytes &text, bool compressed = false) {
    const size_t run = compressed ? 16 : 4;
    const uint8_t zero = compressed ? ' ' : 0;
    size_t from = 0;
    while (from + run <= text.size()) {
        const size_t last = from + run - 1;
        if (text[last] != zero) {
            from = last + 1;
            continue;
        }
        size_t begin = last, end = last + 1;
        while (begin > from && text[begin - 1] == zero) --begin;
        while (end < text.size() && end - begin < run && text[end] == zero) ++end;
        if (end - begin >= run) return begin;
        from = end + 1;  // past the byte that ends these zeros
    }
    return text.size();
}

// Compressed text that a lost region ends reads as spaces to its end,
// where a writer puts the return.
bool zeroed_end(const Bytes &text) {
    constexpr size_t kRun = 16;
    return text.size() >= kRun && std::all_of(text.end() - kRun, text.end(), [](uint8_t c) { return c == ' '; });
}

// A run of zeros after the first: the run list was lost.
bool zeroed_runs(const Document &doc, const TextParagraph &p) {
    for (long at = p.runs_at + kRunSize; at + kRunSize <= p.runs_at + p.runs_length; at += kRunSize)
        if (std::all_of(&doc[at], &doc[at] + kRunSize, [](uint8_t b) { return b == 0; })) return true;
    return false;
}

}  // namespace

Entry make_entry(int16_t height, uint8_t flags, long at, uint16_t length) {
    Entry e{};
    kavrel::put_be16(&e[kHeightAt], static_cast<uint16_t>(height));
    kavrel::put_be32(&e[kDataWordAt], static_cast<uint32_t>(flags) << 24 | (static_cast<uint32_t>(at) & kDataOffsetMask));
    kavrel::put_be16(&e[kDataLengthAt], length);
    return e;
}

long entry_data(const Entry &e) { return static_cast<long>(be32(&e[kDataWordAt]) & kDataOffsetMask); }

// An empty paragraph without runs whose data is followed by zeros is a
// lost region rather than a paragraph: a writer gives even an empty
// paragraph its run.
bool lost_region(const Document &doc, long at) {
    constexpr long kZeros = 16;
    return at + kZeros <= static_cast<long>(doc.size()) &&
           std::all_of(&doc[at], &doc[at] + kZeros, [](uint8_t b) { return b == 0; });
}

// Where an entry's paragraph lies, or {-1, -1} when it does not fit in the
// document; `keep` also asks that it hold together as a paragraph.
Span entry_span(const Document &doc, const Entry &e, bool keep) {
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
Piece cut_paragraph(const Document &doc, const Entry &e) {
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

Piece entry_piece(const Entry &e) {
    Piece p;
    p.entry = e;
    return p;
}

bool zero_word(const Document &doc, long at) { return doc[at] == 0 && doc[at + 1] == 0; }

namespace {

// A paragraph found by its structure at `at` within `limit`, and its end
// (-1 when there is none).
struct Found {
    Piece piece;
    long end = -1;
};

// What a scan knows of its document: where, from each byte on, the first
// byte that is not text is (a plain text holds no other, but its return,
// so one look says whether it can be one), and the work that decoding
// compressed text may still do, so that no input makes the scan slow.
struct Scan {
    explicit Scan(const Document &doc) : breaks(doc.size() + 1), work(4 * static_cast<long>(doc.size()) + (1L << 16)) {
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

bool plain_text_at(const Document &doc, const Scan &scan, long at, long limit) {
    if (at + 2 > limit) return false;
    const long count = be16(&doc[at]);
    const long last = at + 1 + count;
    const auto stop = static_cast<long>(scan.breaks[static_cast<size_t>(at + 2)]);
    return count > 0 && last < limit && (stop > last || (stop == last && doc[last] == kavrel::code::kParagraphEnd));
}

Found paragraph_at(const Document &doc, Scan &scan, long at, long limit);

// Whether compressed text without its return (the last paragraph of an
// area) is a paragraph: nibbles decode almost any bytes to letters, so it
// must start where a sound paragraph ends, or end where the gap does or
// where a paragraph that has its return starts.
bool ends_area(const Document &doc, Scan &scan, long at, long end, long limit) {
    if (scan.strict) return false;
    if (at == scan.after_sound || end == limit) return true;
    scan.strict = true;
    const bool followed = paragraph_at(doc, scan, even(end), limit).end >= 0;
    scan.strict = false;
    return followed;
}

Found text_at(const Document &doc, Scan &scan, long at, long limit, bool compressed) {
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

Found paragraph_at(const Document &doc, Scan &scan, long at, long limit) {
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

TailText tail_text(const Document &doc, long at, long limit, bool compressed, int skip) {
    constexpr size_t kLongest = 4096;
    TailText t;
    if (!compressed) {
        long cr = at;
        while (cr < limit && cr - at < static_cast<long>(kLongest) && text_char(doc[cr])) ++cr;
        if (cr >= limit || doc[cr] != kavrel::code::kParagraphEnd) return t;
        t.text = doc.copy(at, cr + 1);
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
Found tail_at(const Document &doc, Scan &scan, long at, long limit) {
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

}  // namespace

// Paragraphs found in the bytes that nothing sound claims, in file order.
// After a lost region (zeros) the end of the paragraph it cut may follow.
std::vector<Located> scan_gaps(const Document &doc, std::vector<Span> claimed) {
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

}  // namespace macwrite5::recovery
