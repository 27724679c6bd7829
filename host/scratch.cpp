#include "host/scratch.h"

#include <fcntl.h>

#if defined(_WIN32)
#include <io.h>

#include "host/wide.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

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

// A new open file description of the file that `fd` leads to.
int reopen_descriptor(int fd) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::open(self.c_str(), O_RDWR | O_CLOEXEC);
}

#endif

#if defined(__GLIBC__)

// Making a file costs the file system far more than writing a few kilobytes
// to one (ext4 allocates an inode and journals it, and frees both again when
// the file closes), and a conversion uses half a dozen scratch streams.  So
// a thread keeps the unnamed files it made and lends each to one stream at a
// time, through a stream of the C library's own kind (a cookie stream) that
// reads and writes the file at its own position.  When the last stream on a
// file closes, the file is emptied (truncated to nothing) before the thread
// may lend it again: nothing a stream wrote stays on disk after it closed.
// The files have no name, so nothing of them outlives the process.
struct KeptFile {
    KeptFile(std::string in, int descriptor) : folder(std::move(in)), fd(descriptor) {}
    KeptFile(const KeptFile &) = delete;
    KeptFile &operator=(const KeptFile &) = delete;
    ~KeptFile() {
        empty();  // so that closing writes nothing back to disk
        ::close(fd);
    }

    bool empty() {
        if (written.load() && ::ftruncate(fd, 0) == 0) written = false;
        return !written.load();
    }
    bool lendable(const std::string &in) const { return streams.load() == 0 && !written.load() && folder == in; }

    const std::string folder;
    const int fd;
    std::atomic<int> streams{0};       // open on it now
    std::atomic<bool> written{false};  // since it was last emptied
    std::unique_ptr<char[]> buffer;    // the stdio buffer of the stream it is lent to
};

// One stream on a kept file.  Streams may close on any thread, also after
// the thread that lent them ended: each holds its file.
struct Lent {
    std::shared_ptr<KeptFile> file;
    std::FILE *stream = nullptr;
    off64_t at = 0;
};

// The streams lent, so that a second one can be opened on a stream's file.
class LentStreams {
public:
    void add(std::FILE *f, Lent *lent) {
        const std::lock_guard<std::mutex> lock(mutex_);
        lent_[f] = lent;
    }
    void remove(std::FILE *f) {
        const std::lock_guard<std::mutex> lock(mutex_);
        lent_.erase(f);
    }
    std::shared_ptr<KeptFile> file_of(std::FILE *f) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = lent_.find(f);
        return it == lent_.end() ? nullptr : it->second->file;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::FILE *, Lent *> lent_;
};

LentStreams &lent_streams() {
    static auto *const streams = new LentStreams;  // never destroyed: streams may close while the process exits
    return *streams;
}

ssize_t read_lent(void *cookie, char *buffer, size_t n) {
    Lent &lent = *static_cast<Lent *>(cookie);
    const ssize_t got = ::pread(lent.file->fd, buffer, std::min<size_t>(n, 16384), lent.at);
    if (got > 0) lent.at += got;
    return got;
}

// Short only when the file refuses (a full disk, a size limit), with errno
// saying why: the C library then marks the stream's error.
ssize_t write_lent(void *cookie, const char *data, size_t n) {
    Lent &lent = *static_cast<Lent *>(cookie);
    lent.file->written = true;
    size_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(lent.file->fd, data + done, n - done, lent.at);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<size_t>(put);
        lent.at += put;
    }
    return static_cast<ssize_t>(done);
}

int seek_lent(void *cookie, off64_t *offset, int whence) {
    Lent &lent = *static_cast<Lent *>(cookie);
    off64_t base = whence == SEEK_CUR ? lent.at : 0;
    if (whence == SEEK_END) {
        struct stat st;
        if (::fstat(lent.file->fd, &st) != 0) return -1;
        base = st.st_size;
    }
    if (*offset < -base) {
        errno = EINVAL;
        return -1;
    }
    lent.at = *offset = base + *offset;
    return 0;
}

// The last stream on a file empties it, then lets it be lent again; no
// stream can be added meanwhile, as a second one is opened from a first.
int close_lent(void *cookie) {
    const std::unique_ptr<Lent> lent(static_cast<Lent *>(cookie));
    lent_streams().remove(lent->stream);
    KeptFile &file = *lent->file;
    for (int open = file.streams.load();;) {
        if (open == 1) {
            file.empty();
            file.streams = 0;
            return 0;
        }
        if (file.streams.compare_exchange_weak(open, open - 1)) return 0;
    }
}

