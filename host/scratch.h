// Anonymous scratch streams: seekable, readable and writable, with no name in
// the file system (an unlinked temporary file), removed when closed.
#pragma once

#include <cstdio>

namespace kavrel {

// Never null: a host without room for a scratch file cannot convert at all,
// and stops with a message (as salloc does when memory runs out).
std::FILE *open_scratch_stream();

}  // namespace kavrel
