#include "host/scratch.h"

#include <cstdlib>

namespace kavrel {

// A real file rather than a memory stream: the C library's memory streams do
// not all keep their position right across seeks relative to the current one,
// and a file keeps memory use flat however large a document is.
std::FILE *open_scratch_stream() {
    std::FILE *f = std::tmpfile();
    if (f == nullptr) {
        std::perror("cannot create a scratch file");
        std::abort();
    }
    return f;
}

}  // namespace kavrel
