// Working state of one MacWrite 4.6/5 import, owned by the call, and the
// paragraph and ruler conversion that the MacWrite 2.2 import shares: the
// older generation keeps its text paragraphs and rulers in the same layout.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/conversion.h"
#include "macwrite5/fields.h"

namespace macwrite5 {

struct ImportContext : kavrel::ImportState {
    int8_t ruler_justification = 0;
    std::array<uint8_t, 512> header{};
    PenRuler pen;                   // of the last ruler, for placing fields
    std::vector<AreaField> fields;  // of the area being converted
    int32_t text_width = 9360;      // of the printable page, in twips
    std::vector<std::vector<uint8_t>> line_heights;  // of the area's paragraphs' lines, in points
    std::vector<uint8_t> tabs_said;  // the last TABS insert's stops; the stream starts with none
    bool laid_out = false;           // the document stores MacWrite's layout
    bool placed = false;             // the area's entries keep MacWrite's pages and tops (LAID inserts)
};

struct FormatRun {
    int16_t position;
    int8_t size;
    uint8_t style;
    int16_t font;
};

// A field in a paragraph's text: it stands before character `index`.
struct FieldMark {
    size_t index;
    uint8_t kind;
};

// Converts one text paragraph holding `fields`; the input stands at its data.
void convert_text_paragraph(ImportContext &ctx, uint8_t data_flags, const std::vector<FieldSpot> &fields);

// Gives a paragraph's justification to the host: its own when `data_flags`
// say so, else the last ruler's.
void apply_justification(ImportContext &ctx, uint8_t data_flags);

// Converts one ruler; the input stands at its 34 bytes.
void convert_ruler(ImportContext &ctx);

// Where in a paragraph's text the pen of the last ruler puts each field.
std::vector<FieldMark> mark_fields(const ImportContext &ctx, const std::vector<uint8_t> &text,
                                   const std::vector<FormatRun> &runs, const std::vector<FieldSpot> &fields);

// Writes characters of one paragraph, applying its runs and writing its
// fields in their places.
void emit_paragraph_text(ImportContext &ctx, const std::vector<uint8_t> &text, const std::vector<FormatRun> &runs,
                         const std::vector<FieldMark> &fields = {});

// Writes fields with no text to stand in.
void put_fields(ImportContext &ctx, const std::vector<FieldSpot> &fields);

// Expands the nibble-compressed text of `count` characters from the input.
std::vector<uint8_t> expand_compressed_text(std::FILE *in, uint16_t count);

FormatRun decode_format_run(const uint8_t *bytes);

}  // namespace macwrite5
