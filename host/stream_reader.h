// The reader of the internal stream: applies the framing rule and turns the
// bytes into events.  Everything that reads a stream (the renderers, the
// export, the note pass) goes through it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/byte_io.h"
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

class Reader {
public:
    explicit Reader(std::FILE *in) : in_(in) {}
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
    long offset() const { return offset_; }

private:
    int get() {
        const int c = get_byte(in_);
        if (c != EOF) ++offset_;
        return c;
    }
    bool next_other(Event &ev, int c);
    bool read_tag(Event &ev);
    bool read_insert(Event &ev);
    std::FILE *in_;
    long offset_ = 0;
};

}  // namespace kavrel::stream
