// SVG of a picture.  The SVG's user space is the picture's own, one unit a
// point, and its view box is the frame, so nothing drawn leaves the frame.
// QuickDraw's pen hangs below and right of the path it follows and frames a
// shape inside its bounds; the shapes here are laid out so that the ink
// covers the same pixels.
#include <cmath>
#include <cstdio>
#include <numbers>

#include "pict/bands.h"
#include "mactext/fonts.h"

namespace pict {

namespace {

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    std::string s = buf;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string hex(Rgb c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
    return buf;
}

void escape_xml(std::string &out, const std::string &text) {
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out.push_back(ch);
        }
    }
}

std::string base64(const std::string &bytes) {
    static const char *abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        for (int k = 18; k >= 0; k -= 6) out.push_back(abc[v >> k & 63]);
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out.push_back(abc[v >> 18 & 63]);
        out.push_back(abc[v >> 12 & 63]);
        out.push_back(i + 1 < bytes.size() ? abc[v >> 6 & 63] : '=');
        out.push_back('=');
    }
    return out;
}

// The family a picture names, or the one of its font number (the
// application font, Geneva, for a number the font table does not know).
std::string css_family(const TextStyle &st) {
    const mactext::FontFace *face = mactext::font_face(st.font);
    if (face == nullptr) face = mactext::font_face(1);
    const bool named = !st.font_name.empty() && st.font_name != face->family;
    std::string css = "'";
    css += named ? st.font_name : std::string(face->family);
    css += "', ";
    css += named ? "sans-serif" : mactext::generic_name(face->generic);
    return css;
}

std::string rect_path(double l, double t, double r, double b) {
    std::string d = "M";
    d += num(l) + " " + num(t) + "H" + num(r) + "V" + num(b) + "H" + num(l) + "Z";
    return d;
}

// The point of the oval in `b` at a QuickDraw angle (degrees clockwise from
// 12 o'clock, 45 degrees passing through the corner of the bounds).
void arc_point(const Rect &b, double inset, int angle, double &x, double &y) {
    const double a = angle * std::numbers::pi / 180.0;
    x = (b.left + b.right) / 2.0 + (b.width() / 2.0 - inset) * std::sin(a);
    y = (b.top + b.bottom) / 2.0 - (b.height() / 2.0 - inset) * std::cos(a);
}

class SvgWriter : public Listener {
public:
    std::string svg;

    void begin(const Rect &f) override {
        frame_ = f;
        svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + std::to_string(f.width()) +
              "\" height=\"" + std::to_string(f.height()) + "\" viewBox=\"" + std::to_string(f.left) + " " +
              std::to_string(f.top) + " " + std::to_string(f.width()) + " " + std::to_string(f.height()) + "\">\n";
        head_ = svg.size();
    }

    // A nested viewport clips without naming anything, so several pictures
    // can share one HTML page.
    void clip(const Rect &r) override {
        if (clipped_) svg += "</svg>\n";
        clipped_ = !(r.top <= frame_.top && r.left <= frame_.left && r.bottom >= frame_.bottom && r.right >= frame_.right);
        if (!clipped_) return;
        const int w = std::max(0, r.width()), h = std::max(0, r.height());
        svg += "<svg x=\"" + std::to_string(r.left) + "\" y=\"" + std::to_string(r.top) + "\" width=\"" + std::to_string(w) +
               "\" height=\"" + std::to_string(h) + "\" viewBox=\"" + std::to_string(r.left) + " " + std::to_string(r.top) +
               " " + std::to_string(w) + " " + std::to_string(h) + "\" overflow=\"hidden\">\n";
    }

    // The pen swept from one point to the other: the hull of its rectangle
    // at both ends.
    void line(Point a, Point b, Point pen, const Ink &ink) override {
        const double pw = pen.h, ph = pen.v;
        double x0 = a.h, y0 = a.v, x1 = b.h, y1 = b.v;
        if (x1 < x0 || (x1 == x0 && y1 < y0)) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        std::string d;
        if (y1 >= y0)   // down and right: the hull leaves out top right and bottom left
            d = "M" + num(x0) + " " + num(y0) + "H" + num(x0 + pw) + "L" + num(x1 + pw) + " " + num(y1) + "V" +
                num(y1 + ph) + "H" + num(x1) + "L" + num(x0) + " " + num(y0 + ph) + "Z";
        else            // up and right
            d = "M" + num(x0) + " " + num(y0) + "L" + num(x1) + " " + num(y1) + "H" + num(x1 + pw) + "V" + num(y1 + ph) +
                "L" + num(x0 + pw) + " " + num(y0 + ph) + "H" + num(x0) + "Z";
        svg += "<path d=\"" + d + "\"" + fill_attr(ink) + "/>\n";
    }

