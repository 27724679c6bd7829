// Plays a QuickDraw picture: keeps the drawing state the opcodes change and
// hands every drawing to the listener.  Version 1 pictures have byte
// opcodes; version 2 pictures have word opcodes on even offsets.
#include <algorithm>
#include <array>

#include "host/kavrel.h"
#include "pict/bitmap.h"
#include "pict/cursor.h"
#include "pict/pict.h"
#include "pict/region.h"
#include "mactext/utf8.h"

namespace pict {

namespace {

constexpr uint16_t kEnd = 0x00FF;
constexpr uint16_t kVersionOp = 0x0011;
constexpr size_t kPictHead = 10;    // size word and frame

using Pattern = std::array<uint8_t, 8>;

constexpr Pattern kBlack = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr Pattern kWhite = {};

int coverage(const Pattern &p) {
    int n = 0;
    for (uint8_t b : p) n += __builtin_popcount(b);
    return n;
}

Rgb mix(Rgb fg, Rgb bg, int set) {
    auto m = [set](uint8_t f, uint8_t b) { return static_cast<uint8_t>((f * set + b * (64 - set)) / 64); };
    return {m(fg.r, bg.r), m(fg.g, bg.g), m(fg.b, bg.b)};
}

// The eight colours of the first colour QuickDraw, by their numbers.
Rgb old_colour(uint32_t n) {
    switch (n) {
    case 30: return {255, 255, 255};
    case 69: return {252, 243, 5};
    case 137: return {242, 8, 132};
    case 205: return {221, 8, 6};
    case 273: return {2, 171, 234};
    case 341: return {0, 128, 17};
    case 409: return {0, 0, 212};
    default: return {0, 0, 0};
    }
}

struct Pen {
    Point loc;
    Point size{1, 1};
    Pattern pattern = kBlack;
    Rgb colour{};          // a colour pattern's average, when `colour_pattern`
    bool colour_pattern = false;
    int mode = 8;          // patCopy
};

struct State {
    Pen pen;
    Pattern fill = kBlack, back = kWhite;
    Rgb fill_colour{}, back_colour{255, 255, 255};
    bool fill_colour_pattern = false, back_colour_pattern = false;
    Rgb fg{}, bg{255, 255, 255};
    Point oval{0, 0};
    Point origin{0, 0};
    Point text_loc;
    TextStyle text;
    std::vector<std::pair<int, std::string>> font_names;
    Shape last[6];         // the "same" opcodes redraw these, by shape kind
};

class Player {
public:
    Player(const uint8_t *data, size_t size, Listener &l) : c_(data, size), l_(l) {}

    Result run();

private:
    bool step(uint16_t op);
    bool state_op(uint16_t op);
    bool text_op(uint16_t op);
    bool line_op(uint16_t op);
    bool shape_op(uint16_t op);
    bool bitmap_op(uint16_t op);
    bool skip_op(uint16_t op);

    Point at(Point p) const { return {p.v - s_.origin.v, p.h - s_.origin.h}; }
    Rect at(Rect r) const {
        return {r.top - s_.origin.v, r.left - s_.origin.h, r.bottom - s_.origin.v, r.right - s_.origin.h};
    }
    Ink pattern_ink(const Pattern &p, Rgb solid, bool colour_pattern, int mode) const;
    Ink verb_ink(Verb v) const;
    void draw_text(const std::string &bytes);
    bool skip_counted16() { return c_.skip(c_.u16()); }

