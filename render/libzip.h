// libzip, loaded the first time a DOCX or ODT package is written rather
// than when the program starts (host/lazy_library.h): linked in, it brings
// libcrypto (for zip encryption, which packages never use) into every start.
//
// The functions the package writer calls are declared here under libzip's
// own names, in namespace render.  With the library absent, every call
// throws std::runtime_error, which says so: the conversion fails with that
// message, and the rest of mwconv works on.
#pragma once

#include <zip.h>

#include <cstddef>

#include "host/lazy_library.h"

// Every libzip function the package writer calls.
#define MWCONV_LIBZIP_FUNCTIONS(X)                                                                                       \
    X(zip_close)                                                                                                          \
    X(zip_discard)                                                                                                        \
    X(zip_error_fini)                                                                                                     \
    X(zip_error_init)                                                                                                     \
    X(zip_error_set)                                                                                                      \
    X(zip_error_to_data)                                                                                                  \
    X(zip_file_add)                                                                                                       \
    X(zip_file_set_external_attributes)                                                                                   \
    X(zip_file_set_mtime)                                                                                                 \
    X(zip_open_from_source)                                                                                               \
    X(zip_set_file_compression)                                                                                           \
    X(zip_source_free)                                                                                                    \
    X(zip_source_function)                                                                                                \
    X(zip_source_function_create)                                                                                         \
    X(zip_source_seek_compute_offset)                                                                                     \
    X(zip_stat_init)

namespace render {

KAVREL_LAZY_LIBRARY(MWCONV_LIBZIP_FUNCTIONS)

}  // namespace render
