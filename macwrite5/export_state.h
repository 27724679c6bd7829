// Working state of one MacWrite 4.6/5 export and the operations that lay the
// document down: paragraphs, format runs, page breaks, rulers, the trailer.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/kavrel.h"
#include "macwrite5/layout.h"
#include "macwrite5/fields.h"

namespace macwrite5 {

// The most entries an information array can hold: its byte length is a
// 16-bit field (4095 x 16 = 65520).
inline constexpr int32_t kMaxMainEntries = 4095;
// A paragraph's data (text, pad, runs and their length words) fills at most
// a 16-bit field; a longer paragraph is continued in a new one.
inline constexpr int32_t kMaxParagraphData = 65535;
// A paragraph's position is stored in 24 bits, and readers hold an
// information array's position to the same limit: a document ends within
// 16 MB.
inline constexpr long kMaxDocumentLength = 1L << 24;

enum AreaIndex { kMainArea = 0, kHeaderArea = 1, kFooterArea = 2 };

// The paragraphs of one text area: their entries wait in `entry_file`, all
// but the first (the area's opening ruler, whose entry the trailer writes).
struct AreaEntries {
    std::FILE *entry_file = nullptr;
    int32_t entry_count = 1;
    // Header and footer paragraphs stack from the top of their area, and
    // their fields are placed by those tops; the main text keeps tops of 0.
    bool stacked = false;
    int16_t top = 0;                 // of the open paragraph
    std::vector<FieldSpot> fields;   // one of each kind at most
};

// What a ruler is written with, in points from the printable page's left
// edge (the default ruler's until the stream says otherwise).
struct RulerGeometry {
    int16_t left = 13, right = 436, first = 13;
    uint8_t spacing = 0;   // the ruler's line spacing code
    bool centred = false;
    bool operator==(const RulerGeometry &) const = default;
};

// Twips to the nearest point, as rulers and the print record count.
inline int16_t twips_to_points(int32_t twips) {
    const int32_t points = (twips + (twips < 0 ? -10 : 10)) / 20;
    return static_cast<int16_t>(points < -32768 ? -32768 : points > 32767 ? 32767 : points);
}

struct ExportState {
    ExportState() = default;
    ExportState(const ExportState &) = delete;
    ExportState &operator=(const ExportState &) = delete;
    // The scratch streams go with the state, however the conversion ends.
    ~ExportState() {
        for (const AreaEntries &area : areas)
            if (area.entry_file != nullptr) std::fclose(area.entry_file);
    }

    std::FILE *out = nullptr;
    const uint16_t *const *font_tables = nullptr;
    CharAttributes ca{};
    ParaFormat pf{};
    TabColumns tc{};
    long written = 0;                  // where the output stands after what was written
    long paragraph_start = 0;          // where the open paragraph's data goes
    std::string paragraph;             // its data so far, length word first
    std::string runs;                  // its format runs
    PenRuler pen_ruler;                // of the default ruler, that every paragraph has
    int32_t paragraph_chars = 0;
    int32_t pen = 0;                   // where the next character stands, for fields
    std::array<AreaEntries, 3> areas{};
    AreaIndex area = kMainArea;        // the one the open paragraph belongs to
    uint16_t last_run_position = 0;
    std::array<uint8_t, 16> pending_entry{};
    RulerGeometry ruler;               // what the next ruler says
    bool page_said = false;            // the stream gave the page below
    KavrelPage page{};
    // Once the input is found not to fit a document, why (a converter
    // result); the conversion stops there.
    int32_t refusal = 0;
};

void write_opening(ExportState &s);
void begin_paragraph(ExportState &s);
void end_paragraph(ExportState &s, bool final);
void write_format_run(ExportState &s);
void write_page_break(ExportState &s);
void write_ruler(ExportState &s, bool centred);
// A picture paragraph in place of the open one: `data` is the paragraph's
// rectangle and the picture, as a picture insert carries them.
void write_picture(ExportState &s, const uint8_t *data, size_t n);
void write_trailer(ExportState &s);

// Records a field of `kind` where the pen stands in the open paragraph of a
// header or footer area; a second field of one kind has no place to go.
void place_field(ExportState &s, uint8_t kind);

// The point size that the format runs carry: the host keeps it negated.
inline int32_t run_point_size(const ExportState &s) { return static_cast<uint8_t>(-static_cast<int8_t>(s.ca.size & 0xFF)); }

// The paragraph's data if one more character and one more run were added and
// the paragraph then closed: length word, text, CR, pad, runs and their word.
inline bool paragraph_full(const ExportState &s) {
    const auto runs = static_cast<long>(s.runs.size());
    return 2 + s.paragraph_chars + 2 + 1 + 2 + runs + 2 * kRunSize > kMaxParagraphData;
}

// Writes one character of text, writing the pending format run first when
// the attributes changed (`with_run`), and continuing the paragraph in a new
// one when it would no longer fit its 16-bit fields.  A character that would
// take the document past its length is refused instead.
void write_text_char_checked(ExportState &s, uint8_t byte, bool with_run);

// Adds the longest start of `bytes` (ASCII text) that needs no format run,
// ends no special font and fits the paragraph and the document as it is,
// as write_text_char would one by one; returns its length.
size_t write_ascii_text(ExportState &s, const uint8_t *bytes, size_t n);

// The same; a character that needs none of that, as most do, is added here.
inline void write_text_char(ExportState &s, uint8_t byte, bool with_run) {
    if (paragraph_full(s) || s.paragraph_start + 2 + s.paragraph_chars >= kMaxDocumentLength || (with_run && s.ca.changed))
        return write_text_char_checked(s, byte, with_run);
    s.paragraph.push_back(static_cast<char>(byte));
    ++s.paragraph_chars;
    s.pen = pen_advance(s.pen, byte, run_point_size(s), s.pen_ruler);
}

}  // namespace macwrite5
