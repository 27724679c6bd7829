// The page and the line heights of a MacWrite 4.6/5 or 2.2 document: the
// print record gives the paper and the printable page, the document's
// settings the first page's number, and each area's line-height array the
// heights of every paragraph's lines as MacWrite laid them out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/kavrel.h"

namespace macwrite5 {

inline constexpr int kPrintRecordSize = 120;
inline constexpr int kTwipsPerPoint = 20;

// The page the print record describes: the paper, and the printable page on
// it as the margins.  A record whose rectangles do not make sense (no paper
// around the page, resolutions out of reason) gives a US Letter sheet with
// the printable page centred on it when that fits, one-inch margins when not.
KavrelPage page_of_print_record(const uint8_t *record);

// The width of the printable page, in twips: where a ruler's positions end.
int32_t printable_width(const KavrelPage &page);

// The line-height array of an area, `length` bytes at the input's position:
// for each paragraph, a 16-bit count and that many bytes, padded to an even
// length.  Gives, for each paragraph in order, the heights of its lines in
// points (expand_line_codes); none for a paragraph without lines (a ruler, a
// picture) or beyond what the array holds.
std::vector<std::vector<uint8_t>> read_line_heights(std::FILE *in, long length, size_t paragraphs);

// One paragraph's line codes: a byte below 0x80 is a line of that height in
// points; one from 0x80 says that the last height holds for (byte & 0x7F)
// lines in all.  Gives the height of each line.
std::vector<uint8_t> expand_line_codes(const std::vector<uint8_t> &codes);

// Whether some paragraph of such an array has more than one line.
bool has_several_lines(std::FILE *in, long length);

// The mean height of a paragraph's lines in twips, from its codes; 0 without
// lines.
int32_t mean_line_height(const std::vector<uint8_t> &codes);

}  // namespace macwrite5
