// A MacWrite II text area: its block list and run lists, and the characters
// of its blocks with the runs applied where they begin.
#include <cstring>

#include "host/bytes.h"
#include "host/stream_writer.h"
#include "macwrite2/context.h"
#include "macwrite2/layout.h"

namespace macwrite2 {

namespace {

using kavrel::stream::put_char;
using kavrel::stream::put_control;
using kavrel::stream::put_tag;
namespace code = kavrel::code;

struct TextArea {
    Cursor blocks, char_runs, para_runs;
    // Wide enough that counting down from any stored length never overflows.
    int64_t chars_left_in_run = 0;
    int64_t chars_left_in_format = 0;
    bool in_lost_text = false;
};

// Reads a length word and that many bytes of the chain (fewer at its end).
std::string take_list(Cursor &chain) {
    int32_t length = 0;
    if (!chain.read_be32(length)) return {};
    return chain.take(length);
}

void write_byte(ImportContext &ctx, TextArea &area, uint8_t b) {
    switch (b) {
    case kIgnored1:
    case kIgnored2: return;
    case kNoteTextStart:
        if (ctx.note_count != 0) put_tag(ctx.out, code::kBlockEnd);
        put_tag(ctx.out, code::kNoteText, code::kEscape, code::kNoteText);
        ++ctx.note_count;
        return;
    case kNoteCall:
        put_tag(ctx.out, code::kNoteCall, 0, 0);
        put_tag(ctx.out, code::kBlockEnd);
        return;
    case code::kTab:
    case code::kPageBreak: put_control(ctx.out, b); return;
    case code::kParagraphEnd:
        if (area.chars_left_in_run == 1) raz_attributs(&ctx.ca, ctx.out);
        if (area.chars_left_in_format == 1) raz_formats(&ctx.pf, ctx.out);
        put_control(ctx.out, code::kParagraphEnd);
        ctx.chars_on_line = 0;
        return;
    case ' ':
        // A space past the line's width becomes the line end it stood for.
        if (ctx.pf.right_column - ctx.pf.left_column < ctx.chars_on_line) {
            ctx.chars_on_line = 0;
            put_control(ctx.out, code::kLineEnd);
        } else {
            put_control(ctx.out, ' ');
        }
        return;
    default:
        put_char(ctx.out, ctx.table[b]);
        ++ctx.chars_on_line;
        return;
    }
}

void emit_block(ImportContext &ctx, TextArea &area, const uint8_t *text, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (area.chars_left_in_run == 0) area.chars_left_in_run = apply_char_run(ctx, area.char_runs);
        if (area.chars_left_in_format == 0) area.chars_left_in_format = apply_para_run(ctx, area.para_runs);
        // Text holds no zeros: a run of them is text lost, which parts the
        // words on either side with a space rather than joining them.
        if (text[i] == 0) {
            if (!area.in_lost_text) write_byte(ctx, area, ' ');
            area.in_lost_text = true;
        } else {
            write_byte(ctx, area, text[i]);
            area.in_lost_text = false;
        }
        --area.chars_left_in_run;
        --area.chars_left_in_format;
    }
}

// A reference to block 0 or of no characters has no text to give (the area
// counts it as an entry lost), and a block outside the file none either; a
// count beyond the block is cut to the block.  A block that the file's end
// cuts gives what it holds, and zeros where text stands are text lost; each
// is counted.
size_t read_text_block(ImportContext &ctx, uint16_t block, int16_t count, uint8_t *text) {
    if (block == 0 || count <= 0) return 0;
    const long at = (static_cast<long>(block) - 1) * kBlockSize + ctx.mac_binary_offset;
    if (at >= ctx.file_length || std::fseek(ctx.in, at, SEEK_SET) != 0) {
        ++ctx.damage.lost_blocks;
        return 0;
    }
    ctx.use_block(block);
    const size_t want = static_cast<size_t>(count) < kBlockSize ? static_cast<size_t>(count) : kBlockSize;
    const size_t got = std::fread(text, 1, want, ctx.in);
    if (got < want) ++ctx.damage.lost_blocks;
    if (std::memchr(text, 0, got) != nullptr) ++ctx.damage.zeroed_blocks;
    return got;
}

}  // namespace

void emit_found_text(ImportContext &ctx, const std::string &text) {
    raz_attributs(&ctx.ca, ctx.out);
    raz_formats(&ctx.pf, ctx.out);
    TextArea area{Cursor({}), Cursor({}), Cursor({})};
    emit_block(ctx, area, reinterpret_cast<const uint8_t *>(text.data()), text.size());
    if (!text.empty() && text.back() != code::kParagraphEnd) write_byte(ctx, area, code::kParagraphEnd);
}

void emit_text_area(ImportContext &ctx, long first_block) {
    ++ctx.damage.areas;
    // A chain whose first block is zeros has lost the area's block list; its
    // text blocks are left to the search.
    if (block_of_zeros(ctx, first_block)) {
        ctx.use_block(first_block);
        ++ctx.damage.lost_zones;
        return;
    }
    Cursor chain(copy_block_chain(ctx, first_block));
    chain.skip(4);
    std::string blocks = take_list(chain);
    std::string char_runs = take_list(chain);
    std::string para_runs = take_list(chain);
    TextArea area{Cursor(std::move(blocks)), Cursor(std::move(char_runs)), Cursor(std::move(para_runs))};
    uint8_t ref[kTextBlockRefSize];
    uint8_t text[kBlockSize];
    bool entry_lost = false;
    while (area.blocks.read(ref, sizeof ref) == sizeof ref) {
        // The application never writes an entry of block 0 or of no
        // characters: such an entry is a part of the list lost.
        if (!entry_lost && (kavrel::be16(ref) == 0 || kavrel::be16s(ref + 2) <= 0)) {
            entry_lost = true;
            ++ctx.damage.lost_zones;
        }
        const size_t count = read_text_block(ctx, kavrel::be16(ref), kavrel::be16s(ref + 2), text);
        if (!ctx.spend(static_cast<long long>(count))) return;
        emit_block(ctx, area, text, count);
    }
}

}  // namespace macwrite2
