#include "pict/bands.h"

namespace pict {

namespace {

// A joined image is held whole until it is written: past this many pixels
// (a crafted picture can continue a band for tens of thousands of rows) the
// next band starts an image of its own.
constexpr size_t kMaxJoinedPixels = 4u << 20;

// Drawn at its own size: one pixel a point.
bool unscaled(const Image &image, const Rect &dest) {
    return image.width == dest.width() && image.height == dest.height();
}

}  // namespace

void JoinedBands::flush() {
    if (held_) next_.image(*held_, dest_);
    held_.reset();
}

void JoinedBands::begin(const Rect &frame) {
    flush();
    next_.begin(frame);
}

void JoinedBands::clip(const Rect &clip) {
    flush();
    next_.clip(clip);
}

void JoinedBands::line(Point from, Point to, Point pen, const Ink &ink) {
    flush();
    next_.line(from, to, pen, ink);
}

void JoinedBands::shape(const Shape &shape, Verb verb, Point pen, const Ink &ink) {
    flush();
    next_.shape(shape, verb, pen, ink);
}

void JoinedBands::text(Point at, const std::string &utf8, const TextStyle &style, const Ink &ink) {
    flush();
    next_.text(at, utf8, style, ink);
}

void JoinedBands::image(const Image &image, const Rect &dest) {
    const bool continues = held_ && unscaled(*held_, dest_) && unscaled(image, dest) && dest.left == dest_.left &&
                           dest.right == dest_.right && dest.top == dest_.bottom && image.inverts == held_->inverts &&
                           (held_->rgba.size() + image.rgba.size()) / 4 <= kMaxJoinedPixels;
    if (!continues) {
        flush();
        held_ = image;
        dest_ = dest;
        return;
    }
    held_->rgba.insert(held_->rgba.end(), image.rgba.begin(), image.rgba.end());
    held_->height += image.height;
    dest_.bottom = dest.bottom;
}

}  // namespace pict
