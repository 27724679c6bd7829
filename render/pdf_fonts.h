// The fonts a PDF is set in: each Mac family by the explicit name of a font
// that Debian packages (fonts-urw-base35, fonts-dejavu-core), never by a
// machine's default fallback.
#pragma once

#include <string_view>

#include "mactext/fonts.h"

namespace render {

// The family that stands in for `face` (null: the document said no font).
std::string_view pdf_family(const mactext::FontFace *face);

// The family for a Mac font number, as pictures name their text; a number
// the table does not know is the application font's.
std::string_view pdf_family_of_number(int number);

}  // namespace render
