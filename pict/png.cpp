// PNG files of decoded bitmaps, through libpng.
#include <png.h>

#include "pict/pict.h"

namespace pict {

namespace {

void append(png_structp png, png_bytep data, png_size_t n) {
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), n);
}

void flush(png_structp) {}

// libpng reports its errors by a long jump back here; nothing in this frame
// needs destroying but what png_destroy_write_struct frees.
bool write(const Image &image, std::string &out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, append, flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, const_cast<png_bytep>(image.rgba.data() + static_cast<size_t>(y) * image.width * 4));
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
    if (!write(image, out)) return {};
    return out;
}

}  // namespace pict