    void shape(const Shape &s, Verb v, Point pen, const Ink &ink) override {
        const Rect &b = s.bounds;
        if (s.kind != ShapeKind::Polygon && b.empty()) return;
        switch (s.kind) {
        case ShapeKind::Rect: return rect(b, v, pen, ink);
        case ShapeKind::RoundRect: return round_rect(s, v, pen, ink);
        case ShapeKind::Oval: return oval(b, v, pen, ink);
        case ShapeKind::Arc: return arc(s, v, pen, ink);
        case ShapeKind::Polygon: return polygon(s, v, pen, ink);
        case ShapeKind::Region: return region(s, v, pen, ink);
        }
    }

    void text(Point at, const std::string &utf8, const TextStyle &st, const Ink &ink) override {
        const int size = st.size > 0 ? st.size : 12;
        svg += "<text x=\"" + std::to_string(at.h) + "\" y=\"" + std::to_string(at.v) + "\" font-family=\"";
        escape_xml(svg, css_family(st));
        svg += "\" font-size=\"" + std::to_string(size) + "\"";
        if (st.face & 1) svg += " font-weight=\"bold\"";
        if (st.face & 2) svg += " font-style=\"italic\"";
        if (st.face & 4) svg += " text-decoration=\"underline\"";
        if ((st.face & 96) == 32) svg += " letter-spacing=\"-0.5\"";   // condensed
        if ((st.face & 96) == 64) svg += " letter-spacing=\"0.5\"";    // extended
        svg += st.face & 8 ? stroke_attr(ink, 0.5) : fill_attr(ink);
        svg += " xml:space=\"preserve\">";
        escape_xml(svg, utf8);
        svg += "</text>\n";
    }

    void image(const Image &img, const Rect &d) override {
        const std::string png = encode_png(img);
        if (png.empty()) return;
        inverts_ = inverts_ || img.inverts;
        svg += "<image x=\"" + std::to_string(d.left) + "\" y=\"" + std::to_string(d.top) + "\" width=\"" +
               std::to_string(d.width()) + "\" height=\"" + std::to_string(d.height()) +
               "\" preserveAspectRatio=\"none\" style=\"" + (img.inverts ? "mix-blend-mode:difference;" : "") +
               "image-rendering:pixelated\" href=\"data:image/png;base64," +
               base64(png) + "\"/>\n";
    }

    // Ink that inverts blends by difference with what lies below, so the
    // picture gets a white page of its own to invert, as QuickDraw's was.
    void finish() {
        if (clipped_) svg += "</svg>\n";
        svg += "</svg>\n";
        if (inverts_)
            svg.insert(head_, "<rect x=\"" + std::to_string(frame_.left) + "\" y=\"" + std::to_string(frame_.top) +
                                  "\" width=\"" + std::to_string(frame_.width()) + "\" height=\"" +
                                  std::to_string(frame_.height()) + "\" fill=\"#ffffff\"/>\n");
    }

private:
    // Attributes that paint an area with `ink`.
    std::string fill_attr(const Ink &ink) {
        std::string a = " fill=\"" + hex(ink.colour) + "\"";
        if (ink.opacity < 1.0) a += " fill-opacity=\"" + num(ink.opacity) + "\"";
        return a + blend_attr(ink.inverts);
    }

    std::string stroke_attr(const Ink &ink, double width) {
        std::string a = " fill=\"none\" stroke=\"" + hex(ink.colour) + "\" stroke-width=\"" + num(width) + "\"";
        if (ink.opacity < 1.0) a += " stroke-opacity=\"" + num(ink.opacity) + "\"";
        return a + blend_attr(ink.inverts);
    }

    std::string blend_attr(bool inverts) {
        if (!inverts) return {};
        inverts_ = true;
        return " style=\"mix-blend-mode:difference\"";
    }

    void rect(const Rect &b, Verb v, Point pen, const Ink &ink) {
        if (v == Verb::Frame) {
            std::string d = rect_path(b.left, b.top, b.right, b.bottom);
            if (b.width() > 2 * pen.h && b.height() > 2 * pen.v)
                d += rect_path(b.left + pen.h, b.top + pen.v, b.right - pen.h, b.bottom - pen.v);
            svg += "<path d=\"" + d + "\" fill-rule=\"evenodd\"" + fill_attr(ink) + "/>\n";
            return;
        }
        svg += "<rect x=\"" + std::to_string(b.left) + "\" y=\"" + std::to_string(b.top) + "\" width=\"" +
               std::to_string(b.width()) + "\" height=\"" + std::to_string(b.height()) + "\"" + fill_attr(ink) + "/>\n";
    }

