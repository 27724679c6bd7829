// The DOCX and ODT packages of a stream, and the entries of a zip package
// as libzip reads them back.
#pragma once

#include <zip.h>

#include <string>
#include <vector>

#include "render/render.h"
#include "tests/support/shown_text.h"

namespace testing_support {

inline std::string docx_of(const std::string &stream, const render::RenderOptions &o = {}) {
    return rendered(stream, [&](std::FILE *in, std::FILE *out) { return render::to_docx(in, out, o); });
}
inline std::string odt_of(const std::string &stream, const render::RenderOptions &o = {}) {
    return rendered(stream, [&](std::FILE *in, std::FILE *out) { return render::to_odt(in, out, o); });
}

struct ZipEntry {
    std::string name, data;
    bool stored = false;
};

// Every entry in the archive's order; empty when it is no zip archive.
inline std::vector<ZipEntry> zip_entries(const std::string &archive) {
    std::vector<ZipEntry> entries;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    zip_t *zip = source == nullptr ? nullptr : zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    zip_error_fini(&error);
    if (zip == nullptr) {
        if (source != nullptr) zip_source_free(source);
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
        ZipEntry e{st.name, std::string(st.size, '\0'), st.comp_method == ZIP_CM_STORE};
        zip_file_t *f = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
        if (f != nullptr) {
            zip_fread(f, e.data.data(), st.size);
            zip_fclose(f);
        }
        entries.push_back(std::move(e));
    }
    zip_close(zip);
    return entries;
}

inline std::vector<std::string> entry_names(const std::vector<ZipEntry> &entries) {
    std::vector<std::string> names;
    for (const ZipEntry &e : entries) names.push_back(e.name);
    return names;
}

inline std::string entry(const std::vector<ZipEntry> &entries, const std::string &name) {
    for (const ZipEntry &e : entries)
        if (e.name == name) return e.data;
    return "";
}

}  // namespace testing_support
