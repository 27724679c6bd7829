#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "host/scratch.h"
#include "lib/cleanup.h"
#include "lib/system.h"

namespace mwconv::sys {

namespace {

std::string folder_of(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> arguments(int argc, char **argv) { return {argv, argv + argc}; }

void binary_standard_streams() {}

std::filesystem::path to_path(const std::string &utf8) { return utf8; }
std::string utf8_of(const std::filesystem::path &path) { return path.string(); }

std::FILE *open_file(const std::string &path, const char *mode) { return std::fopen(path.c_str(), mode); }

bool is_folder(std::FILE *f) {
    struct stat st;
    return ::fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

std::FILE *reopen_for_reading(std::FILE *f) {
    if (std::FILE *scratch = kavrel::reopen_scratch_stream(f)) return scratch;
    const int fd = ::fcntl(fileno(f), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    std::FILE *copy = ::fdopen(fd, "rb");
    if (copy == nullptr) ::close(fd);
    return copy;
}

std::string executable_dir() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    return folder_of(path);
}

bool file_id(const std::string &path, FileId &id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool file_id(std::FILE *f, FileId &id) {
    struct stat st;
    if (::fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

size_t terminal_width() {
    struct winsize ws {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

std::FILE *create_unique(const std::string &folder, const std::string &prefix, std::string &path,
                         const std::function<void(const std::string &)> &claim) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = folder + "/" + prefix + unique_suffix();
        claim(path);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        std::FILE *f = ::fdopen(fd, "w+b");
        if (f == nullptr) {
            const int saved = errno;
            ::close(fd);
            ::unlink(path.c_str());
            errno = saved;
        }
        return f;
    }
    errno = EEXIST;
    return nullptr;
}

bool remove_file(const std::string &path) { return ::unlink(path.c_str()) == 0; }

namespace {

// The thread's named scratch file: its descriptor stays open, and each
// import gets a duplicate of it, emptied, with a buffer large enough for a
// document of megabytes to pass in few system calls.
struct KeptScratch {
    static constexpr size_t kBufferSize = 64 * 1024;
    std::string folder, path;
    int fd = -1;
    PendingFile guard;
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(kBufferSize);

    KeptScratch() = default;
    KeptScratch(const KeptScratch &) = delete;
    KeptScratch &operator=(const KeptScratch &) = delete;
    ~KeptScratch() { drop(); }

    void drop() {
        if (fd < 0) return;
        (void)::ftruncate(fd, 0);  // nothing to write back when it closes
        ::unlink(path.c_str());
        ::close(fd);
        fd = -1;
    }

    bool make(const std::string &in) {
        drop();
        std::FILE *f = create_unique(in, "mwconv-", path, [&](const std::string &p) { guard.track(p); });
        if (f == nullptr) return false;
        fd = ::fcntl(fileno(f), F_DUPFD_CLOEXEC, 0);
        const int saved = errno;
        std::fclose(f);
        if (fd < 0) {
            ::unlink(path.c_str());
            errno = saved;
            return false;
        }
        folder = in;
        return true;
    }
};

thread_local KeptScratch t_named;

}  // namespace

std::FILE *open_named_scratch(const std::string &folder, std::string &path) {
    struct stat st;
    const bool usable = t_named.fd >= 0 && t_named.folder == folder && ::fstat(t_named.fd, &st) == 0 &&
                        (st.st_size == 0 || ::ftruncate(t_named.fd, 0) == 0);
    if (!usable && !t_named.make(folder)) return nullptr;
    const int fd = ::fcntl(t_named.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    ::lseek(fd, 0, SEEK_SET);
    std::FILE *f = kavrel::stream_on_descriptor(fd, t_named.buffer.get(), KeptScratch::kBufferSize);
    if (f == nullptr) return nullptr;
    path = t_named.path;
    return f;
}

void release_named_scratch(std::FILE *&, const std::string &) {}

void empty_kept_scratch() {
    struct stat st;
    if (t_named.fd < 0 || ::fstat(t_named.fd, &st) != 0 || st.st_size == 0) return;
    if (::ftruncate(t_named.fd, 0) != 0) t_named.drop();
}

void release_kept_scratch() { t_named.drop(); }

Target target_kind(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Target::Missing;
    if (S_ISREG(st.st_mode)) return Target::Regular;
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return Target::Stream;
    if (S_ISDIR(st.st_mode)) return Target::Folder;
    return Target::Other;
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

void copy_permissions(const std::string &original, std::FILE *temp) {
    const int fd = fileno(temp);
    struct stat st;
    if (!original.empty() && ::stat(original.c_str(), &st) == 0) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) { /* not ours to give: the file stays ours */ }
        ::fchmod(fd, st.st_mode & 07777);
        return;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
}

bool replace(const std::string &temp, const std::string &target) { return std::rename(temp.c_str(), target.c_str()) == 0; }

void *load_library(const std::string &path, std::string &error) {
    void *handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why = ::dlerror();
        error = why ? why : "cannot load " + path;
    }
    return handle;
}

void *library_symbol(void *library, const char *name) { return ::dlsym(library, name); }
void close_library(void *library) { ::dlclose(library); }
const char *library_suffix() { return ".so"; }

std::string error_text(int error) { return std::strerror(error); }

}  // namespace mwconv::sys
