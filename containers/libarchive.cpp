#include "containers/libarchive.h"

namespace containers {

namespace {

// Loaded once, by the name the build found the library under.
const kavrel::lazy::Library &library() {
    static const auto loaded = kavrel::lazy::load(MWCONV_LIBARCHIVE_NAME, lazy_calls::kNames, "archives cannot be read: ");
    return loaded;
}

}  // namespace

const char *libarchive_missing() { return library().why(); }

void *lazy_calls::address(size_t f) {
    if (const char *why = library().why()) throw Error(Grade::kFatal, why);
    return library().functions[f];
}

}  // namespace containers
