#include "host/stream_reader.h"

#include "host/stream_codes.h"

namespace kavrel::stream {

// Insert bodies are kept in memory; a length beyond this is a damaged stream,
// and the reader skips the body rather than holding it.
static constexpr uint32_t kMaxInsertKept = 1u << 20;

bool Reader::next_other(Event &ev, int c) {
    switch (c) {
    case EOF: ev.kind = EventKind::End; return false;
    case code::kParagraphEnd: ev.kind = EventKind::ParagraphEnd; return true;
    case code::kLineEnd: ev.kind = EventKind::LineEnd; return true;
    case code::kTab: ev.kind = EventKind::Tab; return true;
    case code::kPageBreak: ev.kind = EventKind::PageBreak; return true;
    case code::kEscape: return read_tag(ev);
    default:
        ev.kind = EventKind::Char;
        ev.code = 0;
        ev.ch = static_cast<uint16_t>(c);
        return true;
    }
}

// The body is read in blocks; one too long to keep is read past.
bool Reader::read_insert(Event &ev) {
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const int b = get();
        if (b == EOF) {
            ev.kind = EventKind::End;
            return false;
        }
        length = (length << 8) | static_cast<uint32_t>(b);
    }
    ev.insert.clear();
    char block[4096];
    for (uint32_t left = length; left > 0;) {
        const size_t want = left < sizeof block ? left : sizeof block;
        const size_t got = std::fread(block, 1, want, in_);
        offset_ += static_cast<long>(got);
        if (got < want) {
            ev.kind = EventKind::End;
            return false;
        }
        if (length <= kMaxInsertKept) ev.insert.append(block, got);
        left -= static_cast<uint32_t>(got);
    }
    ev.kind = EventKind::Insert;
    return true;
}

bool Reader::read_tag(Event &ev) {
    const int c = get();
    if (c == EOF) {
        ev.kind = EventKind::End;
        return false;
    }
    ev.code = static_cast<uint8_t>(c);
    const int count = code::tag_param_count(ev.code);
    if (count < 0) return read_insert(ev);
    for (int i = 0; i < count; ++i) {
        const int b = get();
        if (b == EOF) {
            ev.kind = EventKind::End;
            return false;
        }
        ev.param[i] = static_cast<uint8_t>(b);
    }
    ev.param_count = count;
    if (ev.code == code::kExtendedChar) {
        ev.kind = EventKind::Char;
        ev.ch = static_cast<uint16_t>(ev.param[0] << 8 | ev.param[1]);
    } else if (ev.code == code::kBackslash) {
        ev.kind = EventKind::Char;
        ev.ch = 0x5C;
    } else {
        ev.kind = EventKind::Tag;
    }
    return true;
}

}  // namespace kavrel::stream
