// Laying down a MacWrite 4.6/5 document in one pass: each paragraph's data is
// gathered in memory (it is at most 64 KB) and written whole when it closes;
// its entry waits in entry_file.
#include <algorithm>
#include <cstring>

#include "catalogue/catalogue.h"
#include "host/bytes.h"
#include "macwrite5/export_state.h"
#include "macwrite5/layout.h"

namespace macwrite5 {

namespace {

using kavrel::be16s;
using kavrel::put_be16;
using kavrel::put_be32;

constexpr uint8_t kHeaderStart[64] = {
    0x00, 0x06, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01,                          // version, counts
    0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x01,              // settings
    0x00, 0x00, 0x01, 0xE6,                                                  // closing record
    0x00, 0x08, 0x00, 0x08,                                                  // its length, twice
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                //
    0x00, 0x02, 0x00, 0x00, 0x00, 0x48, 0x00, 0x48,                          // printer record
    0x00, 0x00, 0x00, 0x00, 0x02, 0xF0, 0x02, 0x40,                          //   page
    0xFF, 0xDC, 0xFF, 0xEE, 0x02, 0xF4, 0x02, 0x52,                          //   paper
};
constexpr int kPrinterRecordRest = 96;

constexpr uint8_t kWindowRecord[kWindowSize] = {
    0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                      // arrays: the trailer's
    0xFF, 0xF2, 0x00, 0x1E, 0xFF, 0xF2, 0x00, 0xEC, 0xFF, 0xF2, 0x01, 0xBA,
    0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,
};

constexpr uint8_t kDefaultRuler[kRulerSize] = {
    0x00, 0x0D, 0x01, 0xB4, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x0D,
    0x00, 0x30, 0x00, 0x53, 0x00, 0x77, 0x00, 0x9A, 0x00, 0xBE,
    0x00, 0xE1, 0x01, 0x05, 0x01, 0x28, 0x01, 0x4C, 0x01, 0x6F,
    0, 0, 0, 0,
};

constexpr uint8_t kPageBreakBody[20] = {0x00, 0x00, 0x00, 0x20, 0x03, 0xE8, 0x00, 0x0D, 'M', 'A',
                                        'G',  'I',  'C',  'P',  'I',  'C',  0x11, 0x01, 0xFF, 0x96};

// Where the opening puts the three default rulers: footer, header, main.
constexpr uint32_t kFooterRulerAt = 298, kHeaderRulerAt = 332, kMainRulerAt = 366;
constexpr int16_t kPageBreakHeight = -416;
constexpr int16_t kTextHeight = 13;

void write_bytes(std::FILE *f, const uint8_t *bytes, size_t n) { std::fwrite(bytes, 1, n, f); }

void write_be16(std::FILE *f, uint16_t v) {
    uint8_t b[2];
    put_be16(b, v);
    write_bytes(f, b, 2);
}

void write_be32(std::FILE *f, uint32_t v) {
    uint8_t b[4];
    put_be32(b, v);
    write_bytes(f, b, 4);
}

// An information entry of the header's or footer's one ruler, or the main
// text's first: height 0, the ruler's offset, length 34.
void write_ruler_entry(std::FILE *f, uint32_t at) {
    uint8_t entry[kEntrySize] = {};
    put_be32(entry + kDataWordAt, at);
    put_be16(entry + kDataLengthAt, kRulerSize);
    write_bytes(f, entry, sizeof entry);
}

void close_entry(ExportState &s, int16_t height, uint16_t data_length) {
    AreaEntries &area = s.areas[s.area];
    if (area.entry_count >= kMaxMainEntries) {
        s.refusal = kExportTooManyParagraphs;
        return;
    }
    put_be16(s.pending_entry.data() + kHeightAt, static_cast<uint16_t>(height));
    put_be16(s.pending_entry.data() + kDataLengthAt, data_length);
    if (area.stacked) {
        put_be16(s.pending_entry.data() + kTopAt, static_cast<uint16_t>(area.top));
        // a picture stands as tall as its negated height; a page break takes no room
        const int room = height > 0 ? height : height < 0 && data_length != kPageBreakLength ? -height : 0;
        area.top = static_cast<int16_t>(area.top + room);
    }
    write_bytes(area.entry_file, s.pending_entry.data(), s.pending_entry.size());
    ++area.entry_count;
}

uint8_t run_style(uint8_t style) {
    uint8_t out = 0;
    if (style & KAVREL_BOLD) out |= kStyleBold;
    if (style & KAVREL_ITALIC) out |= kStyleItalic;
    if (style & KAVREL_UNDERLINE) out |= kStyleUnderline;
    if (style & KAVREL_SUPERSCRIPT) out |= kStyleSuperscript;
    if (style & KAVREL_SUBSCRIPT) out |= kStyleSubscript;
    return out;
}

// Pad, run-list length and runs behind the text; returns the bytes added
// after the pad, which it counts in paragraph_chars itself.
int32_t append_format_runs(ExportState &s) {
    if ((s.paragraph_start + static_cast<long>(s.paragraph.size())) & 1) {
        s.paragraph.push_back('\xFF');
        ++s.paragraph_chars;
    }
    const auto n = static_cast<uint16_t>(s.runs.size());
    s.paragraph.push_back(static_cast<char>(n >> 8));
    s.paragraph.push_back(static_cast<char>(n & 0xFF));
    s.paragraph += s.runs;
    s.runs.clear();
    return n + 2;
}

// Writes out what the open paragraph gathered.
void flush_paragraph(ExportState &s) {
    std::fwrite(s.paragraph.data(), 1, s.paragraph.size(), s.out);
    s.written += static_cast<long>(s.paragraph.size());
    s.paragraph.clear();
}

// The trailer's length: the footer's and the header's arrays (a 2-byte start
// and 4 bytes of line heights for each paragraph after the ruler, 16 bytes of
// entry for each), the main line heights and entries, the closing record.
long trailer_length(const ExportState &s) {
    long length = 6 + 20L * s.areas[kMainArea].entry_count + 8;
    for (AreaIndex a : {kHeaderArea, kFooterArea}) length += 2 + 4L * (s.areas[a].entry_count - 1) + 16L * s.areas[a].entry_count;
    return length;
}

}  // namespace

void write_opening(ExportState &s) {
    s.pen_ruler = pen_ruler(kDefaultRuler);
    write_bytes(s.out, kHeaderStart, sizeof kHeaderStart);
    putx(kPrinterRecordRest, 0, s.out);
    for (int i = 0; i < 3; ++i) write_bytes(s.out, kWindowRecord, sizeof kWindowRecord);
    for (int i = 0; i < 3; ++i) write_bytes(s.out, kDefaultRuler, sizeof kDefaultRuler);
    s.written = std::ftell(s.out);
    begin_paragraph(s);
    write_format_run(s);
}

void begin_paragraph(ExportState &s) {
    s.last_run_position = 0;
    s.paragraph_chars = 0;
    s.pending_entry.fill(0);
    s.paragraph_start = s.written;
    s.pen = s.pen_ruler.left;
    put_be32(s.pending_entry.data() + kDataWordAt, static_cast<uint32_t>(s.paragraph_start) & kDataOffsetMask);
    s.paragraph.assign(2, '\0');  // the length word, set when the paragraph closes
}

void end_paragraph(ExportState &s, bool final) {
    s.paragraph.push_back(13);
    ++s.paragraph_chars;
    put_be16(reinterpret_cast<uint8_t *>(s.paragraph.data()), static_cast<uint16_t>(s.paragraph_chars));
    s.paragraph_chars += append_format_runs(s);
    flush_paragraph(s);
    close_entry(s, kTextHeight, static_cast<uint16_t>(s.paragraph_chars + 2));
    if (final) return;
    begin_paragraph(s);
    write_format_run(s);
}

// A run where the last one was written replaces it: a paragraph never holds
// two runs at one position.
void write_format_run(ExportState &s) {
    uint8_t run[kRunSize];
    put_be16(run, static_cast<uint16_t>(s.paragraph_chars));
    run[2] = static_cast<uint8_t>(run_point_size(s));
    run[3] = run_style(s.ca.style);
    run[4] = 0;
    run[5] = s.ca.special_font != 0 ? s.ca.special_font : 2;
    if (s.last_run_position == s.paragraph_chars) {
        if (s.paragraph_chars == 0)
            s.runs.clear();
        else if (s.runs.size() >= kRunSize)
            s.runs.resize(s.runs.size() - kRunSize);
    }
    s.runs.append(reinterpret_cast<const char *>(run), sizeof run);
    s.ca.changed = 0;
    s.last_run_position = static_cast<uint16_t>(s.paragraph_chars);
}

void write_text_char_checked(ExportState &s, uint8_t byte, bool with_run) {
    if (paragraph_full(s)) end_paragraph(s, false);
    if (s.paragraph_start + 2 + s.paragraph_chars >= kMaxDocumentLength) {
        s.refusal = kExportTooLong;
        return;
    }
    if (with_run && s.ca.changed) write_format_run(s);
    s.paragraph.push_back(static_cast<char>(byte));
    ++s.paragraph_chars;
    s.pen = pen_advance(s.pen, byte, run_point_size(s), s.pen_ruler);
}

size_t write_ascii_text(ExportState &s, const uint8_t *bytes, size_t n) {
    if (s.ca.changed) return 0;
    const long runs = static_cast<long>(s.runs.size());
    const long paragraph_room = kMaxParagraphData - 19 - runs - s.paragraph_chars;
    const long document_room = kMaxDocumentLength - s.paragraph_start - 2 - s.paragraph_chars;
    const size_t room = static_cast<size_t>(std::max(0L, std::min(paragraph_room, document_room)));
    const uint8_t stop = s.ca.special_font != 0 ? 0x41 : 0x80;  // a letter ends a special font
    size_t k = 0, spaces = 0;
    for (const size_t limit = std::min(n, room); k < limit && bytes[k] < stop; ++k) spaces += bytes[k] == ' ';
    // The pen as pen_advance moves it, a character at a time (no tab is plain).
    const int32_t size = run_point_size(s);
    const int32_t space = size / 4 > 0 ? size / 4 : 1, other = size / 2 > 0 ? size / 2 : 1;
    s.pen += static_cast<int32_t>(spaces) * space + static_cast<int32_t>(k - spaces) * other;
    s.paragraph.append(reinterpret_cast<const char *>(bytes), k);
    s.paragraph_chars += static_cast<int32_t>(k);
    return k;
}

void place_field(ExportState &s, uint8_t kind) {
    AreaEntries &area = s.areas[s.area];
    for (const FieldSpot &f : area.fields)
        if (f.kind == kind) return;
    const int32_t pen = s.pen < INT16_MAX ? s.pen : INT16_MAX;
    area.fields.push_back({kind, area.top, static_cast<int16_t>(pen)});
}

void write_page_break(ExportState &s) {
    s.paragraph.append(reinterpret_cast<const char *>(kPageBreakBody), sizeof kPageBreakBody);
    flush_paragraph(s);
    close_entry(s, kPageBreakHeight, kPageBreakLength);
    begin_paragraph(s);
}

// The ruler takes the place of the open paragraph's length word.
void write_ruler(ExportState &s, bool centred) {
    s.paragraph.resize(s.paragraph.size() >= 2 ? s.paragraph.size() - 2 : 0);  // its length word
    uint8_t ruler[kRulerSize];
    std::memcpy(ruler, kDefaultRuler, sizeof ruler);
    ruler[kJustificationAt] = centred ? kCentred : kLeft;
    put_be16(ruler + kLeftMarginAt, static_cast<uint16_t>(s.ruler.left));
    put_be16(ruler + kRightMarginAt, static_cast<uint16_t>(s.ruler.right));
    put_be16(ruler + kFirstLineAt, static_cast<uint16_t>(s.ruler.first));
    put_be16(ruler + kLineSpacingAt, s.ruler.spacing);
    s.paragraph.append(reinterpret_cast<const char *>(ruler), sizeof ruler);
    flush_paragraph(s);
    close_entry(s, 0, kRulerSize);
    begin_paragraph(s);
}

// The paragraph's height is that of its rectangle; a rectangle with none
// takes the picture's frame.  The data is padded to an even length, counted
// in it as MacWrite does, and never to the page break's 22 bytes, which
// readers know by its length alone.  A picture too long for its 16-bit
// length, or for the document, is left out.
void write_picture(ExportState &s, const uint8_t *data, size_t n) {
    size_t padded = n + (n & 1);
    if (padded == kPageBreakLength) padded += 2;
    if (padded > kMaxParagraphData) return;
    if (s.paragraph_start + static_cast<long>(padded) >= kMaxDocumentLength) {
        s.refusal = kExportTooLong;
        return;
    }
    int height = be16s(data + 4) - be16s(data);
    if (height <= 0 && n >= kPictureRectSize + 10)
        height = be16s(data + kPictureRectSize + 6) - be16s(data + kPictureRectSize + 2);
    height = std::clamp(height, 1, 32767);
    s.paragraph.resize(s.paragraph.size() >= 2 ? s.paragraph.size() - 2 : 0);  // its length word
    s.paragraph.append(reinterpret_cast<const char *>(data), n);
    s.paragraph.append(padded - n, '\0');
    flush_paragraph(s);
    close_entry(s, static_cast<int16_t>(-height), static_cast<uint16_t>(padded));
    begin_paragraph(s);
}

namespace {

struct ArrayPlace {
    uint32_t info_pos;
    uint16_t info_length;
    uint32_t heights_pos;
    uint16_t heights_length;
};

constexpr uint8_t kOneLineHeight[4] = {0x00, 0x01, 0x0D, 0x00};

// Copies an area's waiting entries behind its first one.
void copy_entries(ExportState &s, const AreaEntries &area) {
    const auto p = static_cast<int32_t>(std::ftell(area.entry_file));
    std::rewind(area.entry_file);
    frecopie(area.entry_file, s.out, p);
}

// A header's or footer's arrays: no line for its ruler, one for every other
// paragraph; then its ruler's entry and the others.  With the ruler alone
// this is the empty frame that every document without one has.
ArrayPlace write_block_arrays(ExportState &s, const AreaEntries &area, uint32_t ruler_at) {
    const auto heights = static_cast<uint32_t>(std::ftell(s.out));
    write_be16(s.out, 0);
    for (int32_t i = 1; i < area.entry_count; ++i) write_bytes(s.out, kOneLineHeight, sizeof kOneLineHeight);
    const auto info = static_cast<uint32_t>(std::ftell(s.out));
    write_ruler_entry(s.out, ruler_at);
    copy_entries(s, area);
    return {info, static_cast<uint16_t>(area.entry_count * kEntrySize), heights, static_cast<uint16_t>(info - heights)};
}

void patch_window(ExportState &s, long window_at, const ArrayPlace &place) {
    std::fseek(s.out, window_at + kInfoArrayPosAt, SEEK_SET);
    write_be32(s.out, place.info_pos);
    write_be16(s.out, place.info_length);
    write_be32(s.out, place.heights_pos);
    write_be16(s.out, place.heights_length);
}

// A header's or footer's count, and where its window record places fields.
void patch_block(ExportState &s, const AreaEntries &area, long count_at, long window_at) {
    std::fseek(s.out, count_at, SEEK_SET);
    write_be16(s.out, static_cast<uint16_t>(area.entry_count));
    for (const FieldSpot &f : area.fields) {
        std::fseek(s.out, window_at + kFieldPairsAt + 4 * (f.kind - 1), SEEK_SET);
        write_be16(s.out, static_cast<uint16_t>(f.vertical));
        write_be16(s.out, static_cast<uint16_t>(f.horizontal));
    }
}

}  // namespace

namespace {

// The page the stream gave, as the print record at 72 dots an inch: the
// printable page from (0, 0), the paper around it; and the first page's
// number and title page among the document's settings.
void patch_page(ExportState &s) {
    const KavrelPage &p = s.page;
    const int16_t height = twips_to_points(p.height - p.top - p.bottom), width = twips_to_points(p.width - p.left - p.right);
    const int16_t rects[8] = {0,
                              0,
                              height,
                              width,
                              static_cast<int16_t>(-twips_to_points(p.top)),
                              static_cast<int16_t>(-twips_to_points(p.left)),
                              static_cast<int16_t>(height + twips_to_points(p.bottom)),
                              static_cast<int16_t>(width + twips_to_points(p.right))};
    std::fseek(s.out, kPrintRecordAt + 8, SEEK_SET);
    for (const int16_t v : rects) write_be16(s.out, static_cast<uint16_t>(v));
    std::fseek(s.out, kTitlePageAt, SEEK_SET);
    write_bytes(s.out, reinterpret_cast<const uint8_t *>(p.title_page ? "\1" : "\0"), 1);
    std::fseek(s.out, kFirstPageAt, SEEK_SET);
    write_be16(s.out, static_cast<uint16_t>(p.first_page));
}

}  // namespace

void write_trailer(ExportState &s) {
    flush_paragraph(s);  // the length word of a paragraph begun and left empty
    if (std::ftell(s.out) + trailer_length(s) > kMaxDocumentLength) {
        s.refusal = kExportTooLong;
        return;
    }
    const AreaEntries &main = s.areas[kMainArea], &header = s.areas[kHeaderArea], &footer = s.areas[kFooterArea];
    const ArrayPlace footer_place = write_block_arrays(s, footer, kFooterRulerAt);
    const ArrayPlace header_place = write_block_arrays(s, header, kHeaderRulerAt);
    const auto b = static_cast<uint32_t>(std::ftell(s.out));
    const uint8_t heights_start[6] = {0, 0, 0, 0x01, 0x10, 0x00};
    write_bytes(s.out, heights_start, sizeof heights_start);
    for (int32_t i = 0; i < main.entry_count; ++i) write_bytes(s.out, kOneLineHeight, sizeof kOneLineHeight);
    const auto c = static_cast<uint32_t>(std::ftell(s.out));
    write_ruler_entry(s.out, kMainRulerAt);
    copy_entries(s, main);
    const auto e = static_cast<uint32_t>(std::ftell(s.out));
    write_be32(s.out, e + 8);
    write_be32(s.out, 0);
    insertion_longueur(static_cast<int32_t>(e + 8), s.out);

    std::fseek(s.out, kMainCountAt, SEEK_SET);
    write_be16(s.out, static_cast<uint16_t>(main.entry_count));
    std::fseek(s.out, kClosingRecordPosAt, SEEK_SET);
    write_be32(s.out, e);
    patch_window(s, kFooterWindowAt, footer_place);
    patch_window(s, kHeaderWindowAt, header_place);
    patch_window(s, kMainWindowAt, {c, static_cast<uint16_t>(main.entry_count * kEntrySize), b, static_cast<uint16_t>(c - b)});
    patch_block(s, header, kHeaderCountAt, kHeaderWindowAt);
    patch_block(s, footer, kFooterCountAt, kFooterWindowAt);
    if (s.page_said) patch_page(s);
}

}  // namespace macwrite5
