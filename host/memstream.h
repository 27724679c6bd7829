// A seekable read-write stream over a growing memory buffer, freed on fclose.
#pragma once

#include <cstdio>

namespace kavrel {

// Never null (aborts when the system cannot make one, as salloc does).
std::FILE *open_memory_stream();

}  // namespace kavrel
