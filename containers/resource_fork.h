// Resources in a Macintosh resource fork: a header locating the resource
// data and the map, the map's list of types, each type's list of
// references (id, name, where the data lies).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "containers/container.h"

namespace containers {

// The bytes of the first resource of `type` (four characters) in `fork`,
// at most `most` of them; nullopt when the fork holds none or its map does
// not parse.  Throws Error (kMember) when the resource claims more.
std::optional<std::vector<uint8_t>> find_resource(const Source &fork, const char *type, uint32_t most);

}  // namespace containers
