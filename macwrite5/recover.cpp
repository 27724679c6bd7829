// Recovery of a damaged MacWrite 4.6/5 document: the checks that find the
// damage, the index found by its structure when the header was lost, the
// old versions of edited paragraphs left out, and the entry points.
// recover_scan.cpp finds paragraphs by their structure, recover_order.cpp
// places them in the main text.
#include "macwrite5/recover.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "host/bytes.h"
#include "host/macbinary.h"
#include "macwrite5/recover_parts.h"

namespace macwrite5 {

using namespace recovery;

namespace {

using kavrel::be16;
using kavrel::be16s;
using kavrel::be32;

// The most bytes that the checks of one entry read from its data on: a
// text of 65,535 characters, compressed (three nibbles each at most), with
// its length word, padding and run list of up to 65,535 bytes.  An
// information array (its length a 16-bit field) and the 16 zeros of a lost
// region are shorter.
constexpr long kEntryReach = 2 + (3L * 0xFFFF + 1) / 2 + 1 + 2 + 0xFFFF;

}  // namespace

namespace {

bool zeros(const uint8_t *from, size_t n) {
    return std::all_of(from, from + n, [](uint8_t b) { return b == 0; });
}

long array_pos(const uint8_t *window) { return static_cast<long>(be32(window + kInfoArrayPosAt)); }

// An area's index as the header's count and window record say: the array
// is read from `doc`, which holds the array's place.
AreaIndex read_index(const uint8_t *header, int count_at, int window_at, const Document &doc) {
    AreaIndex a;
    const uint8_t *window = header + window_at;
    a.count = be16(header + count_at);
    const uint16_t stored = be16(window + kInfoArrayLengthAt);
    const long length = stored >= uint32_t{a.count} * kEntrySize ? stored : be16s(window + kInfoArrayLengthAt);
    const long pos = array_pos(window);
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

bool index_sound(const Document &doc, const AreaIndex &a) {
    if (a.entries.size() < a.count) return false;
    return std::none_of(a.entries.begin(), a.entries.end(),
                        [&](const Entry &e) { return entry_span(doc, e, false).begin < 0; });
}

constexpr int kCountAt[3] = {kHeaderCountAt, kFooterCountAt, kMainCountAt};
constexpr int kWindowAt[3] = {kHeaderWindowAt, kFooterWindowAt, kMainWindowAt};

// The check of survey() for a document read through its input: the header,
// then every area's entries in the order of their data, each paragraph
// within one window, so that the document is read once and never held
// whole.
bool sound(DocumentWindows &windows) {
    Document view;
    if (!windows.window(0, view)) return false;
    const Bytes header = view.copy(0, kHeaderEnd);
    if (header[kVersionAt + 1] != kVersion) return false;
    std::vector<Entry> entries;
    for (int area = 0; area < 3; ++area) {
        if (!windows.window(array_pos(&header[kWindowAt[area]]), view)) return false;
        AreaIndex a = read_index(header.data(), kCountAt[area], kWindowAt[area], view);
        if (a.entries.size() < a.count) return false;
        entries.insert(entries.end(), a.entries.begin(), a.entries.end());
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &x, const Entry &y) { return entry_data(x) < entry_data(y); });
    return std::all_of(entries.begin(), entries.end(), [&](const Entry &e) {
        return windows.window(entry_data(e), view) && entry_span(view, e, false).begin >= 0;
    });
}

// What the entry at `at` says, its data `shift` bytes further on: 1 when it
// places a paragraph of its kind that the scan found (`kinds`: start,
// height sign), an empty text paragraph or a page break; 0 when its data
// lies in a lost region (zeros); -1 when it is no entry.
int places_found(const Document &doc, long at, long shift, const std::map<long, int> &kinds) {
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

EntryRun longest_run(const Document &doc, long first, long shift, const std::map<long, int> &kinds, EntryRun best) {
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
AreaIndex index_by_structure(const Document &doc, const std::vector<Located> &found) {
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
std::vector<std::string> words_of(const Document &doc, const Piece &piece) {
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

Pairs word_pairs(const Document &doc, const Piece &piece) {
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
void drop_old_versions(const Document &doc, const std::vector<Kept> (&kept)[3], std::vector<Located> &found) {
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
Survey recover(const Document &doc, const AreaIndex (&index)[3], bool header_lost) {
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

// As much of a document as recognition sees.
constexpr size_t kHead = 4096;

bool header_lost(const uint8_t *doc, size_t length) {
    constexpr int kEnough = 2;  // text paragraphs that show it is a document
    if (length < static_cast<size_t>(kHeaderEnd) || !zeros(doc, kHeaderEnd)) return false;
    const Bytes head(doc, doc + std::min(length, kHead));
    int text = 0;
    for (const Located &l : scan_gaps(Document(head), {}))
        if (!l.piece.literal && be16s(&l.piece.entry[kHeightAt]) > 0 && ++text >= kEnough) return true;
    return false;
}

bool header_lost(std::FILE *in, long offset) {
    uint8_t head[kHead];
    return std::fseek(in, offset, SEEK_SET) == 0 && header_lost(head, std::fread(head, 1, sizeof head, in));
}

namespace {

bool document_at(const uint8_t *doc, size_t length) {
    if (length >= 2 && doc[0] == 0 && (doc[1] == kVersion || doc[1] == kVersion22)) return true;
    return header_lost(doc, length);
}

}  // namespace

long document_offset(const uint8_t *head, size_t length, uint64_t file_length) {
    return kavrel::macbinary::document_offset(head, length, file_length, kMacBinaryTypeCreator, document_at);
}

long wrapped_document_offset(std::FILE *input, long file_length) {
    std::vector<uint8_t> head(kavrel::macbinary::kRecognitionHead);
    std::rewind(input);
    head.resize(std::fread(head.data(), 1, head.size(), input));
    std::rewind(input);
    return document_offset(head.data(), head.size(), static_cast<uint64_t>(file_length < 0 ? 0 : file_length));
}

Survey survey(std::FILE *in, long offset) {
    DocumentWindows windows(in, offset, kEntryReach);
    if (windows.size() < kHeaderEnd || sound(windows)) return Survey{};
    const Bytes all = load_document(in, offset);
    const Document doc(all);
    if (all.size() < static_cast<size_t>(kHeaderEnd)) return Survey{};
    if (doc[kVersionAt + 1] != kVersion) {
        if (!header_lost(all.data(), all.size())) return Survey{};
        AreaIndex index[3];
        index[2] = index_by_structure(doc, scan_gaps(doc, {}));
        return recover(doc, index, true);
    }
    AreaIndex index[3];
    for (int area = 0; area < 3; ++area) index[area] = read_index(all.data(), kCountAt[area], kWindowAt[area], doc);
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
