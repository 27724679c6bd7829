// A stream reduced to what a round trip through MacWrite 4.6/5 keeps: each
// character with its bold, italic, underline, superscript and subscript state
// and whether its paragraph is centred.  Block tags are ignored, so header and
// footer text reads as the start of the main text, where the export puts it.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "host/stream_codes.h"
#include "host/stream_reader.h"
#include "tests/support/bytes_io.h"

namespace testing_support {

struct StyledChar {
    uint16_t ch;
    uint8_t style;
    bool centred;
    bool operator==(const StyledChar &o) const { return ch == o.ch && style == o.style && centred == o.centred; }
};

inline std::ostream &operator<<(std::ostream &os, const StyledChar &c) {
    return os << "{U+" << std::hex << c.ch << std::dec << " style " << int(c.style) << (c.centred ? " centred}" : "}");
}

inline std::vector<StyledChar> styled_text(const std::string &stream) {
    namespace code = kavrel::code;
    using kavrel::stream::EventKind;
    std::FILE *in = stream_of(stream);
    kavrel::stream::Reader reader(in);
    kavrel::stream::Event ev;
    std::vector<StyledChar> out;
    uint8_t style = 0;
    bool centred = false;
    auto flip = [&](uint8_t bit, bool on) { style = static_cast<uint8_t>(on ? style | bit : style & ~bit); };
    while (reader.next(ev)) {
        switch (ev.kind) {
        case EventKind::Char: out.push_back({ev.ch, style, centred}); break;
        case EventKind::LineEnd: out.push_back({' ', style, centred}); break;
        case EventKind::Tab: out.push_back({'\t', style, centred}); break;
        case EventKind::ParagraphEnd: out.push_back({'\r', 0, centred}); break;
        case EventKind::PageBreak: out.push_back({'\f', 0, false}); break;
        case EventKind::Tag:
            switch (ev.code) {
            case code::kBoldOn: flip(1, true); break;
            case code::kBoldOff: flip(1, false); break;
            case code::kItalicOn: flip(2, true); break;
            case code::kItalicOff: flip(2, false); break;
            case code::kUnderlineOn: flip(4, true); break;
            case code::kUnderlineOff: flip(4, false); break;
            case code::kSuperscriptOn: flip(8, true); break;
            case code::kSuperscriptOff: flip(8, false); break;
            case code::kSubscriptOn: flip(16, true); break;
            case code::kSubscriptOff: flip(16, false); break;
            case code::kCentre: centred = true; break;
            case code::kLeft: centred = false; break;
            default: break;
            }
            break;
        default: break;
        }
    }
    std::fclose(in);
    return out;
}

// "" when equal; else where the two first differ, with some context.
inline std::string first_difference(const std::vector<StyledChar> &a, const std::vector<StyledChar> &b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) return "";
    std::ostringstream os;
    os << "differ at " << i << " of " << a.size() << " / " << b.size() << ":";
    for (size_t j = i; j < i + 4; ++j) {
        os << "\n  ";
        if (j < a.size()) os << a[j];
        os << " | ";
        if (j < b.size()) os << b[j];
    }
    os << "\n  after: ";
    for (size_t j = i > 30 ? i - 30 : 0; j < i; ++j) os << static_cast<char>(a[j].ch < 0x80 ? a[j].ch : '?');
    return os.str();
}

}  // namespace testing_support
