// Bit maps and pixel maps of a picture.  Row bytes of eight or more are
// packed row by row (a byte count, then PackBits); sizes are checked against
// what is left of the picture before anything is allocated.
#include <algorithm>
#include <array>
#include <cstring>

#include "pict/bitmap.h"

namespace pict {

namespace {

// Pictures larger than this are damaged or not worth a page.
constexpr long kMaxPixels = 2L << 20;
constexpr int kMaxSide = 8192;

struct MapHeader {
    int row_bytes = 0;
    bool pixmap = false;
    Rect bounds;
    int pack_type = 0;
    int pixel_size = 1;
    int cmp_count = 1;
};

using Palette = std::array<Rgb, 256>;

bool read_map_header(Cursor &c, MapHeader &m) {
    const uint16_t rb = c.u16();
    m.pixmap = (rb & 0x8000) != 0;
    m.row_bytes = rb & 0x3FFF;
    m.bounds = c.rect();
    if (m.pixmap) {
        c.skip(2);                       // version
        m.pack_type = c.u16();
        c.skip(4 + 8);                   // pack size, resolutions
        c.skip(2);                       // pixel type
        m.pixel_size = c.u16();
        m.cmp_count = c.u16();
        c.skip(2 + 4 + 4 + 4);           // component size, plane bytes, table, reserved
    }
    const long w = m.bounds.width(), h = m.bounds.height();
    if (c.failed() || m.bounds.empty() || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) return false;
    switch (m.pixel_size) {
    case 1: case 2: case 4: case 8: case 16: case 32: break;
    default: return false;
    }
    return m.row_bytes > 0;
}

// A colour table: seed, flags, count - 1, then value and red, green, blue.
bool read_palette(Cursor &c, Palette &p) {
    c.skip(4);
    const uint16_t flags = c.u16();
    const int count = c.s16() + 1;
    if (count < 0 || static_cast<size_t>(count) * 8 > c.left()) return false;
    for (int i = 0; i < count; ++i) {
        const uint16_t value = c.u16();
        Rgb rgb;
        rgb.r = static_cast<uint8_t>(c.u16() >> 8);
        rgb.g = static_cast<uint8_t>(c.u16() >> 8);
        rgb.b = static_cast<uint8_t>(c.u16() >> 8);
        const int index = (flags & 0x8000) ? i : value;
        if (index >= 0 && index < 256) p[static_cast<size_t>(index)] = rgb;
    }
    return !c.failed();
}

// Bytes of one unpacked row, and the PackBits unit, by how the map stores them.
struct RowShape {
    size_t bytes;
    int unit;
    bool packed;
    int direct_stride = 4;   // bytes of an unplanar 32-bit pixel: 4, or 3 without its pad
};

RowShape row_shape(const MapHeader &m, bool packed_opcode) {
    const size_t w = static_cast<size_t>(m.bounds.width());
    if (m.pixel_size == 32 && m.pack_type == 2) return {w * 3, 1, false, 3};
    if (!packed_opcode || m.row_bytes < 8 || m.pack_type == 1) return {static_cast<size_t>(m.row_bytes), 1, false};
    if (m.pixel_size == 32) return {w * static_cast<size_t>(std::clamp(m.cmp_count, 3, 4)), 1, true};
    return {static_cast<size_t>(m.row_bytes), m.pixel_size == 16 ? 2 : 1, true};
}

// Bytes a row needs to hold the bounds' width.
size_t row_needs(const MapHeader &m, const RowShape &shape) {
    const size_t w = static_cast<size_t>(m.bounds.width());
    if (m.pixel_size == 32) return shape.packed ? shape.bytes : w * static_cast<size_t>(shape.direct_stride);
    return (w * static_cast<size_t>(m.pixel_size) + 7) / 8;
}

bool read_rows(Cursor &c, const MapHeader &m, bool packed_opcode, std::vector<uint8_t> &rows, RowShape &shape) {
    shape = row_shape(m, packed_opcode);
    // Rows far wider than the bounds need are damage, not padding.
    const size_t needs = row_needs(m, shape);
    if (shape.bytes < needs || shape.bytes > 2 * needs + 16) return false;
    const size_t height = static_cast<size_t>(m.bounds.height());
    if (!shape.packed) {
        if (shape.bytes * height > c.left()) return false;
        rows.assign(c.here(), c.here() + shape.bytes * height);
        c.skip(shape.bytes * height);
        return true;
    }
    if (height > c.left()) return false;   // every packed row has its count
    rows.clear();
    std::vector<uint8_t> row;
    for (size_t y = 0; y < height; ++y) {
        const size_t n = m.row_bytes > 250 ? c.u16() : c.u8();
        if (c.failed() || n > c.left()) return false;
        unpack_bits(c.here(), n, shape.unit, row, shape.bytes);
        c.skip(n);
        rows.insert(rows.end(), row.begin(), row.end());
    }
    return true;
}

Rgb pixel(const MapHeader &m, const RowShape &shape, const uint8_t *row, int x, const Palette &palette) {
    switch (m.pixel_size) {
    case 16: {
        const unsigned v = static_cast<unsigned>(row[2 * x]) << 8 | row[2 * x + 1];
        auto five = [](unsigned f) { return static_cast<uint8_t>(f << 3 | f >> 2); };
        return {five(v >> 10 & 31), five(v >> 5 & 31), five(v & 31)};
    }
    case 32: {
        if (shape.packed) {  // planes: [alpha,] red, green, blue
            const size_t w = shape.bytes / static_cast<size_t>(std::clamp(m.cmp_count, 3, 4));
            const uint8_t *p = row + (m.cmp_count >= 4 ? w : 0) + x;
            return {p[0], p[w], p[2 * w]};
        }
        const uint8_t *p = row + shape.direct_stride * x + (shape.direct_stride == 4 ? 1 : 0);
        return {p[0], p[1], p[2]};
    }
    default: {
        const int bits = m.pixel_size;
        const int per_byte = 8 / bits;
        const uint8_t byte = row[x / per_byte];
        const int shift = 8 - bits * (x % per_byte + 1);
        return palette[(byte >> shift) & ((1 << bits) - 1)];
    }
    }
}

// A transfer mode: the copy modes lay the source down; the others lay one
// ink where the source is black (a one-bit map's set bits; a pixel as far as
// it is dark), or in their "not" forms where it is white: the foreground
// (or), the background (bic), or an inversion of what lies below (xor).
// What they leave as it is stays transparent.
enum class Op : uint8_t { Copy, Or, Xor, Bic };

struct Transfer {
    Op op = Op::Copy;
    bool negated = false;
    Rgb fg{}, bg{255, 255, 255};
};

constexpr int kDitherFlag = 64;

Transfer transfer_of(int mode, Rgb fg, Rgb bg) {
    mode &= ~kDitherFlag;
    if (mode >= 16) return {Op::Copy, false, fg, bg};   // the arithmetic modes: drawn as copies
    return {static_cast<Op>(mode & 3), (mode & 4) != 0, fg, bg};
}

// How black a pixel of a pixel map is, 0 to 255, by its luminance.
int darkness(Rgb c) { return 255 - (c.r * 299 + c.g * 587 + c.b * 114) / 1000; }

Rgb inverse(Rgb c) {
    return {static_cast<uint8_t>(255 - c.r), static_cast<uint8_t>(255 - c.g), static_cast<uint8_t>(255 - c.b)};
}

// One source pixel as the mode lays it down; `dark` is how black it is.  A
// one-bit map copied "not" swaps its two colours; a pixel map is inverted.
void lay(const Transfer &t, Rgb source, int dark, bool one_bit, uint8_t *out) {
    Rgb ink = source;
    int cover = t.negated ? 255 - dark : dark;
    switch (t.op) {
    case Op::Copy:
        if (t.negated) ink = one_bit ? (dark ? t.bg : t.fg) : inverse(source);
        cover = 255;
        break;
    case Op::Or: ink = t.fg; break;
    case Op::Xor: ink = {255, 255, 255}; break;
    case Op::Bic: ink = t.bg; break;
    }
    out[0] = ink.r;
    out[1] = ink.g;
    out[2] = ink.b;
    out[3] = static_cast<uint8_t>(cover);
}

// What each of an indexed map's (up to 256) pixel values lays down: worked
// out once for the map rather than once a pixel.
std::vector<std::array<uint8_t, 4>> laid_values(const MapHeader &m, const Palette &palette, const Transfer &t) {
    const bool one_bit = !m.pixmap;
    std::vector<std::array<uint8_t, 4>> laid(size_t{1} << m.pixel_size);
    for (size_t i = 0; i < laid.size(); ++i)
        lay(t, palette[i], one_bit ? static_cast<int>(i) * 255 : darkness(palette[i]), one_bit, laid[i].data());
    return laid;
}

// The source rectangle's pixels as the transfer mode lays them down.
void decode(const MapHeader &m, const RowShape &shape, const std::vector<uint8_t> &rows, const Palette &palette,
            const Rect &src, const Transfer &t, Image &out) {
    const Rect &b = m.bounds;
    const int left = std::clamp(src.left, b.left, b.right), right = std::clamp(src.right, b.left, b.right);
    const int top = std::clamp(src.top, b.top, b.bottom), bottom = std::clamp(src.bottom, b.top, b.bottom);
    out.width = std::max(0, right - left);
    out.height = std::max(0, bottom - top);
    out.rgba.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 4, 0);
    out.inverts = t.op == Op::Xor;
    const bool one_bit = !m.pixmap;
    size_t o = 0;
    if (m.pixel_size <= 8) {
        const auto laid = laid_values(m, palette, t);
        const int bits = m.pixel_size, per_byte = 8 / bits, mask = (1 << bits) - 1;
        for (int y = top; y < bottom; ++y) {
            const uint8_t *row = rows.data() + static_cast<size_t>(y - b.top) * shape.bytes;
            for (int i = left - b.left; i < right - b.left; ++i, o += 4) {
                const int value = row[i / per_byte] >> (8 - bits * (i % per_byte + 1)) & mask;
                std::memcpy(out.rgba.data() + o, laid[static_cast<size_t>(value)].data(), 4);
            }
        }
        return;
    }
    for (int y = top; y < bottom; ++y) {
        const uint8_t *row = rows.data() + static_cast<size_t>(y - b.top) * shape.bytes;
        for (int x = left; x < right; ++x, o += 4) {
            const int i = x - b.left;
            const Rgb c = pixel(m, shape, row, i, palette);
            const int dark = one_bit ? (row[i / 8] >> (7 - i % 8) & 1) * 255 : darkness(c);
            lay(t, c, dark, one_bit, out.rgba.data() + o);
        }
    }
}

}  // namespace

