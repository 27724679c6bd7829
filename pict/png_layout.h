// How a PNG file stores an image's pixels.  QuickDraw's bitmaps have two
// colours and its pixel maps at most 256, so nearly every image is stored
// indexed by a palette at the fewest bits that hold its colours (1, 2, 4 or
// 8): a screen shot is a 32nd of its size as RGBA, before compression.  An
// image of more colours is stored as RGBA.  Both PNG writers share this.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pict/pict.h"

namespace pict {

struct PngLayout {
    bool indexed = false;
    int bit_depth = 8;
    // RGBA entries; those with transparency first, so that the alphas
    // listed (transparent_entries of them) end where opaque entries start.
    std::vector<std::array<uint8_t, 4>> palette;
    size_t transparent_entries = 0;
    size_t row_bytes = 0;
    std::string rows;  // row_bytes a row, from the top, without filter bytes
};

PngLayout png_layout(const Image &image);

}  // namespace pict
