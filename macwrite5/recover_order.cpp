// Recovery of a damaged MacWrite 4.6/5 document, second part: the order of
// the main text, the kept entries in array order with the found paragraphs
// placed among them by their neighbours in the file, and what the message
// says was lost.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <tuple>

#include "host/bytes.h"
#include "macwrite5/recover_parts.h"

namespace macwrite5::recovery {

namespace {

using kavrel::be16s;

// What a lost entry says: one whose data lies outside the document (or in
// its header) is a damaged index; one whose data is not a paragraph, a
// damaged paragraph.
bool points_outside(const Document &doc, const Entry &e) {
    const long at = entry_data(e);
    return at < kHeaderEnd || at >= static_cast<long>(doc.size());
}

}  // namespace

// The sound entries of an area, in array order, with the spans they claim,
// and the part before a lost region of those it cut short.
std::vector<Kept> keep_sound(const Document &doc, const AreaIndex &a, std::vector<Span> &claimed) {
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

namespace {

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
std::vector<Anchor> anchors_of(const Document &doc, const AreaIndex &a, const std::vector<Kept> &kept) {
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

}  // namespace

// The main text: the kept paragraphs in array order, and the found ones
// where their neighbours place them.  `guessed` counts those whose place
// is only a guess.
std::vector<Piece> merge(const Document &doc, const AreaIndex &a, const std::vector<Kept> &kept,
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

void note_loss(Survey &s, const Document &doc, int area, const AreaIndex &a, const std::vector<Kept> &kept) {
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

}  // namespace macwrite5::recovery
