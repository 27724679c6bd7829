// Classic Macintosh font numbers and the families they name, shared by every
// renderer and by the pictures' text.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace mactext {

enum class Generic : uint8_t { Serif, SansSerif, Monospace };

struct FontFace {
    uint16_t number;
    std::string_view family;
    Generic generic;
};

// The family of a Mac font number; null for a number the table does not know
// (the output then keeps the document's default font).
const FontFace *font_face(int number);

// The number of a family named as the Mac names it (case aside); null for
// a name the table does not know.  Geneva is 3, 1 being the application font.
const FontFace *font_named(std::string_view family);

// Every font of the table, in the order of their numbers.
std::span<const FontFace> font_table();

// Whether `face` is its family's first entry in the table (Geneva has two
// numbers): outputs that declare each family once skip the others.
bool first_of_family(const FontFace &face);

// "serif", "sans-serif" or "monospace".
std::string_view generic_name(Generic g);

}  // namespace mactext
