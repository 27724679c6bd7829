// A picture made of bitmaps alone, laid on white at its frame's size, as one
// PNG: formats that take no SVG can show such a picture exactly.
#include <algorithm>
#include <cstring>
#include <vector>

#include "pict/pict.h"

namespace pict {

namespace {

constexpr long kMaxCanvas = 4L << 20;   // pixels

class Canvas : public Listener {
public:
    Image canvas;
    bool bitmaps_only = true;

    void begin(const Rect &f) override {
        frame_ = f;
        if (static_cast<long>(f.width()) * f.height() > kMaxCanvas) {
            bitmaps_only = false;
            return;
        }
        canvas.width = f.width();
        canvas.height = f.height();
        canvas.rgba.assign(static_cast<size_t>(canvas.width) * static_cast<size_t>(canvas.height) * 4, 255);
    }
    void clip(const Rect &) override {}
    void line(Point, Point, Point, const Ink &) override { bitmaps_only = false; }
    // Erasing a rectangle to white, as pictures often start, keeps the
    // picture a bitmap one; any other shape does not.
    void shape(const Shape &s, Verb v, Point, const Ink &ink) override {
        if (s.kind != ShapeKind::Rect || v != Verb::Erase || !(ink.colour == Rgb{255, 255, 255})) bitmaps_only = false;
    }
    void text(Point, const std::string &, const TextStyle &, const Ink &) override { bitmaps_only = false; }

    // Nearest source pixel for each pixel of the destination within the
    // frame, laid over what is below as far as it is opaque: its colour, or
    // for an inverting image the inverse of what is below.
    void image(const Image &src, const Rect &d) override {
        if (!bitmaps_only || d.empty()) return;
        const int top = std::max(d.top, frame_.top), bottom = std::min(d.bottom, frame_.bottom);
        const int left = std::max(d.left, frame_.left), right = std::min(d.right, frame_.right);
        if (left >= right) return;
        // The source column of each canvas column, worked out once.
        std::vector<long> columns(static_cast<size_t>(right - left));
        for (int x = left; x < right; ++x) columns[static_cast<size_t>(x - left)] = static_cast<long>(x - d.left) * src.width / d.width();
        for (int y = top; y < bottom; ++y) {
            const long sy = static_cast<long>(y - d.top) * src.height / d.height();
            uint8_t *q = canvas.rgba.data() +
                         (static_cast<size_t>(y - frame_.top) * static_cast<size_t>(canvas.width) + static_cast<size_t>(left - frame_.left)) * 4;
            for (size_t i = 0; i < columns.size(); ++i, q += 4) {
                const uint8_t *p = src.rgba.data() + (sy * src.width + columns[i]) * 4;
                if (p[3] == 0) continue;
                if (p[3] == 255 && !src.inverts) {  // what the blend below gives for an opaque pixel
                    std::memcpy(q, p, 3);
                    continue;
                }
                for (int k = 0; k < 3; ++k) {
                    const int ink = src.inverts ? 255 - q[k] : p[k];
                    q[k] = static_cast<uint8_t>((ink * p[3] + q[k] * (255 - p[3]) + 127) / 255);
                }
            }
        }
    }

private:
    Rect frame_;
};

}  // namespace

std::string to_png(const uint8_t *data, size_t size) {
    Canvas c;
    const Result r = read(data, size, c);
    if (r.outcome == Outcome::NotAPicture || !c.bitmaps_only) return {};
    return encode_png(c.canvas);
}

}  // namespace pict
