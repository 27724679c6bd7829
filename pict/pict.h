// QuickDraw pictures (PICT, versions 1 and 2): a reader that plays a
// picture's opcodes into a listener, in the picture's own coordinates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pict {

struct Point {
    int v = 0, h = 0;
};

struct Rect {
    int top = 0, left = 0, bottom = 0, right = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
};

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb &) const = default;
};

// What a drawing operation lays down: a colour, and the share of the area it
// covers (a grey pattern drawn transparently covers only its set bits).  Ink
// that inverts (the xor modes, inverting a shape) is white and inverts what
// lies below where it covers.
struct Ink {
    Rgb colour;
    double opacity = 1.0;
    bool inverts = false;
};

// The five ways QuickDraw draws a shape.
enum class Verb { Frame, Paint, Erase, Invert, Fill };

enum class ShapeKind { Rect, RoundRect, Oval, Arc, Polygon, Region };

struct Shape {
    ShapeKind kind = ShapeKind::Rect;
    Rect bounds;
    Point corner;                  // RoundRect: the corner oval's height (v) and width (h)
    int start_angle = 0, arc_angle = 0;  // Arc: degrees clockwise from 12 o'clock
    std::vector<Point> points;     // Polygon
    std::vector<Rect> bands;       // Region: the rectangles it is made of; empty draws `bounds`
};

struct TextStyle {
    int font = 0;                  // Macintosh font number
    std::string font_name;         // from the picture, when it names it
    int size = 12;                 // points; 0 means the system size
    uint8_t face = 0;              // 1 bold, 2 italic, 4 underline, 8 outline, 16 shadow, 32 condense, 64 extend
};

// A decoded bitmap, 8-bit RGBA, row by row from the top, as its transfer
// mode lays it down: what the mode leaves as it is is transparent; an image
// that `inverts` (the xor modes) is white where it inverts what lies below.
struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    bool inverts = false;
};

class Listener {
public:
    virtual ~Listener() = default;
    // The picture's frame, before anything else.
    virtual void begin(const Rect &frame) = 0;
    // Later drawing is limited to `clip` (a rectangle: the clip region's bounds).
    virtual void clip(const Rect &clip) = 0;
    // A line drawn with a `pen` of that size hanging below and right of the path.
    virtual void line(Point from, Point to, Point pen, const Ink &ink) = 0;
    // Framing draws the outline inside the shape with the pen's size.
    virtual void shape(const Shape &shape, Verb verb, Point pen, const Ink &ink) = 0;
    // Text on the baseline at `at`, in UTF-8.
    virtual void text(Point at, const std::string &utf8, const TextStyle &style, const Ink &ink) = 0;
    virtual void image(const Image &image, const Rect &dest) = 0;
};

enum class Outcome {
    Complete,        // the end opcode was reached
    UnknownOpcode,   // an opcode of no documented length: drawing stopped there
    Truncated,       // the data ended, or a length ran past it
    NotAPicture      // too short, or no sensible frame
};

struct Result {
    Outcome outcome = Outcome::NotAPicture;
    int version = 0;
    Rect frame;
    size_t opcodes = 0;      // opcodes played
};

// Plays a picture (its bytes start with the 16-bit size word; no 512-byte
// file header) into `listener`.  Never reads outside `data`.
Result read(const uint8_t *data, size_t size, Listener &listener);

// The picture's frame, or an empty one when `data` is no picture.
Rect frame_of(const uint8_t *data, size_t size);

// SVG of a picture, sized to its frame; an empty string when it is none,
// which is exactly when frame_of gives an empty frame.
std::string to_svg(const uint8_t *data, size_t size);

// A PNG of the picture at its frame's size when it is made of bitmaps alone
// (a screen shot); empty when it draws anything else, or is no picture.
std::string to_png(const uint8_t *data, size_t size);

// A PNG file of an image.
std::string encode_png(const Image &image);

// The bytes of a PICT file on disk: 512 zero bytes, then the picture.
std::string to_pict_file(const uint8_t *data, size_t size);

}  // namespace pict
