// PNG files of decoded bitmaps, through libpng.
#include <png.h>

#include <vector>

#include "pict/png_layout.h"

namespace pict {

namespace {

void append(png_structp png, png_bytep data, png_size_t n) {
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), n);
}

void flush(png_structp) {}

// The palette as libpng takes it: colours, and the alphas of the entries
// with transparency.
struct Palette {
    std::vector<png_color> colours;
    std::vector<png_byte> alphas;
};

Palette palette_of(const PngLayout &layout) {
    Palette p;
    for (const auto &c : layout.palette) {
        p.colours.push_back({c[0], c[1], c[2]});
        if (p.alphas.size() < layout.transparent_entries) p.alphas.push_back(c[3]);
    }
    return p;
}

// libpng reports its errors by a long jump back here: this frame holds no
// object with a destructor, and nothing needs freeing but what
// png_destroy_write_struct frees.
bool write(const Image &image, const PngLayout &layout, const Palette &palette, std::string &out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, append, flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
                 layout.bit_depth, layout.indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout.indexed)
        png_set_PLTE(png, info, palette.colours.data(), static_cast<int>(palette.colours.size()));
    if (!palette.alphas.empty())
        png_set_tRNS(png, info, palette.alphas.data(), static_cast<int>(palette.alphas.size()), nullptr);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, reinterpret_cast<png_const_bytep>(layout.rows.data() + static_cast<size_t>(y) * layout.row_bytes));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::string encode_png(const Image &image) {
    std::string out;
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4)
        return {};
    const PngLayout layout = png_layout(image);
    if (!write(image, layout, palette_of(layout), out)) return {};
    return out;
}

}  // namespace pict