    // A framed outline is stroked half a pen inside the bounds, so the whole
    // stroke lies within them.
    void round_rect(const Shape &s, Verb v, Point pen, const Ink &ink) {
        const Rect &b = s.bounds;
        const double in = v == Verb::Frame ? (pen.h + pen.v) / 4.0 : 0;
        const double rx = std::max(0.0, std::min(s.corner.h, b.width()) / 2.0 - in);
        const double ry = std::max(0.0, std::min(s.corner.v, b.height()) / 2.0 - in);
        svg += "<rect x=\"" + num(b.left + in) + "\" y=\"" + num(b.top + in) + "\" width=\"" + num(b.width() - 2 * in) +
               "\" height=\"" + num(b.height() - 2 * in) + "\" rx=\"" + num(rx) + "\" ry=\"" + num(ry) + "\"" +
               (v == Verb::Frame ? stroke_attr(ink, 2 * in) : fill_attr(ink)) + "/>\n";
    }

    void oval(const Rect &b, Verb v, Point pen, const Ink &ink) {
        const double in = v == Verb::Frame ? (pen.h + pen.v) / 4.0 : 0;
        svg += "<ellipse cx=\"" + num((b.left + b.right) / 2.0) + "\" cy=\"" + num((b.top + b.bottom) / 2.0) + "\" rx=\"" +
               num(std::max(0.0, b.width() / 2.0 - in)) + "\" ry=\"" + num(std::max(0.0, b.height() / 2.0 - in)) + "\"" +
               (v == Verb::Frame ? stroke_attr(ink, 2 * in) : fill_attr(ink)) + "/>\n";
    }

    void arc(const Shape &s, Verb v, Point pen, const Ink &ink) {
        const Rect &b = s.bounds;
        int start = s.start_angle, sweep = s.arc_angle;
        if (sweep < 0) {
            start += sweep;
            sweep = -sweep;
        }
        if (sweep >= 360) return oval(b, v, pen, ink);
        if (sweep == 0) return;
        const double in = v == Verb::Frame ? (pen.h + pen.v) / 4.0 : 0;
        double x0, y0, x1, y1;
        arc_point(b, in, start, x0, y0);
        arc_point(b, in, start + sweep, x1, y1);
        std::string a = "A";
        a += num(b.width() / 2.0 - in) + " " + num(b.height() / 2.0 - in) + (sweep > 180 ? " 0 1 1 " : " 0 0 1 ") +
             num(x1) + " " + num(y1);
        if (v == Verb::Frame) {
            svg += "<path d=\"M" + num(x0) + " " + num(y0) + a + "\"" + stroke_attr(ink, 2 * in) + "/>\n";
            return;
        }
        svg += "<path d=\"M" + num((b.left + b.right) / 2.0) + " " + num((b.top + b.bottom) / 2.0) + "L" + num(x0) + " " +
               num(y0) + a + "Z\"" + fill_attr(ink) + "/>\n";
    }

    // A framed polygon is the pen swept along each edge.
    void polygon(const Shape &s, Verb v, Point pen, const Ink &ink) {
        if (s.points.size() < 2) return;
        if (v == Verb::Frame) {
            for (size_t i = 1; i < s.points.size(); ++i) line(s.points[i - 1], s.points[i], pen, ink);
            return;
        }
        std::string d;
        for (const Point &p : s.points) {
            d += d.empty() ? 'M' : 'L';
            d += std::to_string(p.h) + " " + std::to_string(p.v);
        }
        svg += "<path d=\"" + d + "Z\" fill-rule=\"evenodd\"" + fill_attr(ink) + "/>\n";
    }

    void region(const Shape &s, Verb v, Point pen, const Ink &ink) {
        if (s.bands.empty()) return rect(s.bounds, v, pen, ink);
        if (v == Verb::Frame) {
            for (const Rect &r : s.bands) rect(r, v, pen, ink);
            return;
        }
        std::string d;
        for (const Rect &r : s.bands) d += rect_path(r.left, r.top, r.right, r.bottom);
        svg += "<path d=\"" + d + "\"" + fill_attr(ink) + "/>\n";
    }

    Rect frame_;
    size_t head_ = 0;        // where the drawing starts, after the opening tag
    bool clipped_ = false;
    bool inverts_ = false;
};

}  // namespace

std::string to_svg(const uint8_t *data, size_t size) {
    SvgWriter w;
    JoinedBands bands(w);
    const Result r = read(data, size, bands);
    if (r.outcome == Outcome::NotAPicture) return {};
    bands.flush();
    w.finish();
    return w.svg;
}

}  // namespace pict
