// A bounds-checked reader of a picture's big-endian bytes.  A read past the
// end yields zeros and marks the cursor failed, so a damaged picture can be
// played on to its first short read and then stopped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pict/pict.h"

namespace pict {

class Cursor {
public:
    Cursor(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    size_t pos() const { return pos_; }
    size_t left() const { return failed_ ? 0 : size_ - pos_; }
    bool failed() const { return failed_; }
    const uint8_t *here() const { return data_ + pos_; }

    bool skip(size_t n) {
        if (failed_ || n > size_ - pos_) return fail();
        pos_ += n;
        return true;
    }
    uint8_t u8() {
        if (failed_ || pos_ >= size_) return fail(), 0;
        return data_[pos_++];
    }
    int8_t s8() { return static_cast<int8_t>(u8()); }
    uint16_t u16() {
        const uint16_t hi = u8();
        return static_cast<uint16_t>(hi << 8 | u8());
    }
    int16_t s16() { return static_cast<int16_t>(u16()); }
    uint32_t u32() {
        const uint32_t hi = u16();
        return hi << 16 | u16();
    }
    Point point() {
        Point p;
        p.v = s16();
        p.h = s16();
        return p;
    }
    Rect rect() {
        Rect r;
        r.top = s16();
        r.left = s16();
        r.bottom = s16();
        r.right = s16();
        return r;
    }
    // Version 2 pictures keep every opcode on an even offset.
    void align() {
        if (pos_ % 2 != 0) skip(1);
    }

private:
    bool fail() {
        failed_ = true;
        return false;
    }
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    bool failed_ = false;
};

}  // namespace pict
