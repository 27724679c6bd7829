// The PICT reader's listener for cairo.  QuickDraw's pen hangs below and
// right of the path it follows and frames a shape inside its bounds; the
// paths here cover the same pixels, as the SVG writer's do.
#include "render/pdf_picture.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <numbers>
#include <string>

#include "pict/bands.h"
#include "pict/pict.h"
#include "render/pdf_fonts.h"

namespace render {

namespace {

using pict::Ink;
using pict::Point;
using pict::Rect;
using pict::Shape;
using pict::ShapeKind;
using pict::Verb;

void set_ink(cairo_t *cr, const Ink &ink) {
    cairo_set_source_rgba(cr, ink.colour.r / 255.0, ink.colour.g / 255.0, ink.colour.b / 255.0, ink.opacity);
    cairo_set_operator(cr, ink.inverts ? CAIRO_OPERATOR_DIFFERENCE : CAIRO_OPERATOR_OVER);
}

void rect_path(cairo_t *cr, double l, double t, double r, double b) { cairo_rectangle(cr, l, t, r - l, b - t); }

// The oval in `b`, shrunk by `inset`, as a path.
void oval_path(cairo_t *cr, const Rect &b, double inset) {
    const double rx = std::max(0.0, b.width() / 2.0 - inset), ry = std::max(0.0, b.height() / 2.0 - inset);
    if (rx <= 0 || ry <= 0) return;
    cairo_save(cr);
    cairo_translate(cr, (b.left + b.right) / 2.0, (b.top + b.bottom) / 2.0);
    cairo_scale(cr, rx, ry);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
    cairo_restore(cr);
}

class CairoPicture : public pict::Listener {
public:
    CairoPicture(cairo_t *cr, PangoContext *text) : cr_(cr), text_(text) {}

    void begin(const Rect &frame) override {
        frame_ = frame;
        cairo_rectangle(cr_, frame.left, frame.top, frame.width(), frame.height());
        cairo_clip(cr_);
    }

    void clip(const Rect &r) override {
        cairo_reset_clip(cr_);
        cairo_rectangle(cr_, frame_.left, frame_.top, frame_.width(), frame_.height());
        cairo_clip(cr_);
        cairo_rectangle(cr_, r.left, r.top, std::max(0, r.width()), std::max(0, r.height()));
        cairo_clip(cr_);
    }

    // The pen swept from one point to the other: the hull of its rectangle
    // at both ends.
    void line(Point a, Point b, Point pen, const Ink &ink) override {
        double x0 = a.h, y0 = a.v, x1 = b.h, y1 = b.v;
        const double pw = pen.h, ph = pen.v;
        if (x1 < x0 || (x1 == x0 && y1 < y0)) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        cairo_move_to(cr_, x0, y0);
        if (y1 >= y0) {
            cairo_line_to(cr_, x0 + pw, y0);
            cairo_line_to(cr_, x1 + pw, y1);
            cairo_line_to(cr_, x1 + pw, y1 + ph);
            cairo_line_to(cr_, x1, y1 + ph);
            cairo_line_to(cr_, x0, y0 + ph);
        } else {
            cairo_line_to(cr_, x1, y1);
            cairo_line_to(cr_, x1 + pw, y1);
            cairo_line_to(cr_, x1 + pw, y1 + ph);
            cairo_line_to(cr_, x0 + pw, y0 + ph);
            cairo_line_to(cr_, x0, y0 + ph);
        }
        cairo_close_path(cr_);
        fill(ink);
    }

