// The MacWrite II import: the document chain, its style tables and the
// directory walk over its text areas, then the note pass.
#include <algorithm>
#include <cstring>

#include "catalogue/boundary.h"
#include "host/bytes.h"
#include "host/macbinary.h"
#include "macwrite2/context.h"
#include "macwrite2/disk.h"
#include "macwrite2/layout.h"
#include "macwrite2/recognise.h"

namespace macwrite2 {

namespace {

// A count taken from a measure: negative counts are none, and a table never
// holds more than the format allows.
int32_t table_count(int32_t measure, int32_t unit, int32_t limit) {
    const int32_t count = measure / unit;
    return count < 0 ? 0 : (count > limit ? limit : count);
}

void read_tables(ImportContext &ctx, Cursor &chain) {
    int32_t skip = 0, measure = 0;
    int16_t entries = 0;
    chain.read_be32(skip);
    chain.skip(skip);
    chain.skip(4);
    chain.read_be16(entries);
    chain.skip(int64_t{kSkippedEntrySize} * entries);
    chain.read_be32(measure);
    read_char_styles(chain, ctx.char_styles, table_count(measure, kCharStyleMeasureUnit, kMaxCharStyles));
    chain.skip(int64_t{kCharStyleRecordSize} * (measure / kCharStyleMeasureUnit - int64_t(ctx.char_styles.size())));
    measure = 0;
    chain.read_be32(measure);
    read_para_formats(chain, ctx.para_formats, table_count(measure, kParaFormatMeasureUnit, kMaxParaFormats));
    chain.skip(int64_t{kParaFormatRecordSize} * (measure / kParaFormatMeasureUnit - int64_t(ctx.para_formats.size())));
}

// One group of area records, up to a record that ends it or cannot be read
// whole.  A record of the next group's kind is left to be read again.
void walk_group(ImportContext &ctx, Cursor &chain) {
    chain.skip(kGroupHeaderSize);
    for (;;) {
        const size_t at = chain.position();
        uint8_t record[kAreaRecordSize];
        if (chain.read(record, sizeof record) != sizeof record) return;
        const int16_t kind = kavrel::be16s(record);
        if (kind == kKindNextGroup) chain.seek(at);
        if (kind >= kKindNextGroup) return;
        const int16_t first_block = kavrel::be16s(record + kAreaFirstBlockAt);
        const bool flagged = kavrel::be32(record + kAreaFlagAt) != 0;
        if (flagged) continue;
        chain.skip(first_block == 0 ? 15 : 3);
        if (first_block == 0) continue;
        // A text area past the end of the file (or before its start) is
        // lost, its text blocks left to the search; the group's later
        // records are still read, so the groups after it stay in step.
        const auto at_block = static_cast<uint32_t>((first_block - 1) * kBlockSize + ctx.mac_binary_offset);
        if (static_cast<uint32_t>(ctx.file_length) < at_block) {
            ++ctx.damage.lost_zones;
            continue;
        }
        emit_text_area(ctx, first_block);
        if (ctx.overdrawn()) return;
    }
}

void walk_directory(ImportContext &ctx, Cursor &chain) {
    for (;;) {
        walk_group(ctx, chain);
        if (ctx.overdrawn()) return;
        uint8_t two[2];
        if (chain.read(two, 2) < 2) return;
    }
}

// The document's first blocks, after any MacBinary header; how many bytes
// of them the file has.
size_t read_first_blocks(ImportContext &ctx, uint8_t *blocks, size_t size) {
    if (std::fseek(ctx.in, ctx.mac_binary_offset, SEEK_SET) != 0) return 0;
    return std::fread(blocks, 1, size, ctx.in);
}

bool disk_chain_at_block_3(ImportContext &ctx) {
    Cursor chain(read_block_chain(ctx, kDocumentChainBlock, false).data);
    disk::Document doc;
    return disk::read_document_chain(chain, doc);
}

}  // namespace

int32_t import(std::FILE *input, std::FILE *output, ChainDamage &damage) {
    ImportContext ctx;
    if (init_format(input, &ctx.ca, &ctx.pf, &ctx.tc) == -2) return -2;
    ctx.in = input;
    ctx.out = output;
    ctx.file_length = kavrel::stream_length(input);
    uint8_t head[kavrel::macbinary::kHeaderSize + 4] = {};
    const size_t got = std::fread(head, 1, sizeof head, input);
    ctx.mac_binary_offset = kavrel::macbinary::data_offset(head, got, static_cast<uint64_t>(ctx.file_length), kMacBinaryTypeCreator);
    uint8_t first[kavrel::macbinary::kRecognitionHead] = {};
    const size_t have = read_first_blocks(ctx, first, sizeof first);
    const bool whole = ctx.mac_binary_offset + static_cast<long>(have) >= ctx.file_length;
    const Layout layout = layout_of(first, have, whole);
    if (layout == Layout::None && ctx.mac_binary_offset == 0) return kNotThisFormat;
    ctx.start_budget();
    ctx.used_blocks.assign(static_cast<size_t>(std::max(0L, ctx.block_count()) + 1), false);
    // The layout the application writes is read as such; the other is the
    // one of in-memory record sizes.  A lost first block leaves the document
    // chain to say which it is.
    ctx.damage.lost_first_block = layout == Layout::Lost;
    if (layout == Layout::Disk || (layout == Layout::Lost && disk_chain_at_block_3(ctx))) {
        const int32_t rc = disk::import(ctx, first);
        damage = ctx.damage;
        return rc;
    }
    ctx.damage.lost_document_chain = block_of_zeros(ctx, kDocumentChainBlock);
    Cursor chain(copy_block_chain(ctx, kDocumentChainBlock));
    read_tables(ctx, chain);
    walk_directory(ctx, chain);
    if (ctx.damage.damaged() && !ctx.overdrawn()) emit_lost_areas(ctx);
    // This layout's directory cannot tell a record lost from one without
    // an area, so text that no area reaches is searched for in every
    // document: in a sound one there is none.
    if (!ctx.overdrawn())
        for (const std::string &text : find_lost_text(ctx)) emit_found_text(ctx, text);
    // A document that reads its text over and over has no sensible output to
    // cut short: it is refused whole.
    if (ctx.overdrawn()) return kImportTooMuchText;
    // A host that loses the output in the note pass learns of it when it
    // takes the output back.
    if (ctx.note_count != 0) relink_notes(ctx);
    damage = ctx.damage;
    return damage.damaged() ? kConvertedDamaged : kConverted;
}

}  // namespace macwrite2

extern "C" int32_t import_macwrite_ii(FILE *input, FILE *output) {
    macwrite2::ChainDamage damage;
    return macwrite::at_boundary([&] { return macwrite2::import(input, output, damage); });
}
