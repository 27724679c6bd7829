#include "host/scratch.h"

#include <fcntl.h>

#if defined(_WIN32)
#include <io.h>

#include "host/wide.h"
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>

namespace kavrel {

namespace {

// One conversion runs on a thread at a time, so the thread is the conversion.
thread_local int t_failure = 0;

#if defined(_WIN32)

// Windows deletes the file when its last handle closes, also when the
// process ends any other way.
int unnamed_file(const std::string &folder) {
    wchar_t name[MAX_PATH];
    if (::GetTempFileNameW(kavrel::wide(folder).c_str(), L"mwc", 0, name) == 0) {
        errno = ENOENT;
        return -1;
    }
    HANDLE h = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        ::DeleteFileW(name);
        errno = EACCES;
        return -1;
    }
    return ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
}

#else

int unnamed_file(const std::string &folder) {
#ifdef O_TMPFILE
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
#endif
    std::string path = folder + "/mwconv-XXXXXX";
    const int named = ::mkostemp(path.data(), O_CLOEXEC);
    if (named >= 0) ::unlink(path.c_str());
    return named;
}

#endif

#if defined(__GLIBC__)

// The stand-in for a scratch file that could not be made: it holds nothing.
ssize_t read_nothing(void *, char *, size_t) { return 0; }
ssize_t refuse_write(void *, const char *, size_t) {
    record_scratch_failure(ENOSPC);
    return 0;
}
int refuse_seek(void *, off64_t *, int) { return -1; }

std::FILE *dead_stream() {
    const cookie_io_functions_t io{read_nothing, refuse_write, refuse_seek, nullptr};
    return ::fopencookie(nullptr, "w+", io);
}

#else

std::FILE *dead_stream() { return std::tmpfile(); }

#endif

}  // namespace

std::string scratch_folder() {
#if defined(_WIN32)
    wchar_t path[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, path);
    std::string folder = n == 0 ? std::string(".") : kavrel::narrow(std::wstring(path, n));
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
#endif
    const char *dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

int scratch_failure() { return t_failure; }

void reset_scratch_failure() { t_failure = 0; }

void record_scratch_failure(int error) {
    if (t_failure == 0) t_failure = error != 0 ? error : EIO;
}

bool check_stream(std::FILE *f) {
    errno = 0;
    if (std::fflush(f) == 0 && std::ferror(f) == 0) return true;
    record_scratch_failure(errno);
    return false;
}

std::FILE *open_scratch_stream() {
    const int fd = unnamed_file(scratch_folder());
#if defined(_WIN32)
    std::FILE *f = fd < 0 ? nullptr : ::_fdopen(fd, "w+b");
#else
    std::FILE *f = fd < 0 ? nullptr : ::fdopen(fd, "w+b");
#endif
    if (f != nullptr) return f;
    record_scratch_failure(errno);
    if (fd >= 0) ::close(fd);
    f = dead_stream();
    if (f == nullptr) std::abort();  // not even a few bytes of memory left
    return f;
}

}  // namespace kavrel
