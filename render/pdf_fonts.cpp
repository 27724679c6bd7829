#include "render/pdf_fonts.h"

#include <algorithm>
#include <array>
#include <utility>

namespace render {

namespace {

// The LaserWriter's families have metric-compatible URW versions.  Geneva,
// New York, Chicago and Monaco have none: each stands in for by the Debian
// font whose widths give MacWrite's own line counts most often over the
// corpus (docs/pdf.md has the figures).
constexpr std::array<std::pair<std::string_view, std::string_view>, 14> kFamilies = {{
    {"Times", "Nimbus Roman"},
    {"Helvetica", "Nimbus Sans"},
    {"Courier", "Nimbus Mono PS"},
    {"Palatino", "P052"},
    {"Bookman", "URW Bookman"},
    {"New Century Schoolbook", "C059"},
    {"Avant Garde", "URW Gothic"},
    {"Zapf Chancery", "Z003"},
    {"Symbol", "Standard Symbols PS"},
    {"Zapf Dingbats", "D050000L"},
    {"Geneva", "DejaVu Sans"},
    {"Chicago", "DejaVu Sans"},
    {"New York", "DejaVu Serif"},
    {"Monaco", "DejaVu Sans Mono"},
}};

std::string_view generic_family(mactext::Generic g) {
    switch (g) {
    case mactext::Generic::SansSerif: return "Nimbus Sans";
    case mactext::Generic::Monospace: return "Nimbus Mono PS";
    default: return "Nimbus Roman";
    }
}

}  // namespace

std::string_view pdf_family(const mactext::FontFace *face) {
    if (face == nullptr) return generic_family(mactext::Generic::Serif);
    const auto it = std::find_if(kFamilies.begin(), kFamilies.end(), [&](const auto &f) { return f.first == face->family; });
    return it != kFamilies.end() ? it->second : generic_family(face->generic);
}

std::string_view pdf_family_of_number(int number) {
    const mactext::FontFace *face = mactext::font_face(number);
    return pdf_family(face != nullptr ? face : mactext::font_face(1));
}

}  // namespace render
