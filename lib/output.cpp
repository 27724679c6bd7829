#include "lib/output.h"

#include <cerrno>

#include "lib/system.h"
#include "host/scratch.h"

namespace mwconv {

namespace {

// Outputs of megabytes go out in blocks of this size.
constexpr size_t kBufferSize = 64 * 1024;

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

// Closes `f`; false with errno set when a write it held back, or one
// before, was lost.
bool close_checked(std::FILE *f) {
    errno = 0;
    bool ok = std::fflush(f) == 0 && std::ferror(f) == 0;
    const int saved = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok && errno == 0) errno = saved;
    return ok;
}

bool write_in_place(std::FILE *result, const std::string &path, const std::string &target, std::string &error) {
    std::FILE *out = sys::open_file(path, "wb");
    if (out == nullptr) return fail(error, target, errno);
    const bool copied = copy_all(result, out);
    const int saved = errno;
    if (std::fclose(out) != 0 || !copied) return fail(error, target, copied ? errno : saved);
    return true;
}

}  // namespace

Delivery::~Delivery() {
    if (out_ != nullptr) std::fclose(out_);
    if (!temp_.empty()) sys::remove_file(temp_);
}

bool Delivery::open(std::string &error) {
    if (target_ == "-") {
        out_ = kavrel::open_scratch_stream();
        return true;
    }
    path_ = sys::resolve_target(target_);
    switch (sys::target_kind(path_)) {
    case sys::Target::Missing: return open_beside(path_, false, error);
    case sys::Target::Regular: return open_beside(path_, true, error);
    case sys::Target::Stream: out_ = kavrel::open_scratch_stream(); return true;
    case sys::Target::Folder: error = "cannot write " + target_ + ": it is a folder"; return false;
    default: error = "cannot write " + target_ + ": not a file, a character device or a pipe"; return false;
    }
}

// The temporary name is short and hidden, so that it fits wherever the
// target's own name fits and never looks like a finished output.
bool Delivery::open_beside(const std::string &path, bool exists, std::string &error) {
    out_ = sys::create_unique(folder_of(path), ".mwconv-", temp_, [&](const std::string &p) { guard_.track(p); });
    if (out_ == nullptr) {
        const int why = errno;
        temp_.clear();
        return fail(error, target_, why);
    }
    sys::copy_permissions(exists ? path : std::string(), out_);
    buffer_ = std::make_unique<char[]>(kBufferSize);
    std::setvbuf(out_, buffer_.get(), _IOFBF, kBufferSize);
    return true;
}

bool Delivery::commit(std::string &error) {
    std::FILE *out = out_;
    out_ = nullptr;
    if (temp_.empty()) {
        bool ok = kavrel::check_stream(out);
        std::rewind(out);
        if (!ok) {
            error = "cannot write a scratch file in " + kavrel::scratch_folder() + ": " +
                    sys::error_text(kavrel::scratch_failure());
        } else if (target_ == "-") {
            ok = copy_all(out, stdout);
            if (!ok) error = "cannot write to standard output: " + sys::error_text(errno != 0 ? errno : EIO);
        } else {
            ok = write_in_place(out, path_, target_, error);
        }
        std::fclose(out);
        return ok;
    }
    if (!close_checked(out)) return fail(error, target_, errno);
    if (!sys::replace(temp_, path_)) return fail(error, target_, errno);
    temp_.clear();
    return true;
}

}  // namespace mwconv
