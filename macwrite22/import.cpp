// The MacWrite 2.2 import.  Its text paragraphs and rulers have the newer
// generation's layout and go through the same conversion, with their format
// runs and fields; only the records around them are this generation's own.
#include <cstring>

#include "catalogue/boundary.h"
#include "host/bytes.h"
#include "host/conversion.h"
#include "host/kavrel.h"
#include "host/macbinary.h"
#include "host/stream_writer.h"
#include "macwrite22/layout.h"
#include "macwrite5/geometry.h"
#include "macwrite5/hand_over.h"
#include "macwrite5/import_context.h"
#include "macwrite5/recover.h"
#include "macwrite22/recover.h"

namespace macwrite22 {

namespace {

using kavrel::be16;
using macwrite5::FieldSpot;
using macwrite5::FormatRun;
using macwrite5::ImportContext;

struct Record {
    long start;
    bool ruler;
};

void skip_block(std::FILE *in, bool pad_odd) {
    uint16_t length = 0;
    if (!kavrel::read_be16(in, length)) return;
    fbouffe(length + (pad_odd ? (length & 1) : 0), in);
}

// Steps over one record as MacWrite lays them down: a ruler's fixed body, or
// a text, a pad to an even offset and two blocks of their own lengths.
// False once the end of the input is reached.
bool skip_record(ImportContext &ctx, std::vector<Record> &records) {
    const long start = std::ftell(ctx.in);
    uint8_t head[kRecordHeadSize];
    if (std::fread(head, 1, sizeof head, ctx.in) != sizeof head) return false;
    const bool ruler = be16(head + kRecordKindAt) == 0;
    records.push_back({start, ruler});
    if (ruler) {
        fbouffe(kSkippedRecordBody, ctx.in);
        return true;
    }
    fbouffe(be16(head + kRecordTextLengthAt), ctx.in);
    if ((std::ftell(ctx.in) - ctx.mac_binary_offset) & 1) fbouffe(1, ctx.in);
    skip_block(ctx.in, false);
    skip_block(ctx.in, true);
    return std::feof(ctx.in) == 0;
}

// The first trailing block of a text: its format runs, in ascending order.
// Anything else is not a run list, and the text goes without runs.
std::vector<FormatRun> read_runs(std::FILE *in) {
    uint16_t length = 0;
    if (!kavrel::read_be16(in, length) || length % macwrite5::kRunSize != 0) return {};
    std::vector<uint8_t> bytes(length);
    if (std::fread(bytes.data(), 1, length, in) != length) return {};
    std::vector<FormatRun> runs;
    for (size_t at = 0; at < bytes.size(); at += macwrite5::kRunSize) {
        runs.push_back(macwrite5::decode_format_run(&bytes[at]));
        if (runs.size() > 1 && runs[runs.size() - 2].position >= runs.back().position) return {};
    }
    return runs;
}

// The second trailing block of a text: the heights of its lines.
int32_t read_line_height(std::FILE *in) {
    constexpr uint16_t kMaxLines = 4096;
    uint16_t length = 0;
    if (!kavrel::read_be16(in, length) || length > kMaxLines) return 0;
    std::vector<uint8_t> codes(length);
    if (std::fread(codes.data(), 1, length, in) != length) return 0;
    return macwrite5::mean_line_height(codes);
}

void convert_text(ImportContext &ctx, const std::vector<FieldSpot> &fields) {
    uint8_t head[kRecordHeadSize];
    if (std::fread(head, 1, sizeof head, ctx.in) != sizeof head) return;
    const uint16_t count = be16(head + kRecordTextLengthAt);
    std::vector<uint8_t> text(count);
    text.resize(std::fread(text.data(), 1, count, ctx.in));
    if ((std::ftell(ctx.in) - ctx.mac_binary_offset) & 1) fbouffe(1, ctx.in);
    const std::vector<FormatRun> runs = read_runs(ctx.in);
    change_geometry(&ctx.pf, KAVREL_GEOMETRY_LINE, read_line_height(ctx.in), ctx.out);
    // An empty paragraph is a return alone, without runs or justification,
    // as in the newer generation.
    if (text.empty() || (text.size() == 1 && text[0] == kavrel::code::kParagraphEnd)) {
        macwrite5::put_fields(ctx, fields);
        if (!text.empty()) kavrel::stream::put_control(ctx.out, kavrel::code::kParagraphEnd);
        return;
    }
    macwrite5::apply_justification(ctx, 0);
    macwrite5::emit_paragraph_text(ctx, text, runs, macwrite5::mark_fields(ctx, text, runs, fields));
}

void convert_record(ImportContext &ctx, const Record &r, const std::vector<FieldSpot> &fields) {
    std::fseek(ctx.in, r.start + (r.ruler ? kRecordRulerAt : 0), SEEK_SET);
    if (r.ruler)
        macwrite5::convert_ruler(ctx);
    else
        convert_text(ctx, fields);
}

struct Area {
    size_t first, count;
    uint8_t open_block;   // 0 for the main text
    int window_at;
};

// The fields a header's or footer's window record places.  The window
// records and the entries (whose tops say where each paragraph stands) are
// read only where they lie before the first record.
std::vector<macwrite5::AreaField> area_fields(ImportContext &ctx, const std::vector<Record> &records, const Area &area,
                                              long list_pos) {
    if (list_pos < kWindowsEnd) return {};
    const auto spots = macwrite5::placed_fields(ctx.header.data() + area.window_at + kFieldPairsAt);
    if (spots.empty()) return {};
    std::vector<macwrite5::ParagraphTop> paragraphs;
    for (size_t i = area.first; i < area.first + area.count; ++i) {
        const long entry = kEntriesAt + static_cast<long>(i) * kEntrySize;
        uint8_t top[2] = {0, 0};
        if (entry + kEntrySize <= list_pos) {
            std::fseek(ctx.in, ctx.mac_binary_offset + entry + kEntryTopAt, SEEK_SET);
            if (std::fread(top, 1, 2, ctx.in) != 2) top[0] = top[1] = 0;
        }
        paragraphs.push_back({!records[i].ruler, kavrel::be16s(top)});
    }
    return macwrite5::assign_fields(spots, paragraphs);
}

void convert_area(ImportContext &ctx, const std::vector<Record> &records, const Area &area, long list_pos) {
    ctx.fields.clear();
    if (area.open_block != 0) {
        ctx.fields = area_fields(ctx, records, area, list_pos);
        pose_bloc_format(area.open_block, ctx.out);
    }
    for (size_t i = 0; i < area.count; ++i) convert_record(ctx, records[area.first + i], macwrite5::fields_of(ctx.fields, i));
    if (area.open_block != 0) {
        macwrite5::put_fields(ctx, macwrite5::fields_of(ctx.fields, macwrite5::kNoParagraph));
        kavrel::stream::put_tag(ctx.out, kavrel::code::kBlockEnd);
    }
}

// What `count` paragraphs from entry `first` take of the page, in twips: the
// heights that their entries give, read where they lie before the records.
int32_t entries_height(ImportContext &ctx, size_t first, size_t count, long list_pos) {
    int32_t height = 0;
    for (size_t i = first; i < first + count; ++i) {
        const long entry = kEntriesAt + static_cast<long>(i) * kEntrySize;
        uint8_t word[2];
        if (entry + kEntrySize > list_pos || std::fseek(ctx.in, ctx.mac_binary_offset + entry, SEEK_SET) != 0 ||
            std::fread(word, 1, 2, ctx.in) != 2)
            break;
        const int32_t h = kavrel::be16s(word);
        height += h < 0 ? -h : h;
    }
    return height * macwrite5::kTwipsPerPoint;
}

// Whether a header or footer shows anything: a placed field, or a text
// record that holds a character.
bool area_shows(ImportContext &ctx, const std::vector<Record> &records, const Area &area, long list_pos) {
    if (list_pos >= kWindowsEnd && !macwrite5::placed_fields(ctx.header.data() + area.window_at + kFieldPairsAt).empty())
        return true;
    for (size_t i = area.first; i < area.first + area.count; ++i) {
        uint8_t head[kRecordHeadSize];
        if (!records[i].ruler && std::fseek(ctx.in, records[i].start, SEEK_SET) == 0 &&
            std::fread(head, 1, sizeof head, ctx.in) == sizeof head && be16(head + kRecordTextLengthAt) > 0)
            return true;
    }
    return false;
}

// The page insert that opens the stream: the print record's page, and the
// heights that the header's and footer's entries give them, or none for one
// that shows nothing, as MacWrite prints it.  `areas` are the header, the
// footer and the main text; `counts` the main text's, the header's and the
// footer's entries.
void convert_page(ImportContext &ctx, const std::vector<Record> &records, const Area (&areas)[3],
                  const size_t (&counts)[3], long list_pos) {
    const uint8_t *doc = ctx.header.data();
    KavrelPage page = macwrite5::page_of_print_record(doc + kPrintRecordAt);
    page.first_page = kavrel::be16s(doc + kFirstPageAt);
    page.title_page = doc[kTitlePageAt] != 0;
    if (area_shows(ctx, records, areas[0], list_pos)) page.header_height = entries_height(ctx, counts[0], counts[1], list_pos);
    if (area_shows(ctx, records, areas[1], list_pos))
        page.footer_height = entries_height(ctx, counts[0] + counts[1], counts[2], list_pos);
    pose_page(&page, ctx.out);
    ctx.text_width = macwrite5::printable_width(page);
}

// Reads the header image at the input's position; the rest of a short file
// reads as zeros.
size_t read_header(ImportContext &ctx) {
    ctx.header.fill(0);
    return std::fread(ctx.header.data(), 1, ctx.header.size(), ctx.in);
}

}  // namespace

int32_t import(std::FILE *input, std::FILE *output, int hand_overs) {
    ImportContext ctx;
    if (init_format(input, &ctx.ca, &ctx.pf, &ctx.tc) == -2) return -2;
    ctx.in = input;
    ctx.out = output;
    ctx.ca.size = -10;  // the column scale of rulers, as in the newer generation
    ctx.file_length = kavrel::stream_length(input);
    ctx.mac_binary_offset = macwrite5::wrapped_document_offset(input, ctx.file_length);
    std::fseek(input, ctx.mac_binary_offset, SEEK_SET);
    const size_t got = read_header(ctx);
    const uint8_t *doc = ctx.header.data();
    const uint16_t version = be16(doc);
    if (got < static_cast<size_t>(kHeaderSize) || version != kVersion) {
        if (version == kVersion5 && hand_overs > 0) return macwrite5::import(input, output, hand_overs - 1);
        return -1;
    }
    const size_t counts[3] = {be16(doc + kParagraphCountAt), be16(doc + kHeaderCountAt), be16(doc + kFooterCountAt)};
    const long list_pos = be16(doc + kParagraphListPosAt);
    std::vector<Record> records;
    std::fseek(input, ctx.mac_binary_offset + list_pos, SEEK_SET);
    const size_t total = counts[0] + counts[1] + counts[2];
    while (records.size() < total && skip_record(ctx, records)) {
    }
    const Survey damage = survey(input, ctx.mac_binary_offset, list_pos, total);
    if (damage.damaged) {
        records.clear();
        for (const RecordAt &r : damage.records) records.push_back({r.start + ctx.mac_binary_offset, r.ruler});
    }
    // Each area takes its records in turn, as many as the file still holds;
    // when records were lost before a last one that ends the file, the page
    // header and footer are the last ones.
    const size_t lost = damage.from_the_end && records.size() < total ? total - records.size() : 0;
    auto span = [&](size_t first, size_t count) {
        first = first < records.size() ? first : records.size();
        return std::pair{first, count < records.size() - first ? count : records.size() - first};
    };
    const auto [main_first, main_count] = span(0, counts[0] - std::min(lost, counts[0]));
    const auto [header_first, header_count] = span(main_count, counts[1]);
    const auto [footer_first, footer_count] = span(main_count + header_count, counts[2]);
    const Area areas[] = {
        {header_first, header_count, kavrel::code::kHeaderBlock, kHeaderWindowAt},
        {footer_first, footer_count, kavrel::code::kFooterBlock, kFooterWindowAt},
        {main_first, main_count, 0, 0},
    };
    convert_page(ctx, records, areas, counts, list_pos);
    for (const Area &area : areas) convert_area(ctx, records, area, list_pos);
    return damage.damaged ? kConvertedDamaged : 0;
}

}  // namespace macwrite22

extern "C" int32_t import_macwrite_22(FILE *input, FILE *output) {
    return macwrite::at_boundary([&] { return macwrite22::import(input, output, 1); });
}
