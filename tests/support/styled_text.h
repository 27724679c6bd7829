// A stream reduced to what a round trip through MacWrite 4.6/5 keeps: each
// character with its bold, italic, underline, superscript and subscript state,
// whether its paragraph is centred and which area (main text, header, footer)
// it stands in; a field counts as a character of its own.
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
    uint8_t area = 0;     // 0 main text, 1 header, 2 footer
    uint8_t field = 0;    // a field's kind, ch then 0
    bool operator==(const StyledChar &o) const {
        return ch == o.ch && style == o.style && centred == o.centred && area == o.area && field == o.field;
    }
};

inline std::ostream &operator<<(std::ostream &os, const StyledChar &c) {
    os << "{U+" << std::hex << c.ch << std::dec << " style " << int(c.style) << " area " << int(c.area);
    if (c.field != 0) os << " field " << int(c.field);
    return os << (c.centred ? " centred}" : "}");
}

inline std::vector<StyledChar> styled_text(const std::string &stream) {
    namespace code = kavrel::code;
    using kavrel::stream::EventKind;
    std::FILE *in = stream_of(stream);
    kavrel::stream::Reader reader(in);
    kavrel::stream::Event ev;
    std::vector<StyledChar> out;
    uint8_t style = 0, area = 0;
    bool centred = false;
    auto flip = [&](uint8_t bit, bool on) { style = static_cast<uint8_t>(on ? style | bit : style & ~bit); };
    while (reader.next(ev)) {
        switch (ev.kind) {
        case EventKind::Char: out.push_back({ev.ch, style, centred, area}); break;
        case EventKind::LineEnd: out.push_back({' ', style, centred, area}); break;
        case EventKind::Tab: out.push_back({'\t', style, centred, area}); break;
        case EventKind::ParagraphEnd: out.push_back({'\r', 0, centred, area}); break;
        case EventKind::PageBreak: out.push_back({'\f', 0, false, area}); break;
        case EventKind::Tag:
            switch (ev.code) {
            case code::kHeaderBlock: area = 1; break;
            case code::kFooterBlock: area = 2; break;
            case code::kBlockEnd: area = 0; break;
            case code::kField: out.push_back({0, style, centred, area, ev.param[0]}); break;
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

// What a round trip through the export keeps of an import's text: a header
// or footer with nothing but returns is none, and the last paragraph of
// every area ends with a return, the main text's too.
inline std::vector<StyledChar> as_exported(const std::vector<StyledChar> &text) {
    std::vector<StyledChar> out;
    for (uint8_t area : {1, 2, 0}) {
        std::vector<StyledChar> part;
        for (const StyledChar &c : text)
            if (c.area == area) part.push_back(c);
        bool shown = area == 0;
        for (const StyledChar &c : part) shown = shown || c.ch != '\r' || c.field != 0;
        if (!shown || part.empty()) continue;
        if (part.back().ch != '\r' || part.back().field != 0) part.push_back({'\r', 0, part.back().centred, area});
        out.insert(out.end(), part.begin(), part.end());
    }
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
