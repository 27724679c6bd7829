// UTF-8 of the BMP code points that Macintosh text maps to, and back: what
// the renderers write and the pictures' text is made of.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mactext {

// A BMP code point's UTF-8 bytes into `out` (three at most); returns how
// many.
inline size_t encode_utf8(char *out, char16_t c) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | c >> 6);
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | c >> 12);
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
}

inline void append_utf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// A run of BMP code points, with room made once.
inline void append_utf8(std::string &out, std::u16string_view run) {
    out.reserve(out.size() + 3 * run.size());
    for (char16_t c : run) {
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else
            append_utf8(out, c);
    }
}

// UTF-8 as BMP code points; a byte that does not belong, or a character
// beyond the BMP, becomes U+FFFD.
inline std::u16string utf16_of(std::string_view utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
        uint32_t cp = extra == 0 ? lead : extra == 1 ? lead & 0x1Fu : lead & 0x0Fu;
        bool good = extra >= 0 && i + static_cast<size_t>(extra) < utf8.size();
        for (int k = 1; good && k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
            good = (b & 0xC0) == 0x80;
            cp = cp << 6 | (b & 0x3Fu);
        }
        good = good && !(extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)));
        out.push_back(good ? static_cast<char16_t>(cp) : u'\uFFFD');
        if (good) {
            i += static_cast<size_t>(extra) + 1;
            continue;
        }
        for (++i; i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80;) ++i;
    }
    return out;
}

}  // namespace mactext
