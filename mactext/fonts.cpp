#include "mactext/fonts.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace mactext {

namespace {

// The numbers the classic Mac OS assigned; 1 is the application font, which
// was Geneva.  Decorative bitmap faces (Venice, London, Cairo...) fall back
// to the generic family closest to their letter shapes.
constexpr FontFace kFaces[] = {
    {0, "Chicago", Generic::SansSerif},
    {1, "Geneva", Generic::SansSerif},
    {2, "New York", Generic::Serif},
    {3, "Geneva", Generic::SansSerif},
    {4, "Monaco", Generic::Monospace},
    {5, "Venice", Generic::Serif},
    {6, "London", Generic::Serif},
    {7, "Athens", Generic::Serif},
    {8, "San Francisco", Generic::SansSerif},
    {9, "Toronto", Generic::Serif},
    {11, "Cairo", Generic::Serif},
    {12, "Los Angeles", Generic::SansSerif},
    {13, "Zapf Dingbats", Generic::Serif},
    {14, "Bookman", Generic::Serif},
    {16, "Palatino", Generic::Serif},
    {18, "Zapf Chancery", Generic::Serif},
    {20, "Times", Generic::Serif},
    {21, "Helvetica", Generic::SansSerif},
    {22, "Courier", Generic::Monospace},
    {23, "Symbol", Generic::Serif},
    {24, "Taliesin", Generic::Serif},
    {33, "Avant Garde", Generic::SansSerif},
    {34, "New Century Schoolbook", Generic::Serif},
};

}  // namespace

const FontFace *font_face(int number) {
    const auto it = std::lower_bound(std::begin(kFaces), std::end(kFaces), number,
                                     [](const FontFace &f, int n) { return f.number < n; });
    return it != std::end(kFaces) && it->number == number ? &*it : nullptr;
}

std::span<const FontFace> font_table() { return kFaces; }

const FontFace *font_named(std::string_view family) {
    const auto same = [&](std::string_view a) {
        return a.size() == family.size() && std::equal(a.begin(), a.end(), family.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    const FontFace *found = nullptr;
    for (const FontFace &f : kFaces)
        if (same(f.family)) found = &f;
    return found;
}

bool first_of_family(const FontFace &face) {
    const auto same = [&](const FontFace &f) { return f.family == face.family; };
    return std::find_if(std::begin(kFaces), std::end(kFaces), same) == &face;
}

std::string_view generic_name(Generic g) {
    switch (g) {
    case Generic::SansSerif: return "sans-serif";
    case Generic::Monospace: return "monospace";
    default: return "serif";
    }
}

}  // namespace mactext
