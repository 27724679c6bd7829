#include "serve/zip_stream.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "lib/system.h"

namespace mwconv::serve {

namespace fs = std::filesystem;

namespace {

struct ArchiveCloser {
    void operator()(archive *a) const { archive_write_free(a); }
};
struct EntryCloser {
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};
using Entry = std::unique_ptr<archive_entry, EntryCloser>;

la_ssize_t write_out(archive *, void *context, const void *data, size_t length) {
    const auto &write = *static_cast<const ZipWrite *>(context);
    return write(static_cast<const char *>(data), length) ? static_cast<la_ssize_t>(length) : -1;
}

Entry entry_for(const std::string &path, int64_t size, time_t modified) {
    Entry e(archive_entry_new());
    archive_entry_set_pathname_utf8(e.get(), path.c_str());
    archive_entry_set_filetype(e.get(), AE_IFREG);
    archive_entry_set_perm(e.get(), 0644);
    archive_entry_set_size(e.get(), size);
    archive_entry_set_mtime(e.get(), modified, 0);
    return e;
}

bool add_file(archive *a, const fs::path &file, const std::string &path) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec) return false;
    const auto when = fs::last_write_time(file, ec);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(when).time_since_epoch()).count();
    sys::File in(sys::open_file(sys::utf8_of(file), "rb"));
    if (!in) return false;
    const Entry e = entry_for(path, static_cast<int64_t>(size), static_cast<time_t>(seconds));
    if (archive_write_header(a, e.get()) != ARCHIVE_OK) return false;
    std::vector<char> buffer(65536);  // on a pool thread's stack it would stay resident
    for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0;)
        if (archive_write_data(a, buffer.data(), n) < 0) return false;
    return std::ferror(in.get()) == 0 && archive_write_finish_entry(a) == ARCHIVE_OK;
}

bool add_text(archive *a, const ZipText &text) {
    const Entry e = entry_for(text.path, static_cast<int64_t>(text.content.size()), std::time(nullptr));
    return archive_write_header(a, e.get()) == ARCHIVE_OK &&
           archive_write_data(a, text.content.data(), text.content.size()) >= 0 &&
           archive_write_finish_entry(a) == ARCHIVE_OK;
}

}  // namespace

std::vector<fs::path> files_under(const fs::path &root) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

bool write_zip(const fs::path &root, const std::vector<ZipText> &texts, const ZipWrite &write) {
    std::unique_ptr<archive, ArchiveCloser> a(archive_write_new());
    archive_write_set_format_zip(a.get());
    // Names are UTF-8 whatever the locale, and flagged so in the archive.
    archive_write_set_options(a.get(), "hdrcharset=UTF-8");
    archive_write_set_bytes_in_last_block(a.get(), 1);
    if (archive_write_open2(a.get(), const_cast<ZipWrite *>(&write), nullptr, write_out, nullptr, nullptr) != ARCHIVE_OK)
        return false;
    for (const fs::path &file : files_under(root)) {
        std::string path = sys::utf8_of(file.lexically_relative(root));
        if (!add_file(a.get(), file, path)) return false;
    }
    for (const ZipText &text : texts)
        if (!add_text(a.get(), text)) return false;
    return archive_write_close(a.get()) == ARCHIVE_OK;
}

}  // namespace mwconv::serve
