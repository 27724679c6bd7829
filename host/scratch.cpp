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
#include <cstring>
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

    // The last stream on the file empties it, then lets it be lent again; no
    // stream can be added meanwhile, as a second one is opened from a first.
    void leave() {
        for (int open = streams.load();;) {
            if (open == 1) {
                empty();
                streams = 0;
                return;
            }
            if (streams.compare_exchange_weak(open, open - 1)) return;
        }
    }

    const std::string folder;
    const int fd;
    std::atomic<int> streams{0};       // open on it now
    std::atomic<bool> written{false};  // since it was last emptied
    std::unique_ptr<char[]> buffer;    // the stdio buffer of the stream it is lent to
};

class FilePool {
public:
    // An empty file in `folder`, counted as lent to one stream; null with
    // errno set when no file can be made there.
    std::shared_ptr<KeptFile> take(const std::string &folder) {
        for (const std::shared_ptr<KeptFile> &file : files_)
            if (file->lendable(folder)) {
                ++file->streams;
                return file;
            }
        const int fd = unnamed_file(folder);
        if (fd < 0) return nullptr;
        auto file = std::make_shared<KeptFile>(folder, fd);
        if (files_.size() < kMaxFiles) files_.push_back(file);  // past that, a file goes with its stream
        ++file->streams;
        return file;
    }

    // Files still lent close with their last stream.
    void release() { files_.clear(); }

private:
    // More than a conversion, its upload and its answer hold open at once.
    static constexpr size_t kMaxFiles = 16;

    std::vector<std::shared_ptr<KeptFile>> files_;
};

thread_local FilePool t_pool;

// Most working streams of a conversion hold a few kilobytes, read back at
// once: those stay in memory, up to this size, and only a stream that grows
// past it moves to a kept file.
constexpr size_t kInMemory = 256 * 1024;

// One stream: its bytes in memory, or on a kept file.  Streams may close on
// any thread, also after the thread that lent their file ended: each holds
// its file.
struct Lent {
    explicit Lent(std::shared_ptr<KeptFile> on = nullptr) : file(std::move(on)) {}
    std::shared_ptr<KeptFile> file;  // null while the bytes are in memory
    std::string memory;
    std::FILE *stream = nullptr;
    off64_t at = 0;
    // A block of the file as last read, which a write through this stream
    // drops: the C library reads its buffer anew after every seek on a
    // stream of this kind, and readers seek often.
    std::unique_ptr<char[]> cache;
    off64_t cache_at = 0;
    size_t cache_length = 0;
};

// What a read gives at most: after a seek, the C library asks for a whole
// buffer, of which a reader that seeks again uses little.
constexpr size_t kReadBlock = 4 * 1024;
// The block a file is read in.
constexpr size_t kCacheBlock = 64 * 1024;

