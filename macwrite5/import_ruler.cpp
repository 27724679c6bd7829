// MacWrite 4.6/5 rulers: left margin, justification, line spacing and tab
// stops, kept in step with the host's tab columns.
#include <cstring>
#include <utility>
#include <vector>

#include "host/bytes.h"
#include "host/stream_writer.h"
#include "macwrite5/geometry.h"
#include "macwrite5/import_context.h"
#include "macwrite5/layout.h"

namespace macwrite5 {

namespace {

using kavrel::be16s;
using kavrel::stream::put_tag;
namespace code = kavrel::code;

// Columns an inch.  The host keeps the size negative; a size that is not
// (never the case after init_format) is read as 10 rather than dividing by 0.
int32_t pitch(const CharAttributes &ca) { return ca.size < 0 ? -ca.size : 10; }

// A tag carries its column in one byte: stops beyond column 255 are dropped.
constexpr int32_t kLastTabColumn = 255;

void set_tab(ImportContext &ctx, int32_t column, int32_t kind) {
    int32_t &entry = ctx.tc.kind[column];
    entry &= ~KAVREL_TAB_MARK;
    if (entry == kind) return;
    if (entry != 0) put_tag(ctx.out, code::kTabClear, static_cast<uint8_t>(entry), static_cast<uint8_t>(column));
    put_tag(ctx.out, code::kTabSet, static_cast<uint8_t>(kind), static_cast<uint8_t>(column));
    entry = kind;
}

// Columns lose the stops' exact places, which a renderer that lays out
// lines needs: the TABS insert keeps them.
void convert_tabs(ImportContext &ctx, const uint8_t *ruler) {
    const int count = ruler[kTabCountAt] > kMaxTabs ? kMaxTabs : ruler[kTabCountAt];
    armement_regle(&ctx.tc);
    std::vector<uint8_t> exact;
    for (int i = 0; i < count; ++i) {
        const uint16_t word = kavrel::be16(ruler + kTabStopsAt + 2 * i);
        const int32_t position = stop_position(word);
        if (position > 0 && position * kTwipsPerPoint < code::kTabsDecimal) {
            const auto twips = static_cast<uint16_t>(position * kTwipsPerPoint | ((word & kDecimalTabBit) ? code::kTabsDecimal : 0));
            exact.push_back(static_cast<uint8_t>(twips >> 8));
            exact.push_back(static_cast<uint8_t>(twips));
        }
        const int64_t column = int64_t{position} * pitch(ctx.ca) / 72 - ctx.pf.left_column;
        if (column <= 0 || column > kLastTabColumn) continue;
        set_tab(ctx, static_cast<int32_t>(column), (word & kDecimalTabBit) ? KAVREL_TAB_DECIMAL : KAVREL_TAB_ORDINARY);
    }
    nettoyage_regle(ctx.out, &ctx.tc);
    if (ctx.tabs_said == exact) return;
    kavrel::stream::put_insert(ctx.out, code::kTabsInsert, exact.data(), exact.size());
    ctx.tabs_said = std::move(exact);
}

// Ruler positions are points from the printable page's left edge: the
// paragraph's indents follow from them and the page's width.
void convert_margins(ImportContext &ctx, const uint8_t *ruler) {
    const int32_t left = be16s(ruler + kLeftMarginAt), right = be16s(ruler + kRightMarginAt);
    change_geometry(&ctx.pf, KAVREL_GEOMETRY_LEFT, left * kTwipsPerPoint, ctx.out);
    change_geometry(&ctx.pf, KAVREL_GEOMETRY_RIGHT, ctx.text_width - right * kTwipsPerPoint, ctx.out);
    change_geometry(&ctx.pf, KAVREL_GEOMETRY_FIRST, (be16s(ruler + kFirstLineAt) - left) * kTwipsPerPoint, ctx.out);
}

// Single and double spacing are 8 and 16 in the host's units, and one and
// a half between them.
int16_t interline_of(int32_t spacing) {
    if (spacing == kOneAndHalf) return 12;
    return static_cast<int16_t>((spacing / 2 + 1) * 8);
}

}  // namespace

void convert_ruler(ImportContext &ctx) {
    uint8_t ruler[kRulerSize] = {};
    if (std::fread(ruler, 1, kRulerSize, ctx.in) == 0) return;
    ctx.pf.left_column = be16s(ruler + kLeftMarginAt) * 5 / (pitch(ctx.ca) * 3);
    ctx.ruler_justification = static_cast<int8_t>(ruler[kJustificationAt]);
    convert_margins(ctx, ruler);
    const int16_t interline = interline_of(be16s(ruler + kLineSpacingAt));
    if (interline != ctx.pf.interline) change_interl(&ctx.pf, interline, ctx.out);
    convert_tabs(ctx, ruler);
    ctx.pen = pen_ruler(ruler);
}

}  // namespace macwrite5
