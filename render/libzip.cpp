#include "render/libzip.h"

#include <stdexcept>

namespace render {

namespace {

// Loaded once, by the name the build found the library under.
const kavrel::lazy::Library &library() {
    static const auto loaded = kavrel::lazy::load(MWCONV_LIBZIP_NAME, lazy_calls::kNames, "DOCX and ODT cannot be written: ");
    return loaded;
}

}  // namespace

void *lazy_calls::address(size_t f) {
    if (const char *why = library().why()) throw std::runtime_error(why);
    return library().functions[f];
}

}  // namespace render