    void shape(const Shape &s, Verb v, Point pen, const Ink &ink) override {
        if (s.kind != ShapeKind::Polygon && s.bounds.empty()) return;
        const double in = v == Verb::Frame ? (pen.h + pen.v) / 4.0 : 0;
        switch (s.kind) {
        case ShapeKind::Rect: return rect(s.bounds, v, pen, ink);
        case ShapeKind::RoundRect: round_rect(s, in); break;
        case ShapeKind::Oval: oval_path(cr_, s.bounds, in); break;
        case ShapeKind::Arc:
            if (!arc(s, v, in)) return;
            break;
        case ShapeKind::Polygon: return polygon(s, v, pen, ink);
        case ShapeKind::Region: return region(s, v, pen, ink);
        }
        v == Verb::Frame ? stroke(ink, 2 * in) : fill(ink);
    }

    void text(Point at, const std::string &utf8, const pict::TextStyle &st, const Ink &ink) override {
        PangoLayout *layout = pango_layout_new(text_);
        PangoFontDescription *font = pango_font_description_new();
        pango_font_description_set_family(font, std::string(pdf_family_of_number(st.font)).c_str());
        pango_font_description_set_size(font, (st.size > 0 ? st.size : 12) * PANGO_SCALE);
        if (st.face & 1) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
        if (st.face & 2) pango_font_description_set_style(font, PANGO_STYLE_ITALIC);
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
        pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
        set_ink(cr_, ink);
        cairo_move_to(cr_, at.h, at.v - pango_layout_get_baseline(layout) / double(PANGO_SCALE));
        pango_cairo_show_layout(cr_, layout);
        g_object_unref(layout);
    }

    void image(const pict::Image &img, const Rect &d) override {
        if (img.width <= 0 || img.height <= 0 || d.empty()) return;
        cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.width, img.height);
        unsigned char *px = cairo_image_surface_get_data(s);
        const int stride = cairo_image_surface_get_stride(s);
        for (int y = 0; y < img.height; ++y) {
            auto *row = reinterpret_cast<uint32_t *>(px + static_cast<size_t>(y) * stride);
            const uint8_t *src = img.rgba.data() + static_cast<size_t>(y) * img.width * 4;
            for (int x = 0; x < img.width; ++x, src += 4) {
                const uint32_t a = src[3];
                row[x] = a << 24 | (src[0] * a / 255) << 16 | (src[1] * a / 255) << 8 | (src[2] * a / 255);
            }
        }
        cairo_surface_mark_dirty(s);
        cairo_save(cr_);
        cairo_translate(cr_, d.left, d.top);
        cairo_scale(cr_, d.width() / double(img.width), d.height() / double(img.height));
        cairo_set_source_surface(cr_, s, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
        cairo_set_operator(cr_, img.inverts ? CAIRO_OPERATOR_DIFFERENCE : CAIRO_OPERATOR_OVER);
        cairo_paint(cr_);
        cairo_restore(cr_);
        cairo_surface_destroy(s);
    }

private:
    void fill(const Ink &ink) {
        set_ink(cr_, ink);
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill(cr_);
    }

    void stroke(const Ink &ink, double width) {
        set_ink(cr_, ink);
        cairo_set_line_width(cr_, width);
        cairo_stroke(cr_);
    }

    void rect(const Rect &b, Verb v, Point pen, const Ink &ink) {
        rect_path(cr_, b.left, b.top, b.right, b.bottom);
        if (v == Verb::Frame && b.width() > 2 * pen.h && b.height() > 2 * pen.v)
            rect_path(cr_, b.left + pen.h, b.top + pen.v, b.right - pen.h, b.bottom - pen.v);
        fill(ink);
    }

    void round_rect(const Shape &s, double in) {
        const Rect &b = s.bounds;
        const double rx = std::max(0.0, std::min(s.corner.h, b.width()) / 2.0 - in);
        const double ry = std::max(0.0, std::min(s.corner.v, b.height()) / 2.0 - in);
        const double l = b.left + in, t = b.top + in, r = b.right - in, btm = b.bottom - in;
        if (rx <= 0 || ry <= 0) return rect_path(cr_, l, t, r, btm);
        const double pi = std::numbers::pi;
        const auto corner = [&](double cx, double cy, double from) {
            cairo_save(cr_);
            cairo_translate(cr_, cx, cy);
            cairo_scale(cr_, rx, ry);
            cairo_arc(cr_, 0, 0, 1, from, from + pi / 2);
            cairo_restore(cr_);
        };
        cairo_new_sub_path(cr_);
        corner(r - rx, t + ry, -pi / 2);
        corner(r - rx, btm - ry, 0);
        corner(l + rx, btm - ry, pi / 2);
        corner(l + rx, t + ry, pi);
        cairo_close_path(cr_);
    }

