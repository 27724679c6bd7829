// The MacWrite 4.6/5 import: recognition, the three areas and the walk over
// their information arrays.
#include <cstring>
#include <memory>
#include <vector>

#include "catalogue/boundary.h"
#include "host/bytes.h"
#include "host/macbinary.h"
#include "host/stream_writer.h"
#include "macwrite5/geometry.h"
#include "macwrite5/hand_over.h"
#include "macwrite5/import_context.h"
#include "macwrite5/layout.h"
#include "macwrite5/recover.h"

namespace macwrite5 {

namespace {

using kavrel::be16;
using kavrel::be16s;
using kavrel::be32;

struct Area {
    int count_at;
    int window_at;
    int open_block;   // block tag written before the area, 0 for none
};

constexpr Area kAreas[] = {
    {kHeaderCountAt, kHeaderWindowAt, kavrel::code::kHeaderBlock},
    {kFooterCountAt, kFooterWindowAt, kavrel::code::kFooterBlock},
    {kMainCountAt, kMainWindowAt, 0},
};

// The byte length of an area's information array, a 16-bit field.  It is
// unsigned when it holds every entry the count names (a document of 2,048 to
// 4,095 paragraphs needs its top bit); one that falls short of the count is
// damaged, and is taken only below 32 KB.
long info_array_length(const uint8_t *window, uint16_t count) {
    const uint16_t length = be16(window + kInfoArrayLengthAt);
    if (length >= uint32_t{count} * kEntrySize) return length;
    return be16s(window + kInfoArrayLengthAt);
}

// Copies an area's information array into a scratch stream.
std::FILE *copy_info_array(const ImportContext &ctx, const uint8_t *window, uint16_t count) {
    std::FILE *info = sec_fopen("PAR.###", "w+b");
    const long pos = static_cast<long>(be32(window + kInfoArrayPosAt)) + ctx.mac_binary_offset;
    const long length = info_array_length(window, count);
    if (length > 0 && pos >= 0 && std::fseek(ctx.in, pos, SEEK_SET) == 0)
        frecopie(ctx.in, info, static_cast<int32_t>(length));
    std::rewind(info);
    return info;
}

long data_position(const ImportContext &ctx, const uint8_t *entry) {
    return static_cast<long>(be32(entry + kDataWordAt) & kDataOffsetMask) + ctx.mac_binary_offset;
}

// A picture paragraph: the page-break picture is a page break; any other is
// carried whole as a picture insert (its data is the paragraph's rectangle
// and the picture).  Data that does not lie within the document is dropped.
void convert_picture(ImportContext &ctx, const uint8_t *entry) {
    const uint16_t length = be16(entry + kDataLengthAt);
    if (length == kPageBreakLength) {
        kavrel::stream::put_control(ctx.out, kavrel::code::kPageBreak);
        return;
    }
    const long pos = data_position(ctx, entry);
    if (length <= kPictureRectSize || pos + length > ctx.file_length || !ctx.spend(length)) return;
    std::vector<uint8_t> data(length);
    if (std::fseek(ctx.in, pos, SEEK_SET) != 0 || std::fread(data.data(), 1, length, ctx.in) != length) return;
    kavrel::stream::put_insert(ctx.out, kavrel::code::kPictureInsert, data.data(), data.size());
}

// The page and top MacWrite gave a paragraph, and the heights of its lines.
void put_laid(const ImportContext &ctx, const uint8_t *entry, const std::vector<uint8_t> &lines) {
    if (!ctx.placed) return;
    std::vector<uint8_t> body{0, entry[kPageAt], entry[kTopAt], entry[kTopAt + 1]};
    body.insert(body.end(), lines.begin(), lines.end());
    kavrel::stream::put_insert(ctx.out, kavrel::code::kLaidInsert, body.data(), body.size());
}

int32_t mean_of(const std::vector<uint8_t> &lines) {
    int32_t total = 0;
    for (const uint8_t h : lines) total += h;
    return lines.empty() ? 0 : total * kTwipsPerPoint / static_cast<int32_t>(lines.size());
}

void convert_entry(ImportContext &ctx, const uint8_t *entry, size_t index) {
    const int16_t height = be16s(entry + kHeightAt);
    const std::vector<uint8_t> none;
    const std::vector<uint8_t> &lines = index < ctx.line_heights.size() ? ctx.line_heights[index] : none;
    if (height < 0) {
        if (be16(entry + kDataLengthAt) != kPageBreakLength) put_laid(ctx, entry, none);
        return convert_picture(ctx, entry);
    }
    const uint32_t word = be32(entry + kDataWordAt);
    const long pos = data_position(ctx, entry);
    repos_fs(0, static_cast<int32_t>(pos), ctx.in);
    if (height == 0) return convert_ruler(ctx);
    change_geometry(&ctx.pf, KAVREL_GEOMETRY_LINE, mean_of(lines), ctx.out);
    put_laid(ctx, entry, lines);
    convert_text_paragraph(ctx, static_cast<uint8_t>(word >> 24), fields_of(ctx.fields, index));
}

// Walks `count` entries; an array shorter than its count ends the walk, since
// entries past it are not part of the document.
void convert_paragraphs(ImportContext &ctx, uint16_t count, std::FILE *info) {
    uint8_t entry[kEntrySize];
    for (uint32_t i = 0; i < count && !ctx.overdrawn(); ++i) {
        if (std::fread(entry, 1, kEntrySize, info) != kEntrySize) return;
        convert_entry(ctx, entry, i);
    }
}

struct CloseStream {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

// Gives the fields that a header's or footer's window record places to the
// paragraphs of its information array, which is read through once for the
// paragraphs' tops and rewound.
std::vector<AreaField> area_fields(const uint8_t *window, uint16_t count, std::FILE *info) {
    const std::vector<FieldSpot> spots = placed_fields(window + kFieldPairsAt);
    if (spots.empty()) return {};
    std::vector<ParagraphTop> paragraphs;
    uint8_t entry[kEntrySize];
    while (paragraphs.size() < count && std::fread(entry, 1, kEntrySize, info) == kEntrySize)
        paragraphs.push_back({be16s(entry + kHeightAt) > 0, be16s(entry + kTopAt)});
    std::rewind(info);
    return assign_fields(spots, paragraphs);
}

// Whether MacWrite laid the area out: other programs that save the format
// leave every page and top at 0.  The array is read through and rewound.
bool laid_out(uint16_t count, std::FILE *info) {
    bool laid = false;
    uint8_t entry[kEntrySize];
    for (uint16_t i = 0; i < count && !laid && std::fread(entry, 1, kEntrySize, info) == kEntrySize; ++i)
        laid = entry[kPageAt] != 0 || be16(entry + kTopAt) != 0;
    std::rewind(info);
    return laid;
}

// The heights of the area's lines as MacWrite laid them out.
std::vector<std::vector<uint8_t>> area_line_heights(const ImportContext &ctx, const uint8_t *window, uint16_t count) {
    const long pos = static_cast<long>(be32(window + kLineHeightsPosAt)) + ctx.mac_binary_offset;
    const long length = be16(window + kLineHeightsLengthAt);
    if (pos < 0 || pos + length > ctx.file_length || std::fseek(ctx.in, pos, SEEK_SET) != 0) return {};
    return read_line_heights(ctx.in, length, count);
}

// Positions the input at an area's information array; false when the array
// of `count` entries does not lie within the document.
bool seek_entries(const ImportContext &ctx, const uint8_t *window, uint16_t count) {
    const long pos = static_cast<long>(be32(window + kInfoArrayPosAt)) + ctx.mac_binary_offset;
    return pos >= 0 && pos + long{count} * kEntrySize <= ctx.file_length && std::fseek(ctx.in, pos, SEEK_SET) == 0;
}

// Whether MacWrite laid the document out, so that its line heights are the
// author's: a main-text paragraph stands below the top of the first page,
// or holds several lines.  Other programs that save this format store every
// top and page as 0 and every paragraph as one line, however long; those
// heights say nothing of how the text prints.  (Our own export stores the
// header's and footer's tops, never the main text's.)
bool holds_layout(const ImportContext &ctx) {
    const uint8_t *window = ctx.header.data() + kMainWindowAt;
    const uint16_t count = be16(ctx.header.data() + kMainCountAt);
    if (seek_entries(ctx, window, count)) {
        uint8_t entry[kEntrySize];
        for (uint16_t i = 0; i < count && std::fread(entry, 1, kEntrySize, ctx.in) == kEntrySize; ++i)
            if (be16s(entry + kTopAt) != 0 || entry[kPageAt] != 0) return true;
    }
    const long pos = static_cast<long>(be32(window + kLineHeightsPosAt)) + ctx.mac_binary_offset;
    const long length = be16(window + kLineHeightsLengthAt);
    if (pos < 0 || pos + length > ctx.file_length || std::fseek(ctx.in, pos, SEEK_SET) != 0) return false;
    return has_several_lines(ctx.in, length);
}

// Whether a text paragraph's data, where `entry` puts it, holds a character.
bool has_characters(const ImportContext &ctx, const uint8_t *entry) {
    const long back = std::ftell(ctx.in), pos = data_position(ctx, entry);
    uint8_t count[2] = {0, 0};
    if (pos + 2 <= ctx.file_length && std::fseek(ctx.in, pos, SEEK_SET) == 0 && std::fread(count, 1, 2, ctx.in) != 2)
        count[0] = count[1] = 0;
    std::fseek(ctx.in, back, SEEK_SET);
    return (count[0] | count[1]) != 0;
}

// What a header or footer takes of the page: the heights of its paragraphs,
// in twips.  MacWrite gives one that shows nothing (no character, no
// picture, no placed field) no room at all.
int32_t area_height(const ImportContext &ctx, const Area &area) {
    const uint8_t *window = ctx.header.data() + area.window_at;
    const uint16_t count = be16(ctx.header.data() + area.count_at);
    if (!seek_entries(ctx, window, count)) return 0;
    bool shows = !placed_fields(window + kFieldPairsAt).empty();
    int32_t height = 0;
    uint8_t entry[kEntrySize];
    for (uint16_t i = 0; i < count && std::fread(entry, 1, kEntrySize, ctx.in) == kEntrySize; ++i) {
        const int32_t h = be16s(entry + kHeightAt);
        height += h < 0 ? -h : h;
        shows = shows || h < 0 || (h > 0 && has_characters(ctx, entry));
    }
    return shows ? height * kTwipsPerPoint : 0;
}

// The page insert that opens the stream; rulers measure against its width.
void convert_page(ImportContext &ctx) {
    KavrelPage page = page_of_print_record(ctx.header.data() + kPrintRecordAt);
    page.first_page = be16s(ctx.header.data() + kFirstPageAt);
    page.title_page = ctx.header[kTitlePageAt] != 0;
    page.header_height = area_height(ctx, kAreas[0]);
    page.footer_height = area_height(ctx, kAreas[1]);
    pose_page(&page, ctx.out);
    ctx.text_width = printable_width(page);
}

void open_area(ImportContext &ctx, const Area &area, const uint8_t *window, uint16_t count, std::FILE *info) {
    ctx.fields.clear();
    if (area.open_block == 0) return;
    ctx.fields = area_fields(window, count, info);
    pose_bloc_format(area.open_block, ctx.out);
}

void close_area(ImportContext &ctx, const Area &area) {
    if (area.open_block == 0) return;
    put_fields(ctx, fields_of(ctx.fields, kNoParagraph));
    kavrel::stream::put_tag(ctx.out, kavrel::code::kBlockEnd);
}

void convert_area(ImportContext &ctx, const Area &area) {
    const uint8_t *window = ctx.header.data() + area.window_at;
    const uint16_t count = be16(ctx.header.data() + area.count_at);
    ctx.line_heights = ctx.laid_out ? area_line_heights(ctx, window, count) : std::vector<std::vector<uint8_t>>{};
    const std::unique_ptr<std::FILE, CloseStream> info(copy_info_array(ctx, window, count));
    ctx.placed = ctx.laid_out && area.open_block == 0 && laid_out(count, info.get());
    open_area(ctx, area, window, count, info.get());
    convert_paragraphs(ctx, count, info.get());
    close_area(ctx, area);
}

// The paragraphs that recovery kept of an area: their entries stand in for
// the information array (fields are placed by them), and the pieces of
// paragraphs that a lost region cut short are written as they are.
void convert_recovered_area(ImportContext &ctx, const Area &area, const std::vector<Piece> &pieces) {
    // The area's line heights are indexed by its lost array: none are used,
    // and the pages and tops of what was found say nothing of the whole.
    ctx.line_heights.clear();
    ctx.placed = false;
    const std::unique_ptr<std::FILE, CloseStream> info(sec_fopen("PAR.###", "w+b"));
    for (const Piece &p : pieces) std::fwrite(p.entry.data(), 1, p.entry.size(), info.get());
    std::rewind(info.get());
    const auto count = static_cast<uint16_t>(pieces.size());
    open_area(ctx, area, ctx.header.data() + area.window_at, count, info.get());
    for (size_t i = 0; i < pieces.size() && !ctx.overdrawn(); ++i) {
        if (pieces[i].literal) {
            put_fields(ctx, fields_of(ctx.fields, i));
            convert_literal(ctx, pieces[i]);
        } else {
            convert_entry(ctx, pieces[i].entry.data(), i);
        }
    }
    close_area(ctx, area);
}

// Reads the header image at the input's position; the rest of a short file
// reads as zeros.
void read_header(ImportContext &ctx) {
    ctx.header.fill(0);
    (void)std::fread(ctx.header.data(), 1, ctx.header.size(), ctx.in);
}

}  // namespace

int32_t import(std::FILE *input, std::FILE *output, int hand_overs) {
    ImportContext ctx;
    if (init_format(input, &ctx.ca, &ctx.pf, &ctx.tc) == -2) return -2;
    ctx.in = input;
    ctx.out = output;
    std::memset(&ctx.tc, 0, sizeof ctx.tc);
    ctx.ca.size = -10;
    ctx.file_length = kavrel::stream_length(input);
    ctx.mac_binary_offset = wrapped_document_offset(input, ctx.file_length);
    std::fseek(input, ctx.mac_binary_offset, SEEK_SET);
    read_header(ctx);
    const uint8_t version = ctx.header[kVersionAt + 1];
    if (version != kVersion && !header_lost(input, ctx.mac_binary_offset)) {
        if (version == kVersion22 && hand_overs > 0) return macwrite22::import(input, output, hand_overs - 1);
        return -1;
    }
    const Survey damage = survey(input, ctx.mac_binary_offset);
    ctx.start_budget();
    ctx.laid_out = holds_layout(ctx);
    convert_page(ctx);
    for (size_t i = 0; i < std::size(kAreas); ++i) {
        if (damage.damaged)
            convert_recovered_area(ctx, kAreas[i], damage.areas[i]);
        else
            convert_area(ctx, kAreas[i]);
    }
    // Text cut at the bound would pass for the whole document: it is
    // refused instead.
    if (ctx.overdrawn()) return kImportTooMuchText;
    return damage.damaged ? kConvertedDamaged : kConverted;
}

}  // namespace macwrite5

extern "C" int32_t import_macwrite_5(FILE *input, FILE *output) {
    return macwrite::at_boundary([&] { return macwrite5::import(input, output, 1); });
}
