// MacWrite 4.6/5 text paragraphs: justification, format runs, characters and
// the nibble-compressed text.
#include <algorithm>

#include "host/byte_io.h"
#include "host/stream_codes.h"
#include "host/bytes.h"
#include "host/stream_writer.h"
#include "macwrite5/import_context.h"
#include "macwrite5/layout.h"

namespace macwrite5 {

namespace {

using kavrel::stream::put_char;
using kavrel::stream::put_control;
using kavrel::stream::put_tag;
namespace code = kavrel::code;

// MacWrite justification code -> the host's format code; -1 for none.
int host_justification(int code) {
    switch (code) {
    case kLeft: return KAVREL_ALIGN_LEFT;
    case kCentred: return KAVREL_ALIGN_CENTRED;
    case kRight: return KAVREL_ALIGN_RIGHT;
    case kFull: return KAVREL_ALIGN_JUSTIFIED;
    default: return -1;
    }
}

// A run sets every attribute; the host is asked only for those the record
// does not already hold, since asking for the state in force writes nothing.
void apply_style_bits(ImportContext &ctx, uint8_t style) {
    using On = void (*)(CharAttributes *, int32_t, FILE *);
    using Off = void (*)(CharAttributes *, FILE *);
    struct Bit {
        uint8_t mask;
        On on;
        Off off;
        bool extra;         // the record keeps it in style_extra, not style
        uint8_t host_mask;  // and there under this bit
    };
    static constexpr Bit kBits[] = {
        {kStyleBold, debut_gras, fin_gras, false, KAVREL_BOLD},
        {kStyleItalic, debut_ital, fin_ital, false, KAVREL_ITALIC},
        {kStyleUnderline, debut_soul, fin_soul, false, KAVREL_UNDERLINE},
        {kStyleOutline, debut_relief, fin_relief, true, KAVREL_OUTLINE},
        {kStyleShadow, debut_ombre, fin_ombre, true, KAVREL_SHADOW},
        {kStyleSuperscript, debut_exp, fin_exp, false, KAVREL_SUPERSCRIPT},
        {kStyleSubscript, debut_ind, fin_ind, false, KAVREL_SUBSCRIPT},
    };
    for (const Bit &b : kBits) {
        const bool on = (style & b.mask) != 0;
        if (on == (((b.extra ? ctx.ca.style_extra : ctx.ca.style) & b.host_mask) != 0)) continue;
        if (on)
            b.on(&ctx.ca, 1, ctx.out);
        else
            b.off(&ctx.ca, ctx.out);
    }
}

void apply_run(ImportContext &ctx, const FormatRun &run) {
    change_corps(&ctx.ca, run.size, ctx.out);
    ctx.table = traite_polices_mac(&ctx.ca, run.font, ctx.table, ctx.out);
    if (run.style != 0)
        apply_style_bits(ctx, run.style);
    else
        raz_attributs(&ctx.ca, ctx.out);
}

// The paragraph's run list follows its text: a length word and 6-byte runs
// (a shorter tail is not a run).
std::vector<FormatRun> read_runs(std::FILE *in) {
    std::vector<FormatRun> runs;
    uint16_t length = 0;
    if (!kavrel::read_be16(in, length)) return runs;
    std::vector<uint8_t> bytes(length);
    bytes.resize(std::fread(bytes.data(), 1, length, in));
    for (size_t at = 0; at + kRunSize <= bytes.size(); at += kRunSize) runs.push_back(decode_format_run(&bytes[at]));
    return runs;
}

std::vector<uint8_t> read_plain_text(std::FILE *in, uint16_t count) {
    std::vector<uint8_t> text(count);
    text.resize(std::fread(text.data(), 1, count, in));
    if (count & 1) std::fgetc(in);  // pad byte: what follows starts even
    return text;
}

}  // namespace

void apply_justification(ImportContext &ctx, uint8_t data_flags) {
    const int code = (data_flags & kFlagOwnJustification) ? (data_flags & kJustificationMask)
                                                           : ctx.ruler_justification;
    const int host = host_justification(code);
    if (host >= 0) change_format(&ctx.pf, host, ctx.out);
}

FormatRun decode_format_run(const uint8_t *b) {
    return FormatRun{kavrel::be16s(b), static_cast<int8_t>(b[2]), b[3], kavrel::be16s(b + 4)};
}

// Runs apply strictly in list order, at most one before each character: a run
// whose position is already behind when it comes up stops the list there.
// Between one place where a run or a field goes and the next, the characters
// are written in one sweep.
void emit_paragraph_text(ImportContext &ctx, const std::vector<uint8_t> &text, const std::vector<FormatRun> &runs,
                         const std::vector<FieldMark> &fields) {
    size_t next_run = 0, next_field = 0;
    auto put_fields_to = [&](size_t index) {
        for (; next_field < fields.size() && fields[next_field].index <= index; ++next_field)
            put_tag(ctx.out, code::kField, fields[next_field].kind);
    };
    for (size_t index = 0; index < text.size();) {
        if (next_run < runs.size() && runs[next_run].position == static_cast<long>(index)) apply_run(ctx, runs[next_run++]);
        put_fields_to(index);
        size_t stop = text.size();
        if (next_run < runs.size() && runs[next_run].position > static_cast<long>(index))
            stop = std::min(stop, static_cast<size_t>(runs[next_run].position));
        if (next_field < fields.size()) stop = std::min(stop, fields[next_field].index);
        // Held apart from anything the writes could touch, so the loop keeps
        // them at hand.
        std::FILE *const out = ctx.out;
        const uint16_t *const table = ctx.table;
        const uint8_t *const bytes = text.data();
        for (; index < stop && bytes[index] != code::kParagraphEnd; ++index) {
            if (bytes[index] == code::kTab)
                put_control(out, code::kTab);
            else
                put_char(out, table[bytes[index]]);
        }
        if (index < stop) {  // a paragraph end
            raz_attributs(&ctx.ca, ctx.out);
            put_control(ctx.out, code::kParagraphEnd);
            return;
        }
    }
    put_fields_to(text.size());
}

// The pen starts at the left margin and meets the runs as the text does; a
// field never stands after the paragraph's return.
std::vector<FieldMark> mark_fields(const ImportContext &ctx, const std::vector<uint8_t> &text,
                                   const std::vector<FormatRun> &runs, const std::vector<FieldSpot> &fields) {
    std::vector<std::pair<int16_t, FieldMark>> marks;
    for (const FieldSpot &spot : fields) {
        int32_t pen = ctx.pen.left;
        int32_t size = runs.empty() ? kDefaultPointSize : runs.front().size;
        size_t index = 0, next_run = 0;
        for (; index < text.size() && text[index] != code::kParagraphEnd; ++index) {
            if (next_run < runs.size() && runs[next_run].position == static_cast<long>(index)) size = runs[next_run++].size;
            if (pen >= spot.horizontal) break;
            pen = pen_advance(pen, text[index], size, ctx.pen);
        }
        marks.push_back({spot.horizontal, FieldMark{index, spot.kind}});
    }
    std::stable_sort(marks.begin(), marks.end(), [](const auto &a, const auto &b) {
        return a.second.index != b.second.index ? a.second.index < b.second.index : a.first < b.first;
    });
    std::vector<FieldMark> out;
    for (const auto &m : marks) out.push_back(m.second);
    return out;
}

void put_fields(ImportContext &ctx, const std::vector<FieldSpot> &fields) {
    for (const FieldSpot &f : fields) put_tag(ctx.out, code::kField, f.kind);
}

std::vector<uint8_t> expand_compressed_text(std::FILE *in, uint16_t count) {
    std::vector<uint8_t> text;
    text.reserve(count);
    // Yields nibbles high first; -1 at the end of the input.
    int current = -1;
    bool low_pending = false;
    auto nibble = [&]() -> int {
        if (low_pending) {
            low_pending = false;
            return current & 0x0F;
        }
        current = kavrel::get_byte(in);
        if (current == EOF) return -1;
        low_pending = true;
        return current >> 4;
    };
    while (text.size() < count) {
        const int n = nibble();
        if (n < 0) break;
        if (n != kNibbleEscape) {
            text.push_back(static_cast<uint8_t>(kNibbleTable[n]));
            continue;
        }
        const int hi = nibble();
        const int lo = hi < 0 ? -1 : nibble();
        if (lo < 0) break;
        text.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return text;
}

void convert_text_paragraph(ImportContext &ctx, uint8_t data_flags, const std::vector<FieldSpot> &fields) {
    uint16_t count = 0;
    if (!kavrel::read_be16(ctx.in, count) || count <= 1) {
        put_fields(ctx, fields);
        if (count == 1) put_control(ctx.out, code::kParagraphEnd);
        return;
    }
    apply_justification(ctx, data_flags);
    std::vector<uint8_t> text;
    if (data_flags & kFlagCompressed) {
        text = expand_compressed_text(ctx.in, count);
        if (std::ftell(ctx.in) & 1) std::fgetc(ctx.in);
    } else {
        text = read_plain_text(ctx.in, count);
    }
    ctx.spend(static_cast<long long>(text.size()));
    const std::vector<FormatRun> runs = read_runs(ctx.in);
    emit_paragraph_text(ctx, text, runs, mark_fields(ctx, text, runs, fields));
}

}  // namespace macwrite5
