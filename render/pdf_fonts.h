// The fonts a PDF is set in: each Mac family by the explicit name of a font
// that Debian packages (fonts-urw-base35, fonts-dejavu-core), never by a
// machine's default fallback.
#pragma once

#include <pango/pango.h>

#include <string_view>

#include "mactext/fonts.h"

namespace render {

// The family that stands in for `face` (null: the document said no font).
std::string_view pdf_family(const mactext::FontFace *face);

// The family for a Mac font number, as pictures name their text; a number
// the table does not know is the application font's.
std::string_view pdf_family_of_number(int number);

// The calling thread's font map (pango's for cairo, kept for the thread's
// life), finding fonts in a
// fontconfig configuration of our own: the folders that hold the families
// above, without the machine's rules.  Those rules, written for every font
// the machine has, made each new font description cost pango three times
// the work; the families here are asked for by their own names and need
// none of them.  Where no family above is installed, the font map keeps the
// machine's configuration.
PangoFontMap *pdf_font_map();

}  // namespace render