void unpack_bits(const uint8_t *src, size_t n, int unit, std::vector<uint8_t> &out, size_t want) {
    out.clear();
    size_t i = 0;
    while (i < n && out.size() < want) {
        const int flag = static_cast<int8_t>(src[i++]);
        if (flag >= 0) {
            const size_t len = static_cast<size_t>(flag + 1) * static_cast<size_t>(unit);
            const size_t take = std::min(len, n - i);
            out.insert(out.end(), src + i, src + i + take);
            i += take;
        } else if (flag != -128) {
            if (n - i < static_cast<size_t>(unit)) break;
            for (int k = 0; k < 1 - flag; ++k) out.insert(out.end(), src + i, src + i + unit);
            i += static_cast<size_t>(unit);
        }
    }
    out.resize(want, 0);
}

bool read_bitmap(Cursor &c, bool packed, bool direct, bool with_mask, Rgb fg, Rgb bg, Bitmap &out) {
    if (direct) c.skip(4);  // base address
    MapHeader m;
    if (!read_map_header(c, m)) return false;
    Palette palette{};
    palette[0] = bg;
    palette[1] = fg;
    if (m.pixmap && m.pixel_size <= 8 && !read_palette(c, palette)) return false;
    const Rect src = c.rect();
    out.dest = c.rect();
    out.mode = c.u16();
    if (with_mask) {
        const uint16_t size = c.u16();
        if (size < 2 || !c.skip(size - 2u)) return false;
    }
    std::vector<uint8_t> rows;
    RowShape shape{};
    if (c.failed() || !read_rows(c, m, packed, rows, shape)) return false;
    decode(m, shape, rows, palette, src, transfer_of(out.mode, fg, bg), out.image);
    return true;
}

