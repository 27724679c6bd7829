// The SHA-256 of a member's data fork, as --identify lists it: through
// nettle (which libarchive itself links) or, on Windows, the system's CNG.
#pragma once

#include <string>

#include "containers/container.h"

namespace containers {

// Lowercase hexadecimal; throws Error when `source` cannot be read.
std::string sha256_hex(const Source &source);

}  // namespace containers
