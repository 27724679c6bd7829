#include "host/memstream.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace kavrel {

#if defined(__GLIBC__)

namespace {

struct Buffer {
    std::vector<char> bytes;
    size_t pos = 0;
};

ssize_t mem_read(void *cookie, char *out, size_t size) {
    auto *b = static_cast<Buffer *>(cookie);
    if (b->pos >= b->bytes.size()) return 0;
    const size_t n = std::min(size, b->bytes.size() - b->pos);
    std::memcpy(out, b->bytes.data() + b->pos, n);
    b->pos += n;
    return static_cast<ssize_t>(n);
}

ssize_t mem_write(void *cookie, const char *in, size_t size) {
    auto *b = static_cast<Buffer *>(cookie);
    if (b->pos + size > b->bytes.size()) b->bytes.resize(b->pos + size);
    std::memcpy(b->bytes.data() + b->pos, in, size);
    b->pos += size;
    return static_cast<ssize_t>(size);
}

int mem_seek(void *cookie, off64_t *offset, int whence) {
    auto *b = static_cast<Buffer *>(cookie);
    off64_t base = 0;
    if (whence == SEEK_CUR) base = static_cast<off64_t>(b->pos);
    if (whence == SEEK_END) base = static_cast<off64_t>(b->bytes.size());
    const off64_t target = base + *offset;
    if (target < 0) return -1;
    b->pos = static_cast<size_t>(target);
    *offset = target;
    return 0;
}

int mem_close(void *cookie) {
    delete static_cast<Buffer *>(cookie);
    return 0;
}

}  // namespace

std::FILE *open_memory_stream() {
    auto *b = new Buffer;
    cookie_io_functions_t io{mem_read, mem_write, mem_seek, mem_close};
    std::FILE *f = fopencookie(b, "w+", io);
    if (f == nullptr) std::abort();
    return f;
}

#else

std::FILE *open_memory_stream() {
    std::FILE *f = std::tmpfile();
    if (f == nullptr) std::abort();
    return f;
}

#endif

}  // namespace kavrel
