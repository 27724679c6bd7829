// libzip, loaded the first time a DOCX or ODT package is written rather
// than when the program starts (host/lazy_library.h): linked in, it brings
// libcrypto (for zip encryption, which packages never use) into every start.
//
// The functions the package writer calls are declared here under libzip's
// own names, in namespace render.  Before the first call, ask
// libzip_missing(): with the library absent, every call throws
// std::runtime_error.
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

// Null when libzip is loaded (it is, after this call, if it can be);
// otherwise why it cannot be, as a message can say it.
const char *libzip_missing();

namespace libzip_calls {

#define MWCONV_LIBZIP_INDEX(name) name,
enum Function : size_t { MWCONV_LIBZIP_FUNCTIONS(MWCONV_LIBZIP_INDEX) kCount };
#undef MWCONV_LIBZIP_INDEX

// The address of function `f` of the loaded library; throws
// std::runtime_error when the library could not be loaded.
void *address(size_t f);

}  // namespace libzip_calls

#define MWCONV_LIBZIP_DECLARE(name)                                                                                      \
    inline constexpr auto name =                                                                                          \
        &kavrel::lazy::Call<decltype(&::name)>::through<&libzip_calls::address, libzip_calls::name>;
MWCONV_LIBZIP_FUNCTIONS(MWCONV_LIBZIP_DECLARE)
#undef MWCONV_LIBZIP_DECLARE

}  // namespace render
