// libarchive, loaded the first time an input looks like an archive rather
// than when the program starts (host/lazy_library.h): linked in, it brings
// libxml2, ICU, ACL, zstd, lz4 and more into every start.
//
// The functions the archive reader calls are declared here under
// libarchive's own names, in namespace containers.  Before the first call,
// ask libarchive_missing(): with the library absent, every call throws Error.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <cstddef>

#include "containers/container.h"
#include "host/lazy_library.h"

// Every libarchive function the reader calls.
#define MWCONV_LIBARCHIVE_FUNCTIONS(X)                                                                                   \
    X(archive_read_new)                                                                                                   \
    X(archive_read_free)                                                                                                  \
    X(archive_read_support_format_zip)                                                                                    \
    X(archive_read_support_format_tar)                                                                                    \
    X(archive_read_support_format_gnutar)                                                                                 \
    X(archive_read_support_format_7zip)                                                                                   \
    X(archive_read_support_format_cpio)                                                                                   \
    X(archive_read_support_format_iso9660)                                                                                \
    X(archive_read_support_filter_gzip)                                                                                   \
    X(archive_read_support_filter_bzip2)                                                                                  \
    X(archive_read_support_filter_xz)                                                                                     \
    X(archive_read_support_filter_lzma)                                                                                   \
    X(archive_read_support_filter_zstd)                                                                                   \
    X(archive_read_support_filter_compress)                                                                               \
    X(archive_read_set_read_callback)                                                                                     \
    X(archive_read_set_skip_callback)                                                                                     \
    X(archive_read_set_seek_callback)                                                                                     \
    X(archive_read_set_callback_data)                                                                                     \
    X(archive_read_open1)                                                                                                 \
    X(archive_format)                                                                                                     \
    X(archive_error_string)                                                                                               \
    X(archive_read_next_header)                                                                                           \
    X(archive_read_data)                                                                                                  \
    X(archive_entry_pathname)                                                                                             \
    X(archive_entry_pathname_utf8)                                                                                        \
    X(archive_entry_filetype)                                                                                             \
    X(archive_entry_hardlink)                                                                                             \
    X(archive_entry_mtime_is_set)                                                                                         \
    X(archive_entry_mtime)                                                                                                \
    X(archive_entry_birthtime_is_set)                                                                                     \
    X(archive_entry_birthtime)                                                                                            \
    X(archive_entry_size_is_set)                                                                                          \
    X(archive_entry_size)                                                                                                 \
    X(archive_entry_is_encrypted)

namespace containers {

// Null when libarchive is loaded (it is, after this call, if it can be);
// otherwise why it cannot be, as a message about an archive can end.
const char *libarchive_missing();

KAVREL_LAZY_LIBRARY(MWCONV_LIBARCHIVE_FUNCTIONS)

}  // namespace containers
