#include "pict/png_layout.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace pict {

namespace {

uint32_t rgba_at(const Image &image, size_t pixel) {
    const uint8_t *p = image.rgba.data() + pixel * 4;
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The image's colours, or an empty table past 256 of them.
std::vector<uint32_t> colours_of(const Image &image) {
    std::vector<uint32_t> colours;
    std::unordered_set<uint32_t> seen;
    const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    for (size_t i = 0; i < pixels; ++i) {
        const uint32_t c = rgba_at(image, i);
        if ((i > 0 && c == rgba_at(image, i - 1)) || !seen.insert(c).second) continue;
        if (colours.size() == 256) return {};
        colours.push_back(c);
    }
    std::stable_partition(colours.begin(), colours.end(), [](uint32_t c) { return (c & 0xFF) != 0xFF; });
    return colours;
}

void indexed_rows(const Image &image, const std::vector<uint32_t> &colours, PngLayout &out) {
    std::unordered_map<uint32_t, uint8_t> index;
    for (size_t i = 0; i < colours.size(); ++i) {
        index.emplace(colours[i], static_cast<uint8_t>(i));
        out.palette.push_back({static_cast<uint8_t>(colours[i] >> 24), static_cast<uint8_t>(colours[i] >> 16),
                               static_cast<uint8_t>(colours[i] >> 8), static_cast<uint8_t>(colours[i])});
        if ((colours[i] & 0xFF) != 0xFF) out.transparent_entries = i + 1;
    }
    out.indexed = true;
    out.bit_depth = colours.size() <= 2 ? 1 : colours.size() <= 4 ? 2 : colours.size() <= 16 ? 4 : 8;
    const int per_byte = 8 / out.bit_depth;
    out.row_bytes = (static_cast<size_t>(image.width) + per_byte - 1) / per_byte;
    out.rows.assign(out.row_bytes * static_cast<size_t>(image.height), '\0');
    for (int y = 0; y < image.height; ++y) {
        char *row = out.rows.data() + out.row_bytes * static_cast<size_t>(y);
        uint32_t last = 0;
        unsigned i = 0;
        for (int x = 0; x < image.width; ++x) {
            const uint32_t c = rgba_at(image, static_cast<size_t>(y) * static_cast<size_t>(image.width) + x);
            if (x == 0 || c != last) i = index[c];
            last = c;
            const int shift = 8 - out.bit_depth * (x % per_byte + 1);
            row[x / per_byte] = static_cast<char>(static_cast<unsigned char>(row[x / per_byte]) | i << shift);
        }
    }
}

}  // namespace

PngLayout png_layout(const Image &image) {
    PngLayout out;
    const std::vector<uint32_t> colours = colours_of(image);
    if (!colours.empty()) {
        indexed_rows(image, colours, out);
        return out;
    }
    out.row_bytes = static_cast<size_t>(image.width) * 4;
    out.rows.assign(image.rgba.begin(), image.rgba.end());
    return out;
}

}  // namespace pict
