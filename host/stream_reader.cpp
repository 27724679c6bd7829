#include "host/stream_reader.h"

#include "host/stream_codes.h"

namespace kavrel::stream {

// Insert bodies are kept in memory; a length beyond this is a damaged stream,
// and the reader skips the body rather than holding it.
static constexpr uint32_t kMaxInsertKept = 1u << 20;

bool Reader::fill() {
    if (!buffer_) buffer_ = std::make_unique<uint8_t[]>(kBlock);
    pos_ = 0;
    end_ = std::fread(buffer_.get(), 1, kBlock, in_);
    return end_ > 0;
}

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

// A body too long to keep is read past.
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
    for (uint32_t left = length; left > 0;) {
        if (pos_ == end_ && !fill()) {
            ev.kind = EventKind::End;
            return false;
        }
        const size_t take = end_ - pos_ < left ? end_ - pos_ : left;
        if (length <= kMaxInsertKept) ev.insert.append(reinterpret_cast<const char *>(buffer_.get() + pos_), take);
        pos_ += take;
        offset_ += static_cast<long>(take);
        left -= static_cast<uint32_t>(take);
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
