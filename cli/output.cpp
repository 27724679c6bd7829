#include "cli/output.h"

#include <cerrno>

#include "cli/cleanup.h"
#include "cli/system.h"

namespace mwconv {

namespace {

// Copies all of `from` into `to`; false with errno set on a failure.
bool copy_all(std::FILE *from, std::FILE *to) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0)
        if (std::fwrite(buffer, 1, n, to) != n) return false;
    if (std::ferror(from) != 0) {
        if (errno == 0) errno = EIO;
        return false;
    }
    errno = 0;
    return std::fflush(to) == 0 && std::ferror(to) == 0;
}

std::string folder_of(const std::string &path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool fail(std::string &error, const std::string &target, int why) {
    error = "cannot write " + target + ": " + sys::error_text(why != 0 ? why : EIO);
    return false;
}

bool write_in_place(std::FILE *result, const std::string &path, const std::string &target, std::string &error) {
    std::FILE *out = sys::open_file(path, "wb");
    if (out == nullptr) return fail(error, target, errno);
    const bool copied = copy_all(result, out);
    const int saved = errno;
    if (std::fclose(out) != 0 || !copied) return fail(error, target, copied ? errno : saved);
    return true;
}

// The temporary name is short and hidden, so that it fits wherever the
// target's own name fits and never looks like a finished output.
bool replace_file(std::FILE *result, const std::string &path, bool exists, const std::string &target,
                  std::string &error) {
    std::string temp;
    PendingFile guard;
    std::FILE *out = sys::create_unique(folder_of(path), ".mwconv-", temp, [&](const std::string &p) { guard.track(p); });
    if (out == nullptr) return fail(error, target, errno);
    sys::copy_permissions(exists ? path : std::string(), out);
    bool ok = copy_all(result, out);
    int saved = errno;
    if (std::fclose(out) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && !sys::replace(temp, path)) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        sys::remove_file(temp);
        return fail(error, target, saved);
    }
    return true;
}

}  // namespace

bool deliver(std::FILE *result, const std::string &target, std::string &error) {
    if (target == "-") {
        if (!copy_all(result, stdout)) {
            error = "cannot write to standard output: " + sys::error_text(errno != 0 ? errno : EIO);
            return false;
        }
        return true;
    }
    const std::string path = sys::resolve_target(target);
    switch (sys::target_kind(path)) {
    case sys::Target::Missing: return replace_file(result, path, false, target, error);
    case sys::Target::Regular: return replace_file(result, path, true, target, error);
    case sys::Target::Stream: return write_in_place(result, path, target, error);
    case sys::Target::Folder: error = "cannot write " + target + ": it is a folder"; return false;
    default: error = "cannot write " + target + ": not a file, a character device or a pipe"; return false;
    }
}

}  // namespace mwconv
