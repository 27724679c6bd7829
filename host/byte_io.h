// A byte at a time from or to a C stream, without taking the stream's lock:
// a conversion uses its streams on the one thread that runs it, and the lock
// would cost more than the byte.
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

}  // namespace kavrel
