// The bitmap opcodes of a picture: bit maps, colour pixel maps and direct
// pixel maps, packed or not, decoded into RGBA.
#pragma once

#include "pict/cursor.h"
#include "pict/pict.h"

namespace pict {

struct Bitmap {
    Image image;   // the source rectangle's pixels
    Rect dest;
    int mode = 0;  // transfer mode
};

// Reads the body of BitsRect, BitsRgn, PackBitsRect, PackBitsRgn (`packed`
// when the opcode packs its rows) or, with `direct`, DirectBitsRect and
// DirectBitsRgn (`with_mask` for the region forms).  `fg` and `bg` colour a
// one-bit map.  False when the body is damaged; the cursor then has failed or
// stands past what could be read.
bool read_bitmap(Cursor &c, bool packed, bool direct, bool with_mask, Rgb fg, Rgb bg, Bitmap &out);

// Reads a colour pattern (PnPixPat, FillPixPat, BkPixPat) and gives the
// colour it averages to.
bool read_pixel_pattern(Cursor &c, Rgb fg, Rgb bg, Rgb &colour);

// Expands PackBits data of `units` of `unit` bytes from `src` (of `n` bytes).
void unpack_bits(const uint8_t *src, size_t n, int unit, std::vector<uint8_t> &out, size_t want);

}  // namespace pict