    Cursor c_;
    Listener &l_;
    State s_;
    int version_ = 1;
};

Ink Player::pattern_ink(const Pattern &p, Rgb solid, bool colour_pattern, int mode) const {
    if (colour_pattern) return {solid, 1.0};
    int set = coverage(p);
    const int m = mode & 7;
    if (m >= 4) set = 64 - set;   // the "not" modes draw the pattern inverted
    switch (m & 3) {
    case 0: return {mix(s_.fg, s_.bg, set), 1.0};
    case 1: return {s_.fg, set / 64.0};                      // or: only the set bits draw
    case 2: return {{255, 255, 255}, set / 64.0, true};      // xor: the set bits invert
    default: return {s_.bg, set / 64.0};                     // bit clear: set bits paint the background
    }
}

Ink Player::verb_ink(Verb v) const {
    switch (v) {
    case Verb::Frame:
    case Verb::Paint: return pattern_ink(s_.pen.pattern, s_.pen.colour, s_.pen.colour_pattern, s_.pen.mode);
    case Verb::Erase: return pattern_ink(s_.back, s_.back_colour, s_.back_colour_pattern, 8);
    case Verb::Fill: return pattern_ink(s_.fill, s_.fill_colour, s_.fill_colour_pattern, 8);
    case Verb::Invert: break;
    }
    return {{255, 255, 255}, 1.0, true};
}

Result Player::run() {
    Result r;
    if (c_.left() < kPictHead + 1) return r;
    c_.skip(2);
    r.frame = c_.rect();
    if (r.frame.empty()) return r;
    if (c_.left() >= 4 && c_.here()[0] == 0x00 && c_.here()[1] == 0x11 && c_.here()[2] == 0x02 && c_.here()[3] == 0xFF) {
        version_ = 2;
        c_.skip(4);
    }
    r.version = version_;
    l_.begin(r.frame);
    l_.clip(r.frame);
    for (;;) {
        if (version_ == 2) c_.align();
        if (c_.left() == 0) {
            r.outcome = Outcome::Truncated;
            break;
        }
        const uint16_t op = version_ == 2 ? c_.u16() : c_.u8();
        if (c_.failed()) {
            r.outcome = Outcome::Truncated;
            break;
        }
        if (op == kEnd) {
            r.outcome = Outcome::Complete;
            break;
        }
        if (!step(op)) {
            r.outcome = c_.failed() ? Outcome::Truncated : Outcome::UnknownOpcode;
            break;
        }
        ++r.opcodes;
    }
    return r;
}

bool Player::step(uint16_t op) {
    if (op <= 0x1F) return state_op(op);
    if (op <= 0x23) return line_op(op);
    if ((op >= 0x28 && op <= 0x2B) || (op == 0x2C && version_ == 2)) return text_op(op);
    if (op >= 0x30 && op <= 0x8F) return shape_op(op);
    if ((op >= 0x90 && op <= 0x91) || (op >= 0x98 && op <= 0x9B)) return bitmap_op(op);
    return skip_op(op);
}

bool Player::state_op(uint16_t op) {
    switch (op) {
    case 0x00: return true;
    case 0x01: {  // clip region
        Region rgn;
        if (!read_region(c_, rgn)) return false;
        l_.clip(at(rgn.bounds));
        return true;
    }
    case 0x02: for (auto &b : s_.back) b = c_.u8(); s_.back_colour_pattern = false; break;
    case 0x03: s_.text.font = c_.s16(); break;
    case 0x04: s_.text.face = c_.u8(); break;
    case 0x05: c_.skip(2); break;  // text mode
    case 0x06: c_.skip(4); break;  // space extra
    case 0x07: s_.pen.size = c_.point(); break;
    case 0x08: s_.pen.mode = c_.s16(); break;
    case 0x09: for (auto &b : s_.pen.pattern) b = c_.u8(); s_.pen.colour_pattern = false; break;
    case 0x0A: for (auto &b : s_.fill) b = c_.u8(); s_.fill_colour_pattern = false; break;
    case 0x0B: s_.oval = c_.point(); break;
    case 0x0C: {
        const int dh = c_.s16(), dv = c_.s16();
        s_.origin.h += dh;
        s_.origin.v += dv;
        break;
    }
    case 0x0D: s_.text.size = c_.s16(); break;
    case 0x0E: s_.fg = old_colour(c_.u32()); break;
    case 0x0F: s_.bg = old_colour(c_.u32()); break;
    case 0x10: c_.skip(8); break;  // text ratio
    case 0x11: c_.skip(version_ == 2 ? 2 : 1); break;
    case 0x12: s_.back_colour_pattern = read_pixel_pattern(c_, s_.fg, s_.bg, s_.back_colour); break;
    case 0x13: s_.pen.colour_pattern = read_pixel_pattern(c_, s_.fg, s_.bg, s_.pen.colour); break;
    case 0x14: s_.fill_colour_pattern = read_pixel_pattern(c_, s_.fg, s_.bg, s_.fill_colour); break;
    case 0x15: case 0x16: c_.skip(2); break;
    case 0x17: case 0x18: case 0x19: case 0x1C: case 0x1E: break;
    case 0x1A: case 0x1B: {
        Rgb rgb;
        rgb.r = static_cast<uint8_t>(c_.u16() >> 8);
        rgb.g = static_cast<uint8_t>(c_.u16() >> 8);
        rgb.b = static_cast<uint8_t>(c_.u16() >> 8);
        (op == 0x1A ? s_.fg : s_.bg) = rgb;
        break;
    }
    default: c_.skip(6); break;  // highlight and operand colours
    }
    return !c_.failed();
}

bool Player::line_op(uint16_t op) {
    Point from = s_.pen.loc, to;
    switch (op) {
    case 0x20: from = c_.point(); to = c_.point(); break;
    case 0x21: to = c_.point(); break;
    case 0x22: {
        from = c_.point();
        const int dh = c_.s8(), dv = c_.s8();
        to = {from.v + dv, from.h + dh};
        break;
    }
    default: {
        const int dh = c_.s8(), dv = c_.s8();
        to = {from.v + dv, from.h + dh};
        break;
    }
    }
    if (c_.failed()) return false;
    s_.pen.loc = to;
    if (s_.pen.size.h > 0 && s_.pen.size.v > 0) l_.line(at(from), at(to), s_.pen.size, verb_ink(Verb::Paint));
    return true;
}

// UTF-8 of Macintosh text; control characters, which SVG cannot carry, are dropped.
std::string utf8_of(const std::string &bytes, const uint16_t *table) {
    std::string utf8;
    for (unsigned char b : bytes) {
        const uint16_t cp = table[b];
        if (cp >= 0x20 && cp != 0x7F) mactext::append_utf8(utf8, cp);
    }
    return utf8;
}

void Player::draw_text(const std::string &bytes) {
    const uint16_t *table = s_.text.font == 23 ? SYMBOL2INT : s_.text.font == 13 ? DINGBATS2INT : MAC2INT;
    const std::string utf8 = utf8_of(bytes, table);
    TextStyle style = s_.text;
    for (const auto &[id, name] : s_.font_names)
        if (id == style.font) style.font_name = name;
    if (!utf8.empty()) l_.text(at(s_.text_loc), utf8, style, {s_.fg, 1.0});
}

bool Player::text_op(uint16_t op) {
    if (op == 0x2C) {  // font name: length, font number, name
        const uint16_t length = c_.u16();
        const size_t end = c_.pos() + length;
        const int id = c_.s16();
        const uint8_t n = c_.u8();
        std::string name;
        for (int i = 0; i < n && c_.pos() < end; ++i) name.push_back(static_cast<char>(c_.u8()));
        if (c_.failed() || c_.pos() > end) return false;
        c_.skip(end - c_.pos());
        s_.font_names.emplace_back(id, utf8_of(name, MAC2INT));
        return !c_.failed();
    }
    switch (op) {
    case 0x28: s_.text_loc = c_.point(); break;
    case 0x29: s_.text_loc.h += c_.u8(); break;
    case 0x2A: s_.text_loc.v += c_.u8(); break;
    default:
        s_.text_loc.h += c_.u8();
        s_.text_loc.v += c_.u8();
        break;
    }
    const uint8_t n = c_.u8();
    if (c_.failed() || n > c_.left()) return false;
    const std::string bytes(reinterpret_cast<const char *>(c_.here()), n);
    c_.skip(n);
    draw_text(bytes);
    return true;
}

bool Player::shape_op(uint16_t op) {
    const int family = (op - 0x30) >> 4;          // rect, rrect, oval, arc, poly, region
    const bool same = (op & 0x08) != 0;
    const int verb = op & 0x07;
    Shape &shape = s_.last[family];
    shape.kind = static_cast<ShapeKind>(family);
    if (!same) {
        switch (shape.kind) {
        case ShapeKind::Polygon: {
            const uint16_t size = c_.u16();
            if (size < 10 || size - 2u > c_.left()) {
                c_.skip(c_.left() + 1);
                return false;
            }
            shape.bounds = c_.rect();
            shape.points.clear();
            for (int i = 0; i < (size - 10) / 4; ++i) shape.points.push_back(c_.point());
            c_.skip((size - 10) % 4);
            break;
        }
        case ShapeKind::Region: {
            Region rgn;
            if (!read_region(c_, rgn)) return false;
            shape.bounds = rgn.bounds;
            shape.bands = std::move(rgn.bands);
            break;
        }
        default: shape.bounds = c_.rect(); break;
        }
    }
    if (shape.kind == ShapeKind::Arc) {
        shape.start_angle = c_.s16();
        shape.arc_angle = c_.s16();
    }
    if (c_.failed()) return false;
    if (verb > 4) return true;  // reserved verbs draw nothing
    shape.corner = s_.oval;
    Shape drawn = shape;
    drawn.bounds = at(shape.bounds);
    for (Point &p : drawn.points) p = at(p);
    for (Rect &r : drawn.bands) r = at(r);
    const Verb v = static_cast<Verb>(verb);
    if (v == Verb::Frame && (s_.pen.size.h <= 0 || s_.pen.size.v <= 0)) return true;
    l_.shape(drawn, v, s_.pen.size, verb_ink(v));
    return true;
}

bool Player::bitmap_op(uint16_t op) {
    const bool direct = op >= 0x9A;
    const bool packed = op >= 0x98;
    const bool mask = (op & 1) != 0;
    Bitmap bm;
    if (!read_bitmap(c_, packed, direct, mask, s_.fg, s_.bg, bm)) {
        c_.skip(c_.left() + 1);  // the rest cannot be found again
        return false;
    }
    if (bm.image.width > 0 && bm.image.height > 0) l_.image(bm.image, at(bm.dest));
    return true;
}

// Opcodes that draw nothing here, skipped by their documented lengths.
// Version 1 pictures know only the opcodes QuickDraw had then; any other ends
// the drawing.
bool Player::skip_op(uint16_t op) {
    if (version_ == 1 && !(op == 0xA0 || op == 0xA1)) return false;
    if (op == 0xA0) return c_.skip(2);
    if (op == 0xA1) {
        c_.skip(2);
        return skip_counted16();
    }
    if ((op >= 0x24 && op <= 0x2F) || (op >= 0x92 && op <= 0xAF)) return skip_counted16();
    if (op >= 0xB0 && op <= 0xCF) return true;
    if ((op >= 0xD0 && op <= 0xFE) || op >= 0x8100) return c_.skip(c_.u32());
    if (op >= 0x0100 && op <= 0x7FFF) return c_.skip(static_cast<size_t>(op >> 8) * 2);
    return true;  // 0x8000-0x80FF carry nothing
}

}  // namespace

Result read(const uint8_t *data, size_t size, Listener &listener) {
    Player player(data, size, listener);
    return player.run();
}

Rect frame_of(const uint8_t *data, size_t size) {
    if (size < kPictHead + 1) return {};
    Cursor c(data, size);
    c.skip(2);
    const Rect r = c.rect();
    return r.empty() ? Rect{} : r;
}

std::string to_pict_file(const uint8_t *data, size_t size) {
    std::string file(512, '\0');
    file.append(reinterpret_cast<const char *>(data), size);
    return file;
}

}  // namespace pict