    // QuickDraw's angles run clockwise from 12 o'clock, 45 degrees through
    // the bounds' corner: on the unit circle scaled to the oval, that is
    // cairo's angle less a quarter turn.
    bool arc(const Shape &s, Verb v, double in) {
        int start = s.start_angle, sweep = s.arc_angle;
        if (sweep < 0) {
            start += sweep;
            sweep = -sweep;
        }
        if (sweep == 0) return false;
        if (sweep >= 360) {
            oval_path(cr_, s.bounds, in);
            return true;
        }
        const Rect &b = s.bounds;
        const double rx = b.width() / 2.0 - in, ry = b.height() / 2.0 - in;
        if (rx <= 0 || ry <= 0) return false;
        const double a0 = (start - 90) * std::numbers::pi / 180, a1 = (start + sweep - 90) * std::numbers::pi / 180;
        cairo_save(cr_);
        cairo_translate(cr_, (b.left + b.right) / 2.0, (b.top + b.bottom) / 2.0);
        cairo_scale(cr_, rx, ry);
        if (v != Verb::Frame) cairo_move_to(cr_, 0, 0);
        cairo_arc(cr_, 0, 0, 1, a0, a1);
        if (v != Verb::Frame) cairo_close_path(cr_);
        cairo_restore(cr_);
        return true;
    }

    // A framed polygon is the pen swept along each edge.
    void polygon(const Shape &s, Verb v, Point pen, const Ink &ink) {
        if (s.points.size() < 2) return;
        if (v == Verb::Frame) {
            for (size_t i = 1; i < s.points.size(); ++i) line(s.points[i - 1], s.points[i], pen, ink);
            return;
        }
        cairo_move_to(cr_, s.points[0].h, s.points[0].v);
        for (size_t i = 1; i < s.points.size(); ++i) cairo_line_to(cr_, s.points[i].h, s.points[i].v);
        cairo_close_path(cr_);
        fill(ink);
    }

    void region(const Shape &s, Verb v, Point pen, const Ink &ink) {
        if (s.bands.empty()) return rect(s.bounds, v, pen, ink);
        if (v == Verb::Frame) {
            for (const Rect &r : s.bands) rect(r, v, pen, ink);
            return;
        }
        for (const Rect &r : s.bands) rect_path(cr_, r.left, r.top, r.right, r.bottom);
        set_ink(cr_, ink);
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
        cairo_fill(cr_);
    }

    cairo_t *cr_;
    PangoContext *text_;
    Rect frame_;
};

}  // namespace

void draw_picture(cairo_t *cr, const Picture &picture, double x, double y, double w, double h) {
    const auto *data = reinterpret_cast<const uint8_t *>(picture.pict.data());
    const Rect frame = pict::frame_of(data, picture.pict.size());
    if (frame.empty()) return;
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, w / frame.width(), h / frame.height());
    cairo_translate(cr, -frame.left, -frame.top);
    PangoContext *text = pango_font_map_create_context(pdf_font_map());
    pango_cairo_update_context(cr, text);
    pango_context_set_round_glyph_positions(text, FALSE);
    CairoPicture drawer(cr, text);
    pict::JoinedBands bands(drawer);
    pict::read(data, picture.pict.size(), bands);
    bands.flush();
    g_object_unref(text);
    cairo_restore(cr);
}

}  // namespace render
