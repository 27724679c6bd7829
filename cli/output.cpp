#include "cli/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "cli/cleanup.h"

namespace mwconv {

namespace {

bool write_all(int fd, const char *p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool copy_to_fd(std::FILE *from, int fd) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0)
        if (!write_all(fd, buffer, n)) return false;
    if (std::ferror(from) == 0) return true;
    if (errno == 0) errno = EIO;
    return false;
}

std::string folder_of(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool fail(std::string &error, const std::string &target, const std::string &why) {
    error = "cannot write " + target + ": " + why;
    return false;
}

bool write_in_place(std::FILE *result, const std::string &path, const std::string &target, std::string &error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return fail(error, target, std::strerror(errno));
    const bool copied = copy_to_fd(result, fd);
    const int saved = errno;
    const bool closed = ::close(fd) == 0;
    if (!copied || !closed) return fail(error, target, std::strerror(copied ? errno : saved));
    return true;
}

// The temporary name is short and hidden, so that it fits wherever the
// target's own name fits and never looks like a finished output.
bool replace_file(std::FILE *result, const std::string &path, const struct stat *old, const std::string &target,
                  std::string &error) {
    std::string temp = folder_of(path) + "/.mwconv-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return fail(error, target, std::strerror(errno));
    PendingFile guard(temp);
    if (old != nullptr) {
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) { /* not ours to give: keep our own */ }
        ::fchmod(fd, old->st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    bool ok = copy_to_fd(result, fd);
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return fail(error, target, std::strerror(saved));
    }
    return true;
}

}  // namespace

bool file_id(const std::string &path, FileId &id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    id = FileId{st.st_dev, st.st_ino};
    return true;
}

std::string resolve_target(const std::string &target) {
    std::string path = target;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
        if (n <= 0) return path;
        link[n] = '\0';
        path = link[0] == '/' ? std::string(link) : folder_of(path) + "/" + link;
    }
    return path;
}

bool deliver(std::FILE *result, const std::string &target, std::string &error) {
    if (target == "-") {
        std::fflush(stdout);
        if (!copy_to_fd(result, STDOUT_FILENO)) {
            error = std::string("cannot write to standard output: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    const std::string path = resolve_target(target);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return replace_file(result, path, nullptr, target, error);
    if (S_ISREG(st.st_mode)) return replace_file(result, path, &st, target, error);
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return write_in_place(result, path, target, error);
    if (S_ISDIR(st.st_mode)) return fail(error, target, "it is a folder");
    return fail(error, target, "not a file, a character device or a pipe");
}

}  // namespace mwconv
