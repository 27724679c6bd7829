#include "render/libzip.h"

#include <iterator>
#include <stdexcept>
#include <string>

namespace render {

namespace {

#define MWCONV_LIBZIP_NAME_OF(name) #name,
constexpr const char *kNames[] = {MWCONV_LIBZIP_FUNCTIONS(MWCONV_LIBZIP_NAME_OF)};
#undef MWCONV_LIBZIP_NAME_OF

// Loaded once, by the name the build found the library under (its SONAME).
const kavrel::lazy::Library &library() {
    static const kavrel::lazy::Library loaded = [] {
        kavrel::lazy::Library l = kavrel::lazy::load(MWCONV_LIBZIP_NAME, kNames, std::size(kNames));
        if (!l.missing.empty()) l.missing = "DOCX and ODT cannot be written: " + l.missing;
        return l;
    }();
    return loaded;
}

}  // namespace

const char *libzip_missing() { return library().missing.empty() ? nullptr : library().missing.c_str(); }

void *libzip_calls::address(size_t f) {
    if (const char *why = libzip_missing()) throw std::runtime_error(why);
    return library().functions[f];
}

}  // namespace render
