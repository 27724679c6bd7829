// Escaping for the XML parts of the packaged outputs (DOCX, ODT).
#pragma once

#include <string>
#include <string_view>

#include "mactext/utf8.h"

namespace render::xml {

// Text or an attribute's value in UTF-8.  Characters XML does not allow
// (control characters, which only a file name can bring, and U+FFFE and
// U+FFFF) become U+FFFD.
inline void append_escaped(std::string &out, std::u16string_view run) {
    for (char16_t c : run) {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') c = 0xFFFD;
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case 0xFFFE:
        case 0xFFFF: mactext::append_utf8(out, 0xFFFD); break;
        default: mactext::append_utf8(out, c);
        }
    }
}

inline std::string escaped(std::u16string_view run) {
    std::string out;
    append_escaped(out, run);
    return out;
}

inline std::string escaped(std::string_view utf8) { return escaped(mactext::utf16_of(utf8)); }

}  // namespace render::xml