bool read_pixel_pattern(Cursor &c, Rgb fg, Rgb bg, Rgb &colour) {
    const uint16_t type = c.u16();
    uint8_t bits[8];
    int set = 0;
    for (uint8_t &b : bits) {
        b = c.u8();
        set += __builtin_popcount(b);
    }
    auto mix = [&](uint8_t f, uint8_t k) { return static_cast<uint8_t>((f * set + k * (64 - set)) / 64); };
    colour = {mix(fg.r, bg.r), mix(fg.g, bg.g), mix(fg.b, bg.b)};
    if (type == 2) {  // dithered: the colour it stands for follows
        colour.r = static_cast<uint8_t>(c.u16() >> 8);
        colour.g = static_cast<uint8_t>(c.u16() >> 8);
        colour.b = static_cast<uint8_t>(c.u16() >> 8);
        return !c.failed();
    }
    if (type != 1) return !c.failed();
    MapHeader m;
    if (!read_map_header(c, m)) return false;
    Palette palette{};
    if (m.pixel_size <= 8 && !read_palette(c, palette)) return false;
    std::vector<uint8_t> rows;
    RowShape shape{};
    if (!read_rows(c, m, true, rows, shape)) return false;
    Image image;
    decode(m, shape, rows, palette, m.bounds, Transfer{}, image);
    unsigned long sum[3] = {0, 0, 0};
    const size_t n = image.rgba.size() / 4;
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) sum[k] += image.rgba[4 * i + static_cast<size_t>(k)];
    if (n > 0) colour = {static_cast<uint8_t>(sum[0] / n), static_cast<uint8_t>(sum[1] / n), static_cast<uint8_t>(sum[2] / n)};
    return true;
}

}  // namespace pict
