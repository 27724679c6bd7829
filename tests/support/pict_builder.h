// Builds QuickDraw pictures opcode by opcode, for tests and fuzz seeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class PictBuilder {
public:
    // A picture of `version` 1 or 2 with its frame (top, left, bottom, right).
    PictBuilder(int version, int top, int left, int bottom, int right) : version_(version) {
        u16(0);
        rect(top, left, bottom, right);
        if (version == 2) {
            u16(0x0011).u16(0x02FF);
            op(0x0C00).u16(0xFFFE).u16(0).u32(0x00480000).u32(0x00480000);  // header: resolution
            rect(top, left, bottom, right).u32(0);
        } else {
            u8(0x11).u8(0x01);
        }
    }

    // An opcode: a byte in version 1, an even-aligned word in version 2.
    PictBuilder &op(uint16_t code) {
        if (version_ == 2) {
            if (bytes_.size() % 2) bytes_.push_back(0);
            return u16(code);
        }
        return u8(static_cast<uint8_t>(code));
    }
    PictBuilder &u8(uint8_t v) {
        bytes_.push_back(static_cast<char>(v));
        return *this;
    }
    PictBuilder &u16(uint16_t v) { return u8(static_cast<uint8_t>(v >> 8)).u8(static_cast<uint8_t>(v)); }
    PictBuilder &u32(uint32_t v) { return u16(static_cast<uint16_t>(v >> 16)).u16(static_cast<uint16_t>(v)); }
    PictBuilder &point(int v, int h) { return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(h)); }
    PictBuilder &rect(int t, int l, int b, int r) { return point(t, l).point(b, r); }
    PictBuilder &raw(const std::string &s) {
        bytes_ += s;
        return *this;
    }

    PictBuilder &rect_op(uint16_t code, int t, int l, int b, int r) { return op(code).rect(t, l, b, r); }
    PictBuilder &pen_size(int v, int h) { return op(0x07).point(v, h); }
    PictBuilder &pattern(uint16_t code, uint8_t row) {
        op(code);
        for (int i = 0; i < 8; ++i) u8(row);
        return *this;
    }
    PictBuilder &long_text(int v, int h, const std::string &text) {
        op(0x28).point(v, h).u8(static_cast<uint8_t>(text.size()));
        return raw(text);
    }
    // A region from its scan-line data (row, columns..., 0x7FFF, ..., 0x7FFF).
    PictBuilder &region(int t, int l, int b, int r, const std::vector<int16_t> &data) {
        u16(static_cast<uint16_t>(10 + 2 * data.size())).rect(t, l, b, r);
        for (int16_t w : data) u16(static_cast<uint16_t>(w));
        return *this;
    }
    // A one-bit bit map of `rows` (each of row_bytes bytes) at `dest`; PackBits
    // rows (as literal runs) when `packed` and row_bytes is 8 or more.
    PictBuilder &bits(bool packed, int row_bytes, int width, const std::vector<std::string> &rows, int dt, int dl,
                      int mode = 0) {
        const int h = static_cast<int>(rows.size());
        op(packed ? 0x98 : 0x90).u16(static_cast<uint16_t>(row_bytes)).rect(0, 0, h, width);
        rect(0, 0, h, width).rect(dt, dl, dt + h, dl + width).u16(static_cast<uint16_t>(mode));
        for (const std::string &row : rows) {
            if (packed && row_bytes >= 8) u8(static_cast<uint8_t>(row.size() + 1)).u8(static_cast<uint8_t>(row.size() - 1));
            raw(row);
        }
        return *this;
    }
    // An 8-bit pixel map with a colour table, unpacked rows (row bytes below 8).
    PictBuilder &pixmap8(const std::vector<std::string> &rows, int width, const std::vector<uint32_t> &colours,
                         int dt, int dl, int mode = 0) {
        const int h = static_cast<int>(rows.size());
        op(0x90).u16(static_cast<uint16_t>(0x8000 | rows[0].size())).rect(0, 0, h, width);
        u16(0).u16(0).u32(0).u32(0x00480000).u32(0x00480000).u16(0).u16(8).u16(1).u16(8).u32(0).u32(0).u32(0);
        u32(0).u16(0).u16(static_cast<uint16_t>(colours.size() - 1));
        for (size_t i = 0; i < colours.size(); ++i)
            u16(static_cast<uint16_t>(i)).u16(static_cast<uint16_t>((colours[i] >> 16 & 0xFF) * 257))
                .u16(static_cast<uint16_t>((colours[i] >> 8 & 0xFF) * 257)).u16(static_cast<uint16_t>((colours[i] & 0xFF) * 257));
        rect(0, 0, h, width).rect(dt, dl, dt + h, dl + width).u16(static_cast<uint16_t>(mode));
        for (const std::string &row : rows) raw(row);
        return *this;
    }
    // A 32-bit direct pixel map, rows packed by component (red, green, blue
    // planes), each plane written as one literal run.  `pixels` holds 0xRRGGBB.
    PictBuilder &direct32(const std::vector<std::vector<uint32_t>> &pixels, int dt, int dl) {
        const int h = static_cast<int>(pixels.size()), w = static_cast<int>(pixels[0].size());
        op(0x9A).u32(0xFF).u16(static_cast<uint16_t>(0x8000 | (4 * w))).rect(0, 0, h, w);
        u16(0).u16(4).u32(0).u32(0x00480000).u32(0x00480000).u16(16).u16(32).u16(3).u16(8).u32(0).u32(0).u32(0);
        rect(0, 0, h, w).rect(dt, dl, dt + h, dl + w).u16(0);
        for (const auto &row : pixels) {
            std::string packed;
            for (int shift : {16, 8, 0}) {
                packed.push_back(static_cast<char>(w - 1));
                for (uint32_t p : row) packed.push_back(static_cast<char>(p >> shift & 0xFF));
            }
            if (4 * w > 250) u16(static_cast<uint16_t>(packed.size())); else u8(static_cast<uint8_t>(packed.size()));
            raw(packed);
        }
        return *this;
    }

    // The picture with its end opcode and size word.
    std::string build() const {
        PictBuilder copy = *this;
        copy.op(0x00FF);
        copy.bytes_[0] = static_cast<char>(copy.bytes_.size() >> 8);
        copy.bytes_[1] = static_cast<char>(copy.bytes_.size());
        return copy.bytes_;
    }
    // The bytes so far, without an end.
    const std::string &bytes() const { return bytes_; }

private:
    int version_;
    std::string bytes_;
};

}  // namespace testing_support
