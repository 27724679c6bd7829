// Page number, date and time fields: reading a window record's pairs, the pen
// that measures a paragraph's text, and which paragraph a field stands in.
#include "macwrite5/fields.h"

#include "host/bytes.h"
#include "host/stream_codes.h"

namespace macwrite5 {

std::vector<FieldSpot> placed_fields(const uint8_t *pairs) {
    static constexpr uint8_t kKinds[] = {kavrel::code::kFieldPageNumber, kavrel::code::kFieldDate,
                                         kavrel::code::kFieldTime};
    std::vector<FieldSpot> spots;
    for (int i = 0; i < 3; ++i) {
        const FieldSpot spot{kKinds[i], kavrel::be16s(pairs + 4 * i), kavrel::be16s(pairs + 4 * i + 2)};
        const bool blank = spot.vertical == 0 && spot.horizontal == 0;  // a record nobody filled in
        if (spot.vertical >= 0 && spot.horizontal >= 0 && !blank) spots.push_back(spot);
    }
    return spots;
}

PenRuler pen_ruler(const uint8_t *ruler) {
    PenRuler r;
    r.left = kavrel::be16s(ruler + kLeftMarginAt);
    r.count = ruler[kTabCountAt] > kMaxTabs ? kMaxTabs : ruler[kTabCountAt];
    for (int i = 0; i < r.count; ++i) r.stops[i] = stop_position(kavrel::be16(ruler + kTabStopsAt + 2 * i));
    return r;
}

size_t field_paragraph(const std::vector<ParagraphTop> &paragraphs, int16_t vertical) {
    size_t first = kNoParagraph, last_above = kNoParagraph;
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        if (!paragraphs[i].text) continue;
        if (first == kNoParagraph) first = i;
        if (paragraphs[i].top <= vertical) last_above = i;
    }
    return last_above != kNoParagraph ? last_above : first;
}

std::vector<AreaField> assign_fields(const std::vector<FieldSpot> &spots, const std::vector<ParagraphTop> &paragraphs) {
    std::vector<AreaField> fields;
    for (const FieldSpot &spot : spots) fields.push_back({field_paragraph(paragraphs, spot.vertical), spot});
    return fields;
}

std::vector<FieldSpot> fields_of(const std::vector<AreaField> &fields, size_t paragraph) {
    std::vector<FieldSpot> out;
    for (const AreaField &f : fields)
        if (f.paragraph == paragraph) out.push_back(f.spot);
    return out;
}

}  // namespace macwrite5
