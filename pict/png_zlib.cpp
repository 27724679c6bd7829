// PNG files for builds without libpng (the Windows cross build, which has
// zlib alone): one IDAT of the rows, unfiltered, deflated by zlib.  Readers
// see the same pixels as from libpng; the bytes differ.
#include <zlib.h>

#include "pict/png_layout.h"

namespace pict {

namespace {

void put32(std::string &out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void chunk(std::string &out, const char *type, const std::string &data) {
    put32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.append(type, 4);
    out += data;
    const auto *bytes = reinterpret_cast<const Bytef *>(out.data() + start);
    put32(out, static_cast<uint32_t>(crc32(0, bytes, static_cast<uInt>(out.size() - start))));
}

}  // namespace

std::string encode_png(const Image &image) {
    const size_t row = static_cast<size_t>(image.width) * 4;
    if (image.width <= 0 || image.height <= 0 || image.rgba.size() != row * static_cast<size_t>(image.height)) return {};
    const PngLayout layout = png_layout(image);
    std::string raw;
    raw.reserve((layout.row_bytes + 1) * static_cast<size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back('\0');  // filter: none
        raw.append(layout.rows, layout.row_bytes * static_cast<size_t>(y), layout.row_bytes);
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packed_size, '\0');
    if (compress2(reinterpret_cast<Bytef *>(packed.data()), &packed_size, reinterpret_cast<const Bytef *>(raw.data()),
                  static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packed_size);
    std::string header;
    put32(header, static_cast<uint32_t>(image.width));
    put32(header, static_cast<uint32_t>(image.height));
    header.push_back(static_cast<char>(layout.bit_depth));
    header.push_back(layout.indexed ? 3 : 6);       // palette or RGBA
    header += std::string("\x00\x00\x00", 3);     // deflate, no filter choice, no interlace
    std::string png("\x89PNG\r\n\x1a\n", 8);
    chunk(png, "IHDR", header);
    if (layout.indexed) {
        std::string colours, alphas;
        for (size_t i = 0; i < layout.palette.size(); ++i) {
            colours.append(reinterpret_cast<const char *>(layout.palette[i].data()), 3);
            if (i < layout.transparent_entries) alphas.push_back(static_cast<char>(layout.palette[i][3]));
        }
        chunk(png, "PLTE", colours);
        if (!alphas.empty()) chunk(png, "tRNS", alphas);
    }
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", "");
    return png;
}

}  // namespace pict
