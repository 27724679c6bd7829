// The reader of the internal stream: applies the framing rule and turns the
// bytes into events.  Everything that reads a stream (the renderers, the
// export, the note pass) goes through it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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
    bool next(Event &ev);
    long offset() const { return offset_; }

private:
    int get();
    bool read_tag(Event &ev);
    std::FILE *in_;
    long offset_ = 0;
};

}  // namespace kavrel::stream
