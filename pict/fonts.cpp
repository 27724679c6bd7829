#include "pict/fonts.h"

namespace pict {

namespace {

struct Font {
    int number;
    const char *family;
    const char *stand_in;   // what browsers and renderers are likely to have
    const char *generic;
};

constexpr Font kFonts[] = {
    {0, "Chicago", "Helvetica", "sans-serif"},
    {1, "Geneva", "Helvetica", "sans-serif"},
    {2, "New York", "Times", "serif"},
    {3, "Geneva", "Helvetica", "sans-serif"},
    {4, "Monaco", "Courier", "monospace"},
    {5, "Venice", "Times", "serif"},
    {6, "London", "Times", "serif"},
    {7, "Athens", "Times", "serif"},
    {8, "San Francisco", "Helvetica", "sans-serif"},
    {9, "Toronto", "Times", "serif"},
    {11, "Cairo", "Symbol", "serif"},
    {12, "Los Angeles", "Helvetica", "sans-serif"},
    {13, "Zapf Dingbats", "Zapf Dingbats", "serif"},
    {14, "Bookman", "Times", "serif"},
    {15, "Helvetica Narrow", "Helvetica", "sans-serif"},
    {16, "Palatino", "Times", "serif"},
    {18, "Zapf Chancery", "Times", "cursive"},
    {20, "Times", "Times New Roman", "serif"},
    {21, "Helvetica", "Arial", "sans-serif"},
    {22, "Courier", "Courier New", "monospace"},
    {23, "Symbol", "Symbol", "serif"},
    {33, "Avant Garde", "Helvetica", "sans-serif"},
    {34, "New Century Schoolbook", "Times", "serif"},
};

const Font *find(int number) {
    for (const Font &f : kFonts)
        if (f.number == number) return &f;
    return nullptr;
}

const Font *find(const std::string &family) {
    for (const Font &f : kFonts)
        if (family == f.family) return &f;
    return nullptr;
}

}  // namespace

std::string font_family(int font) {
    const Font *f = find(font);
    return f ? f->family : "Geneva";
}

std::string css_family(const std::string &family) {
    const Font *f = find(family);
    if (!f) return "'" + family + "', sans-serif";
    return "'" + family + "', '" + f->stand_in + "', " + f->generic;
}

}  // namespace pict
