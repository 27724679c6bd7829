// QuickDraw regions: a size word, the bounds, then for each scan line where
// the region changes its row number and the columns where inside and outside
// swap, each list ended by 0x7FFF.
#pragma once

#include <vector>

#include "pict/cursor.h"
#include "pict/pict.h"

namespace pict {

struct Region {
    Rect bounds;
    std::vector<Rect> bands;   // empty: the bounds themselves
};

// Reads a region; its scan lines become rectangles, or none when they are
// damaged or too many (the bounds then stand for the region).
bool read_region(Cursor &c, Region &out);

}  // namespace pict
