#include "containers/libarchive.h"

#include <iterator>
#include <string>

namespace containers {

namespace {

#define MWCONV_LIBARCHIVE_NAME_OF(name) #name,
constexpr const char *kNames[] = {MWCONV_LIBARCHIVE_FUNCTIONS(MWCONV_LIBARCHIVE_NAME_OF)};
#undef MWCONV_LIBARCHIVE_NAME_OF

// Loaded once, by the name the build found the library under (its SONAME,
// or its DLL's name).
const kavrel::lazy::Library &library() {
    static const kavrel::lazy::Library loaded = [] {
        kavrel::lazy::Library l = kavrel::lazy::load(MWCONV_LIBARCHIVE_NAME, kNames, std::size(kNames));
        if (!l.missing.empty()) l.missing = "archives cannot be read: " + l.missing;
        return l;
    }();
    return loaded;
}

}  // namespace

const char *libarchive_missing() { return library().missing.empty() ? nullptr : library().missing.c_str(); }

void *libarchive_calls::address(size_t f) {
    if (const char *why = libarchive_missing()) throw Error(Grade::kFatal, why);
    return library().functions[f];
}

}  // namespace containers
