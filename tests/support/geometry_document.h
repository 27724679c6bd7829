// A stream with every page and paragraph geometry: a US Letter page with
// margins of its own, a title page and a first page numbered 7, a header
// with the page number; paragraphs with left and right indents, a first-line
// indent, a hanging indent, one-and-a-half and double spacing, an exact line
// height with space before and after.  Enough text to fill two pages.
#pragma once

#include <cstdint>
#include <string>

#include "host/stream_codes.h"

namespace testing_support {

namespace geometry_document {

namespace code = kavrel::code;

inline void tag2(std::string &s, uint8_t c, int value) {
    s += '\\';
    s += static_cast<char>(c);
    s += static_cast<char>((value >> 8) & 0xFF);
    s += static_cast<char>(value & 0xFF);
}

// The page in twips: Letter, margins top 720, left 1440, bottom 720,
// right 1080; first page 7; a title page; a header 360 high.
inline std::string page() {
    const uint16_t words[] = {12240, 15840, 720, 1440, 720, 1080, 7, code::kPageTitle, 360, 0};
    std::string body = "PAGE";
    for (uint16_t w : words) {
        body += static_cast<char>(w >> 8);
        body += static_cast<char>(w & 0xFF);
    }
    std::string s = "\\";
    s += static_cast<char>(code::kInsert);
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((body.size() >> shift) & 0xFF);
    return s + body;
}

inline std::string filler(const std::string &label) {
    std::string t = label + ":";
    for (int i = 0; i < 12; ++i) t += " the quick brown fox jumps over the lazy dog";
    return t + "\r";
}

}  // namespace geometry_document

inline std::string geometry_document_stream() {
    using namespace geometry_document;
    std::string s = page();
    s += std::string("\\\x9E\0\0", 4) + "Page \\_\x01\r\\\x7F" + std::string("\\\xA1\0\0", 4) + "\\\x7F";
    tag2(s, code::kLeftIndent, 720);
    tag2(s, code::kRightIndent, 1440);
    s += filler("indented");
    tag2(s, code::kLeftIndent, 0);
    tag2(s, code::kRightIndent, 0);
    tag2(s, code::kFirstIndent, 360);
    s += filler("first line");
    tag2(s, code::kLeftIndent, 720);
    tag2(s, code::kFirstIndent, -720);
    s += filler("hanging");
    tag2(s, code::kLeftIndent, 0);
    tag2(s, code::kFirstIndent, 0);
    s += "\\\x4D\x0C" + filler("one and a half");
    s += "\\\x4D\x10" + filler("double");
    s += "\\\x4D\x08";
    tag2(s, code::kLineHeight, 400);
    tag2(s, code::kSpaceBefore, 120);
    tag2(s, code::kSpaceAfter, 240);
    s += filler("exact");
    tag2(s, code::kLineHeight, 0);
    tag2(s, code::kSpaceBefore, 0);
    tag2(s, code::kSpaceAfter, 0);
    s += "\f";
    for (int i = 0; i < 3; ++i) s += filler("second page");
    return s;
}

}  // namespace testing_support
