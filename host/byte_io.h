// Bytes from or to a C stream without taking the stream's lock: a
// conversion uses its streams on the one thread that runs it, and the lock
// would cost more than a byte.
#pragma once

#include <cstdio>

namespace kavrel {

inline int get_byte(std::FILE *f) {
#if defined(_WIN32)
    return _getc_nolock(f);
#else
    return getc_unlocked(f);
#endif
}

inline void put_byte(std::FILE *f, int c) {
#if defined(_WIN32)
    _putc_nolock(c, f);
#else
    putc_unlocked(c, f);
#endif
}

inline size_t put_bytes(std::FILE *f, const void *bytes, size_t n) {
#if defined(__GLIBC__)
    return fwrite_unlocked(bytes, 1, n, f);
#else
    return std::fwrite(bytes, 1, n, f);
#endif
}

}  // namespace kavrel
