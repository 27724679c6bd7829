#include "pict/region.h"

#include <algorithm>

namespace pict {

namespace {

constexpr int16_t kStop = 0x7FFF;
constexpr size_t kMaxBands = 20000;

// Rectangles for the rows [top, bottom) between the columns of `cols`, taken
// in pairs.
void add_bands(const std::vector<int> &cols, int top, int bottom, std::vector<Rect> &bands) {
    for (size_t i = 0; i + 1 < cols.size(); i += 2) bands.push_back({top, cols[i], bottom, cols[i + 1]});
}

// The inversion points of the data, turned into rectangles; false when the
// data is malformed.
bool decode_bands(Cursor &d, const Rect &bounds, std::vector<Rect> &bands) {
    std::vector<int> cols, next, line;
    int prev = bounds.top;
    for (;;) {
        const int v = d.s16();
        if (d.failed()) return false;
        if (v == kStop) break;
        if (v < prev) return false;
        line.clear();
        for (int h = d.s16(); h != kStop; h = d.s16()) {
            if (d.failed()) return false;
            line.push_back(h);
        }
        std::sort(line.begin(), line.end());
        add_bands(cols, prev, v, bands);
        if (bands.size() > kMaxBands) return false;
        next.clear();
        std::set_symmetric_difference(cols.begin(), cols.end(), line.begin(), line.end(), std::back_inserter(next));
        cols.swap(next);
        prev = v;
    }
    return true;
}

}  // namespace

bool read_region(Cursor &c, Region &out) {
    const uint16_t size = c.u16();
    out.bounds = c.rect();
    out.bands.clear();
    if (c.failed() || size < 10 || size - 10u > c.left()) {
        c.skip(c.left() + 1);
        return false;
    }
    Cursor data(c.here(), size - 10u);
    if (size > 10 && !decode_bands(data, out.bounds, out.bands)) out.bands.clear();
    c.skip(size - 10u);
    return true;
}

}  // namespace pict
