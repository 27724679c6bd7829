// Family names of classic Macintosh font numbers, for text drawn in pictures.
#pragma once

#include <string>

namespace pict {

// The family a Macintosh font number names ("Geneva" for 3); numbers it does
// not know get "Geneva", the application font.
std::string font_family(int font);

// A CSS font-family list: the family, a close family found on today's
// systems, and the generic family.
std::string css_family(const std::string &family);

}  // namespace pict