// Moves a stream's bytes from memory to a kept file; false with errno set
// when no file can take them.
bool spill(Lent &lent) {
    std::shared_ptr<KeptFile> file = t_pool.take(scratch_folder());
    if (!file) return false;
    file->written = true;
    for (size_t done = 0; done < lent.memory.size();) {
        const ssize_t put = ::pwrite(file->fd, lent.memory.data() + done, lent.memory.size() - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            const int saved = put < 0 ? errno : ENOSPC;
            file->leave();
            errno = saved;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    lent.file = std::move(file);
    std::string().swap(lent.memory);
    return true;
}

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
    // The stream's own, which only its holder uses.
    Lent *find(std::FILE *f) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = lent_.find(f);
        return it == lent_.end() ? nullptr : it->second;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::FILE *, Lent *> lent_;
};

LentStreams &lent_streams() {
    static auto *const streams = new LentStreams;  // never destroyed: streams may close while the process exits
    return *streams;
}

// Reads the block of the file around the stream's position; false on a
// read error (errno set).
bool fill_cache(Lent &lent) {
    if (!lent.cache) lent.cache = std::make_unique_for_overwrite<char[]>(kCacheBlock);
    const off64_t start = lent.at - lent.at % static_cast<off64_t>(kCacheBlock);
    ssize_t got;
    while ((got = ::pread(lent.file->fd, lent.cache.get(), kCacheBlock, start)) < 0 && errno == EINTR) {}
    lent.cache_length = got < 0 ? 0 : static_cast<size_t>(got);
    lent.cache_at = start;
    return got >= 0;
}

ssize_t read_lent(void *cookie, char *buffer, size_t n) {
    Lent &lent = *static_cast<Lent *>(cookie);
    const char *from = lent.memory.data();  // holding the bytes from `start` to `end`
    off64_t start = 0, end = static_cast<off64_t>(lent.memory.size());
    if (lent.file) {
        const bool cached = lent.at >= lent.cache_at && lent.at < lent.cache_at + static_cast<off64_t>(lent.cache_length);
        if (!cached && !fill_cache(lent)) return -1;
        from = lent.cache.get();
        start = lent.cache_at;
        end = start + static_cast<off64_t>(lent.cache_length);
    }
    if (lent.at >= end) return 0;
    n = static_cast<size_t>(std::min<off64_t>(static_cast<off64_t>(std::min(n, kReadBlock)), end - lent.at));
    std::memcpy(buffer, from + (lent.at - start), n);
    lent.at += static_cast<off64_t>(n);
    return static_cast<ssize_t>(n);
}

// Short only when no file takes the bytes (a full disk, a size limit): the
// C library then marks the stream's error, and the failure is recorded for
// the writing thread, as converters do not look at their writes.
ssize_t write_lent(void *cookie, const char *data, size_t n) {
    Lent &lent = *static_cast<Lent *>(cookie);
    if (!lent.file) {
        const size_t end = static_cast<size_t>(lent.at) + n;
        if (end <= kInMemory) {
            if (lent.memory.size() < end) lent.memory.resize(end);
            std::memcpy(lent.memory.data() + lent.at, data, n);
            lent.at += static_cast<off64_t>(n);
            return static_cast<ssize_t>(n);
        }
        if (!spill(lent)) {
            record_scratch_failure(errno);
            return 0;
        }
    }
    lent.file->written = true;
    lent.cache_length = 0;
    size_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(lent.file->fd, data + done, n - done, lent.at);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            record_scratch_failure(put < 0 ? errno : ENOSPC);
            break;
        }
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
        if (lent.file && ::fstat(lent.file->fd, &st) != 0) return -1;
        base = lent.file ? st.st_size : static_cast<off64_t>(lent.memory.size());
    }
    if (*offset < -base) {
        errno = EINVAL;
        return -1;
    }
    lent.at = *offset = base + *offset;
    return 0;
}

int close_lent(void *cookie) {
    const std::unique_ptr<Lent> lent(static_cast<Lent *>(cookie));
    lent_streams().remove(lent->stream);
    if (lent->file) lent->file->leave();
    return 0;
}

constexpr cookie_io_functions_t kLentIo{read_lent, write_lent, seek_lent, close_lent};

// A document of some megabytes passes through a scratch file: in blocks of
// this size it takes a few hundred system calls, not thousands.
constexpr size_t kBufferSize = 64 * 1024;

// A stream on `lent` in `mode`, through `buffer` of kBufferSize bytes
// (null: one the C library makes); null when none can be made, `lent`'s
// file then left.
std::FILE *open_lent(std::unique_ptr<Lent> lent, const char *mode, char *buffer) {
    std::FILE *f = ::fopencookie(lent.get(), mode, kLentIo);
    if (f == nullptr) {
        if (lent->file) lent->file->leave();
        return nullptr;
    }
    if (buffer != nullptr) std::setvbuf(f, buffer, _IOFBF, kBufferSize);
    lent->stream = f;
    lent_streams().add(f, lent.release());
    return f;
}

// A working stream: in memory until it grows.
std::FILE *new_stream() { return open_lent(std::make_unique<Lent>(), "w+", nullptr); }

// A stream on a kept file from its start.
std::FILE *new_file_stream() {
    std::shared_ptr<KeptFile> file = t_pool.take(scratch_folder());
    if (!file) return nullptr;
    if (!file->buffer) file->buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    char *buffer = file->buffer.get();
    return open_lent(std::make_unique<Lent>(std::move(file)), "w+", buffer);
}

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

std::FILE *new_file_stream() { return new_stream(); }

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

std::FILE *try_scratch_stream() { return new_file_stream(); }

std::FILE *reopen_scratch_stream(std::FILE *f) {
#if defined(__GLIBC__)
    Lent *lent = lent_streams().find(f);
    if (lent == nullptr) return nullptr;
    std::fflush(f);
    if (!lent->file && !spill(*lent)) return nullptr;  // a second position needs a file to share
    ++lent->file->streams;
    return open_lent(std::make_unique<Lent>(lent->file), "r", nullptr);
#else
    (void)f;
    return nullptr;
#endif
}

bool empty_stream(std::FILE *f) {
    std::fflush(f);  // a write it loses leaves the stream's error indicator set
#if defined(__GLIBC__)
    if (Lent *lent = lent_streams().find(f)) {
        if (lent->file && !lent->file->empty()) return false;
        lent->memory.clear();
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
