// Working state of one MacWrite 4.6/5 import, owned by the call.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/conversion.h"

namespace macwrite5 {

struct ImportContext : kavrel::ImportState {
    int8_t ruler_justification = 0;
    std::array<uint8_t, 512> header{};
};

struct FormatRun {
    int16_t position;
    int8_t size;
    uint8_t style;
    int16_t font;
};

// Converts one text paragraph; the input stands at its data.
void convert_text_paragraph(ImportContext &ctx, uint8_t data_flags);

// Converts one ruler; the input stands at its 34 bytes.
void convert_ruler(ImportContext &ctx);

// Writes characters of one paragraph, applying its runs; exposed for tests.
void emit_paragraph_text(ImportContext &ctx, const std::vector<uint8_t> &text, const std::vector<FormatRun> &runs);

// Expands the nibble-compressed text of `count` characters from the input.
std::vector<uint8_t> expand_compressed_text(std::FILE *in, uint16_t count);

FormatRun decode_format_run(const uint8_t *bytes);

}  // namespace macwrite5
