// What the parts of MacWrite 4.6/5 recovery share: the paragraphs found by
// their structure (recover_scan.cpp), their placing among the kept entries
// of the main text (recover_order.cpp), and the survey that drives both
// (recover.cpp).  Each is described where it is defined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "macwrite5/document.h"
#include "macwrite5/recover.h"

namespace macwrite5::recovery {

// Nothing but the header lies before this: the window records end here.
inline constexpr long kHeaderEnd = kMainWindowAt + kWindowSize;

struct Span {
    long begin, end;
};

using Bytes = std::vector<uint8_t>;

// A text paragraph as it lies in the file.
struct TextParagraph {
    long end = -1;   // past its run list; -1 when it does not fit
    Bytes text;
    long runs_at = 0;
    uint16_t runs_length = 0;
};

// One area as its window record and count describe it.
struct AreaIndex {
    uint16_t count = 0;
    Span array{0, 0};        // the part of the array within the document
    std::vector<Entry> entries;   // those the document holds
};

struct Located {
    long at;
    Piece piece;
};

struct Kept {
    size_t index;
    long at;       // of its data; -1 for a page break, which has none
    Piece piece;
};

// Paragraphs at their entries and by their structure (recover_scan.cpp).
TextParagraph read_text_at(const Document &doc, long at, long limit, bool compressed, bool as_text = false,
                           long *work = nullptr);
Entry make_entry(int16_t height, uint8_t flags, long at, uint16_t length);
long entry_data(const Entry &e);
bool lost_region(const Document &doc, long at);
Span entry_span(const Document &doc, const Entry &e, bool keep);
Piece cut_paragraph(const Document &doc, const Entry &e);
Piece entry_piece(const Entry &e);
bool zero_word(const Document &doc, long at);
std::vector<Located> scan_gaps(const Document &doc, std::vector<Span> claimed);

// The main text's order and the losses (recover_order.cpp).
std::vector<Kept> keep_sound(const Document &doc, const AreaIndex &a, std::vector<Span> &claimed);
std::vector<Piece> merge(const Document &doc, const AreaIndex &a, const std::vector<Kept> &kept,
                         const std::vector<Located> &found, size_t &guessed);
void add_loss(Survey &s, const std::string &what);
void note_guesses(Survey &s, size_t guessed);
void note_loss(Survey &s, const Document &doc, int area, const AreaIndex &a, const std::vector<Kept> &kept);

}  // namespace macwrite5::recovery