constexpr cookie_io_functions_t kLentIo{read_lent, write_lent, seek_lent, close_lent};

// A document of some megabytes passes through a scratch stream: in blocks
// of this size it takes a few hundred system calls, not thousands.
constexpr size_t kBufferSize = 64 * 1024;

// A stream on `file`, in `mode`; `buffered`: through the file's own buffer
// (its first stream), else through one the C library makes.
std::FILE *lend(const std::shared_ptr<KeptFile> &file, const char *mode, bool buffered) {
    auto lent = std::make_unique<Lent>(Lent{file});
    std::FILE *f = ::fopencookie(lent.get(), mode, kLentIo);
    if (f == nullptr) return nullptr;
    ++file->streams;
    if (buffered) {
        if (!file->buffer) file->buffer = std::make_unique<char[]>(kBufferSize);
        std::setvbuf(f, file->buffer.get(), _IOFBF, kBufferSize);
    }
    lent->stream = f;
    lent_streams().add(f, lent.release());
    return f;
}

class FilePool {
public:
    // A stream on an empty file in `folder`; null with errno set when no
    // file can be made there.
    std::FILE *open(const std::string &folder) {
        for (const std::shared_ptr<KeptFile> &file : files_)
            if (file->lendable(folder)) return lend(file, "w+", true);
        const int fd = unnamed_file(folder);
        if (fd < 0) return nullptr;
        auto file = std::make_shared<KeptFile>(folder, fd);
        if (files_.size() < kMaxFiles) files_.push_back(file);  // past that, a file goes with its stream
        return lend(file, "w+", true);
    }

    // Files still lent close with their last stream.
    void release() { files_.clear(); }

private:
    // More than a conversion, its upload and its answer hold open at once.
    static constexpr size_t kMaxFiles = 16;

    std::vector<std::shared_ptr<KeptFile>> files_;
};

thread_local FilePool t_pool;

std::FILE *new_stream() { return t_pool.open(scratch_folder()); }

std::shared_ptr<KeptFile> kept_file_of(std::FILE *f) { return lent_streams().file_of(f); }

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

// Without cookie streams each stream has a file of its own, which goes when
// the stream closes.
std::FILE *new_stream() {
    const int fd = unnamed_file(scratch_folder());
    if (fd < 0) return nullptr;
#if defined(_WIN32)
    std::FILE *f = ::_fdopen(fd, "w+b");
#else
    std::FILE *f = ::fdopen(fd, "w+b");
#endif
    if (f == nullptr) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return f;
}

std::FILE *dead_stream() { return std::tmpfile(); }

#endif

}  // namespace

std::FILE *stream_on_descriptor(int fd, char *buffer, size_t size) {
    std::FILE *f = ::fdopen(fd, "w+b");
    if (f == nullptr) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return nullptr;
    }
    if (buffer != nullptr) std::setvbuf(f, buffer, _IOFBF, size);
    return f;
}

std::FILE *try_scratch_stream() { return new_stream(); }

std::FILE *reopen_scratch_stream(std::FILE *f) {
#if defined(__GLIBC__)
    if (const std::shared_ptr<KeptFile> file = kept_file_of(f)) return lend(file, "r", false);
#else
    (void)f;
#endif
    return nullptr;
}

bool empty_stream(std::FILE *f) {
    std::fflush(f);  // a write it loses leaves the stream's error indicator set
#if defined(__GLIBC__)
    if (const std::shared_ptr<KeptFile> file = kept_file_of(f)) {
        if (!file->empty()) return false;
        std::rewind(f);
        return true;
    }
#endif
#if defined(_WIN32)
    if (::_chsize(_fileno(f), 0) != 0) return false;
#else
    if (::ftruncate(fileno(f), 0) != 0) return false;
    settle_emptied(fileno(f));
#endif
    std::rewind(f);
    return true;
}

void release_scratch_files() {
#if defined(__GLIBC__)
    t_pool.release();
#endif
}

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

void settle_emptied(int fd) {
#if defined(_WIN32)
    (void)fd;
#else
    const int settle = reopen_descriptor(fd);
    if (settle >= 0) ::close(settle);
#endif
}

std::FILE *open_scratch_stream() {
    std::FILE *f = new_stream();
    if (f != nullptr) return f;
    record_scratch_failure(errno);
    f = dead_stream();
    if (f == nullptr) std::abort();  // not even a few bytes of memory left
    return f;
}

}  // namespace kavrel
