// Page number, date and time in MacWrite headers and footers.  They are not
// characters of the text: a window record keeps one (vertical, horizontal)
// pair per kind, in points from the top left of its area, and MacWrite draws
// the field there over the text.  A pair with a negative member is a field
// left out (the icons wait above the area, at vertical -14), and so is a
// pair of zeros, which writers that leave the record blank store.  Both
// generations keep the pairs alike; only the records around them differ.
//
// In the internal stream a field is a tag in the text, so the imports put it
// before the character that a rough pen reaches at the field's horizontal
// position, in the paragraph whose top is the last at or above its vertical
// one; the export measures its own text with the same pen, so a field read
// back lands before the same character.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/stream_codes.h"
#include "macwrite5/layout.h"

namespace macwrite5 {

inline constexpr int kFieldPairsAt = 24;       // in a window record: page number, date, time
inline constexpr int32_t kDefaultPointSize = 12;  // the pen's size for text before any run

struct FieldSpot {
    uint8_t kind;   // kavrel::code::kField*
    int16_t vertical, horizontal;
};

// The fields a window record's pairs place, in kind order.
std::vector<FieldSpot> placed_fields(const uint8_t *pairs);

// What the pen needs of a ruler: its left margin and tab stops, in points.
struct PenRuler {
    int32_t left = 0;
    int count = 0;
    std::array<int32_t, kMaxTabs> stops{};
};

PenRuler pen_ruler(const uint8_t *ruler);

// The pen after one character of text at `size` points.  Widths are rough
// (half the size, a quarter for a space, at least one point) but every
// character moves the pen, so a position names one character only.
inline int32_t pen_advance(int32_t pen, uint8_t c, int32_t size, const PenRuler &ruler) {
    const int32_t space = size / 4 > 0 ? size / 4 : 1;
    if (c == kavrel::code::kTab) {
        for (int i = 0; i < ruler.count; ++i)
            if (ruler.stops[i] > pen) return ruler.stops[i];
        return pen + space;
    }
    if (c == ' ') return pen + space;
    return pen + (size / 2 > 0 ? size / 2 : 1);
}

// A paragraph of an area as the fields see it: whether it holds text, and
// the top of it, in points from the top of the area.
struct ParagraphTop {
    bool text;
    int16_t top;
};

inline constexpr size_t kNoParagraph = static_cast<size_t>(-1);

// The text paragraph a field at `vertical` stands in: the last whose top is
// at or above it, else the first; kNoParagraph when the area holds no text.
size_t field_paragraph(const std::vector<ParagraphTop> &paragraphs, int16_t vertical);

// A field given to one paragraph of an area.
struct AreaField {
    size_t paragraph;
    FieldSpot spot;
};

std::vector<AreaField> assign_fields(const std::vector<FieldSpot> &spots, const std::vector<ParagraphTop> &paragraphs);

// The spots of `fields` that paragraph `paragraph` holds.
std::vector<FieldSpot> fields_of(const std::vector<AreaField> &fields, size_t paragraph);

}  // namespace macwrite5
