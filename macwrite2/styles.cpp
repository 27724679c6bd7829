// The character-style and paragraph-format tables, and applying their runs.
#include "host/bytes.h"
#include "macwrite2/context.h"
#include "macwrite2/layout.h"

namespace macwrite2 {

void place_style_word(CharAttributes &e, uint16_t w) {
    auto assign = [](uint8_t &field, uint8_t mask, bool on) {
        field = static_cast<uint8_t>(on ? field | mask : field & ~mask);
    };
    auto bit = [w](int n) { return (w >> n & 1) != 0; };
    assign(e.style, KAVREL_BOLD, bit(0));
    assign(e.style, KAVREL_UNDERLINE, bit(2));
    assign(e.style_extra, KAVREL_DOUBLE_UNDERLINE, bit(13));
    if (bit(12) && !(e.style & KAVREL_UNDERLINE) && !(e.style_extra & KAVREL_DOUBLE_UNDERLINE))
        e.style |= KAVREL_UNDERLINE;
    assign(e.style, KAVREL_SUPERSCRIPT, bit(5));
    if (bit(8)) e.style |= KAVREL_SUPERSCRIPT;
    assign(e.style, KAVREL_SUBSCRIPT, bit(6));
    assign(e.style, KAVREL_ITALIC, bit(1));
    assign(e.style_extra, KAVREL_OUTLINE, bit(3));
    assign(e.style_extra, KAVREL_SHADOW, bit(4));
    assign(e.style, KAVREL_STRIKEOUT, bit(9));
    assign(e.style, KAVREL_ALL_CAPS, bit(10));
    assign(e.style_extra, KAVREL_SMALL_CAPS, bit(11));
    if (e.changed || e.style || e.style_extra || e.host_flags) e.changed = 1;
}

namespace {

// A run names its entry by index; one outside the table applies a plain
// entry instead, so a damaged index never reads outside it.
template <typename Entry>
const Entry &entry_at(const std::vector<Entry> &table, int16_t index) {
    static const Entry kPlain{};
    if (index < 0 || static_cast<size_t>(index) >= table.size()) return kPlain;
    return table[static_cast<size_t>(index)];
}

struct StyleRun {
    int16_t index;
    int32_t length;
};

bool read_run(Cursor &runs, StyleRun &run) {
    uint8_t b[kStyleRunSize];
    if (runs.read(b, sizeof b) != sizeof b) return false;
    run = {kavrel::be16s(b), static_cast<int32_t>(kavrel::be32(b + 4))};
    return true;
}

}  // namespace

// Records beyond the end of the chain leave plain entries.
void read_char_styles(Cursor &chain, std::vector<CharAttributes> &table, int32_t count) {
    table.assign(static_cast<size_t>(count), CharAttributes{});
    for (CharAttributes &e : table) {
        uint8_t r[kCharStyleRecordSize];
        if (chain.read(r, sizeof r) != sizeof r) break;
        e.font = r[3];
        e.size = kavrel::be16s(r + 4) / 4;
        place_style_word(e, kavrel::be16(r + 6));
    }
}

// Only the alignment is taken from a record: its other fields (the 32-bit
// values after the alignment among them) have no established meaning or unit,
// and an indent read in the wrong unit would misplace every paragraph.
void read_para_formats(Cursor &chain, std::vector<ParaFormat> &table, int32_t count) {
    table.assign(static_cast<size_t>(count), ParaFormat{});
    for (ParaFormat &e : table) {
        uint8_t r[kParaFormatRecordSize];
        if (chain.read(r, sizeof r) != sizeof r) break;
        switch (kavrel::be16s(r + 2)) {
        case 1: e.centred = 1; break;
        case 2: e.right_aligned = 1; break;
        case 3: e.justified = 1; break;
        default: break;
        }
    }
}

int32_t apply_char_run(ImportContext &ctx, Cursor &runs) {
    StyleRun run;
    if (!read_run(runs, run)) return 0;
    const CharAttributes &e = entry_at(ctx.char_styles, run.index);
    raz_attributs(&ctx.ca, ctx.out);
    pose_corps(&ctx.ca, e.size, ctx.out);
    ctx.table = traite_polices_mac(&ctx.ca, e.font, ctx.table, ctx.out);
    ctx.ca.size = e.size;
    ctx.ca.special_font = e.special_font;
    ctx.ca.font = e.font;
    ctx.ca.host_carried = e.host_carried;
    ctx.ca.changed = e.changed;
    ctx.ca.style = e.style;
    ctx.ca.style_extra = static_cast<uint8_t>((ctx.ca.style_extra & 0xE0) | (e.style_extra & 0x1F));
    pose_attributs(&ctx.ca, ctx.out);
    return run.length;
}

int32_t apply_para_run(ImportContext &ctx, Cursor &runs) {
    StyleRun run;
    if (!read_run(runs, run)) return 0;
    const ParaFormat &e = entry_at(ctx.para_formats, run.index);
    raz_formats(&ctx.pf, ctx.out);
    ctx.pf.host_carried0 = e.host_carried0;
    ctx.pf.justified = e.justified;
    ctx.pf.right_aligned = e.right_aligned;
    ctx.pf.centred = e.centred;
    ctx.pf.host_carried16 = e.host_carried16;
    pose_formats(&ctx.pf, ctx.out);
    return run.length;
}

}  // namespace macwrite2
