// AppleSingle and AppleDouble, versions 1 and 2: a header listing entries
// (data fork, resource fork, real name, Finder info, dates).  AppleSingle
// carries a whole file; AppleDouble its Finder information and resource fork
// beside the data file ("._NAME", "__MACOSX/DIR/._NAME"), which give their
// data file its type, creator and dates and are never members of their own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "containers/container.h"

namespace containers {

// Whether `name` is an AppleDouble companion's name ("._NAME"), and if so
// the name of the data file it belongs to.
std::optional<std::string> companion_of(const std::string &name);

// The path of the data file that an archive's companion at `path` (split
// into elements) describes: "._NAME" beside it or "__MACOSX/DIR/._NAME".
std::optional<std::vector<std::string>> companion_target(const std::vector<std::string> &path);

// Reads an AppleDouble (or AppleSingle) header from `source` and copies
// what it says into `member`: Finder type, creator and flags, dates, and the
// resource fork's length.  False, `member` untouched, when `source` is not
// one (a stray "._" file).
bool apply_companion(const Source &source, Member &member);

// The resource fork that the AppleDouble (or AppleSingle) file `source`
// carries, as a range of it; throws Error (kMember) when it carries none
// or its header is damaged.
std::unique_ptr<Source> companion_resource(std::shared_ptr<const Source> source);

}  // namespace containers
