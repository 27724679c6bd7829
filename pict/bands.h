// Applications copy a large bitmap into a picture as bands of rows, each
// band one opcode.  This listener joins bands that continue each other (the
// same columns, the next rows, the same mode, drawn one after the other)
// into one image before passing them on, so that an output holds one image
// where the picture holds many: smaller, and without seams when scaled.
#pragma once

#include <optional>

#include "pict/pict.h"

namespace pict {

class JoinedBands final : public Listener {
public:
    explicit JoinedBands(Listener &next) : next_(next) {}
    // Passes on the image held; call when the picture ends.
    void flush();

    void begin(const Rect &frame) override;
    void clip(const Rect &clip) override;
    void line(Point from, Point to, Point pen, const Ink &ink) override;
    void shape(const Shape &shape, Verb verb, Point pen, const Ink &ink) override;
    void text(Point at, const std::string &utf8, const TextStyle &style, const Ink &ink) override;
    void image(const Image &image, const Rect &dest) override;

private:
    Listener &next_;
    std::optional<Image> held_;
    Rect dest_;
};

}  // namespace pict
