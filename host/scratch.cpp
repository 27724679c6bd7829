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
#include <mutex>
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

// Making a file costs the file system far more than writing a few kilobytes
// to one (an inode is allocated and, on closing, freed again: around a
// hundred microseconds on ext4 once many files were freed recently), and a
// conversion uses half a dozen scratch streams.  So each thread keeps the
// unnamed files it made and lends them out again.  A stream gets an open
// file description of its own (reopened through /proc/self/fd) that holds
// an open-file-description lock; the lock goes when the stream closes, and
// the pool asks for it through its own descriptor, which no other thread
// uses.  Where that cannot be done, each stream has a new file, as without
// the pool.  The files have no name, so nothing of them outlives the
// process.
class FilePool {
public:
    FilePool() = default;
    FilePool(const FilePool &) = delete;
    FilePool &operator=(const FilePool &) = delete;
    ~FilePool() {
        for (const Slot &slot : slots_) {
            if (in_use(slot)) {
                keep_for_good(slot.buffer);  // a stream still open keeps its file and its buffer
            } else {
                (void)::ftruncate(slot.file, 0);  // so that closing writes nothing back to disk
                delete[] slot.buffer;
            }
            ::close(slot.file);
        }
    }

    // A stream on an empty file in `folder`; null with errno set when no
    // file can be made there.
    std::FILE *open(const std::string &folder) {
        if (Slot *slot = free_slot(folder)) {
            const int fd = lend(*slot);
            if (fd >= 0) {
                lent_once_ = true;
                if (slot->buffer == nullptr) slot->buffer = new char[kBufferSize];
                return stream_of(fd, slot->buffer);
            }
            if (!lent_once_) give_up();  // this system cannot lend files: every stream gets a new one
        }
        const int fd = unnamed_file(folder);
        return fd < 0 ? nullptr : stream_of(fd, nullptr);
    }

    void release_free() {
        std::erase_if(slots_, [](const Slot &slot) {
            if (in_use(slot)) return false;
            (void)::ftruncate(slot.file, 0);  // so that closing writes nothing back to disk
            ::close(slot.file);
            delete[] slot.buffer;
            return true;
        });
    }

private:
    // More than a conversion holds open at once.
    static constexpr size_t kMaxFiles = 16;
    // A document of some megabytes passes through a scratch stream: in
    // blocks of this size it takes a few hundred system calls, not thousands.
    static constexpr size_t kBufferSize = 64 * 1024;

    struct Slot {
        std::string folder;
        int file;
        char *buffer = nullptr;  // the stdio buffer of the stream lent out
    };

    Slot *free_slot(const std::string &folder) {
        if (!lending_) return nullptr;
        for (Slot &slot : slots_)
            if (slot.folder == folder && !in_use(slot) && empty(slot)) return &slot;
        if (slots_.size() >= kMaxFiles) return nullptr;  // a thread holding this many gets unpooled ones
        const int file = unnamed_file(folder);
        if (file < 0) return nullptr;
        slots_.push_back(Slot{folder, file});
        return &slots_.back();
    }

    // The lock on the first byte that a lent stream's description holds.
    static struct flock mark() {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0;
        lock.l_len = 1;
        return lock;
    }

    // A new description of the slot's file, at its start, marked as lent.
    static int lend(const Slot &slot) {
#ifdef F_OFD_SETLK
        const int fd = reopen(slot);
        if (fd < 0) return -1;
        struct flock lock = mark();
        if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return fd;
        ::close(fd);
#else
        (void)slot;
#endif
        return -1;
    }

    static bool in_use(const Slot &slot) {
#ifdef F_OFD_GETLK
        struct flock lock = mark();
        return ::fcntl(slot.file, F_OFD_GETLK, &lock) != 0 || lock.l_type != F_UNLCK;
#else
        (void)slot;
        return true;
#endif
    }

    void give_up() {
        for (const Slot &slot : slots_) ::close(slot.file);
        slots_.clear();
        lending_ = false;
    }

    static std::FILE *stream_of(int fd, char *buffer) { return stream_on_descriptor(fd, buffer, kBufferSize); }

    // The buffer of a stream that outlives the thread that opened it stays
    // for the rest of the process: nothing tells when the stream closes.
    static void keep_for_good(char *buffer) {
        static std::mutex mutex;
        static auto *const kept = new std::vector<char *>;  // never destroyed, as the buffers
        const std::lock_guard<std::mutex> lock(mutex);
        kept->push_back(buffer);
    }

    static bool empty(const Slot &slot) {
        struct stat st;
        if (::fstat(slot.file, &st) != 0) return false;
        if (st.st_size == 0) return true;
        if (::ftruncate(slot.file, 0) != 0) return false;
        settle_emptied(slot.file);
        return true;
    }

    static int reopen(const Slot &slot) { return reopen_descriptor(slot.file); }

    std::vector<Slot> slots_;
    bool lending_ = true, lent_once_ = false;
};

thread_local FilePool t_pool;

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

std::FILE *open_own_scratch_stream() {
    const int fd = unnamed_file(scratch_folder());
    return fd < 0 ? nullptr : stream_on_descriptor(fd, nullptr, 0);
}

void release_scratch_files() {
#if !defined(_WIN32)
    t_pool.release_free();
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
#if defined(_WIN32)
    const int fd = unnamed_file(scratch_folder());
    std::FILE *f = fd < 0 ? nullptr : ::_fdopen(fd, "w+b");
    if (f == nullptr && fd >= 0) ::close(fd);
#else
    std::FILE *f = t_pool.open(scratch_folder());
#endif
    if (f != nullptr) return f;
    record_scratch_failure(errno);
    f = dead_stream();
    if (f == nullptr) std::abort();  // not even a few bytes of memory left
    return f;
}

}  // namespace kavrel
