// The reader of the internal stream: applies the framing rule and turns the
// bytes into events.  Everything that reads a stream (the renderers, the
// export, the note pass) goes through it.
#pragma once

#include <cstdint>
#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "host/stream_codes.h"

namespace kavrel::stream {

enum class EventKind {
    Char,          // ch: a Unicode code point of the BMP (set << 8 | code)
    ParagraphEnd,
    LineEnd,       // stands in place of a space
    Tab,
    PageBreak,
    Tag,           // code, param[0..count)
    Insert,        // insert body in `insert`
    End
};

struct Event {
    EventKind kind = EventKind::End;
    uint16_t ch = 0;
    uint8_t code = 0;      // a Char's origin: 0 plain byte, 0x20 other set, 0x5C backslash
    uint8_t param[2] = {0, 0};
    int param_count = 0;
    long offset = 0;       // position of the event's first byte
    std::string insert;
};

// Reads the stream ahead in blocks of its own: the stream is the reader's
// until it is done with, and its position then says nothing of where the
// reader stopped (offset() does).
class Reader {
public:
    explicit Reader(std::FILE *in) : in_(in) {}
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // Fills `ev` with the next event; false (and kind End) at the end of the
    // stream.  A tag cut short by the end of the stream is dropped.
    bool next(Event &ev) {
        ev.offset = offset_;
        ev.param_count = 0;
        const int c = get();
        // Most bytes are characters of the base set: they take this path.
        if (c > code::kParagraphEnd && c != code::kEscape) {
            ev.kind = EventKind::Char;
            ev.code = 0;
            ev.ch = static_cast<uint16_t>(c);
            return true;
        }
        return next_other(ev, c);
    }

    // The characters of the base set that come next, as long as they are
    // plain bytes (from 0x20, neither the tag opener nor DEL): a run of them,
    // empty when the next byte is not one, and valid until the next call.
    // What stops it is left for next().  Text is mostly such runs, and a run
    // costs far less than an event a character.
    std::span<const uint8_t> plain_run() {
        if (pos_ == end_ && !fill()) return {};
        const uint8_t *const data = buffer_.get();  // in locals, the loop keeps them at hand
        const size_t from = pos_, end = end_;
        size_t at = from;
        while (at < end && kPlain[data[at]]) ++at;
        pos_ = at;
        offset_ += static_cast<long>(at - from);
        return {data + from, at - from};
    }

    long offset() const { return offset_; }

private:
    static constexpr size_t kBlock = 64 * 1024;

    static constexpr auto kPlain = [] {
        std::array<bool, 256> plain{};
        for (int c = 0x20; c < 256; ++c) plain[c] = c != code::kEscape && c != 0x7F;
        return plain;
    }();

    int get() {
        if (pos_ == end_ && !fill()) return EOF;
        ++offset_;
        return buffer_[pos_++];
    }
    bool fill();
    bool next_other(Event &ev, int c);
    bool read_tag(Event &ev);
    bool read_insert(Event &ev);

    std::FILE *in_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t pos_ = 0, end_ = 0;
    long offset_ = 0;
};

}  // namespace kavrel::stream
