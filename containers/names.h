// Names that containers give their members, made into output paths.  This
// is the one place where a name read from a container becomes part of a
// path on the output file system, so that nothing a container says can
// place a file outside the output folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace containers {

// Whether `s` is well-formed UTF-8.
bool is_utf8(std::string_view s);

// A name in CP437, the character set of a zip's names unless it flags
// them as UTF-8, as UTF-8.
std::string cp437_to_utf8(std::string_view name);

// One path element as a file name that is safe on the output file system:
// "/" in a Mac name becomes ":" (as macOS shows it; "_" on Windows, where a
// colon is reserved), control characters, NUL and malformed UTF-8 become
// "_", an empty name, "." and ".." become "_", "_." and "__", a name the
// system reserves is prefixed with "_", and a name too long for a file
// system is cut.  When the name had to change (beyond "/" to ":"), `change`
// says how; otherwise it is left empty.
std::string safe_name(const std::string &name, std::string &change);

// A member's path as a relative output path, its elements joined by "/",
// each made safe; every change is added to `changes`.  Never absolute,
// never with a ".." element.
std::string safe_path(const std::vector<std::string> &path, std::vector<std::string> &changes);

// An archive's path ("a/b/c", "/a/b", "./a//b") split into its elements; on
// Windows the backslash separates too.  Empty and "." elements are dropped;
// ".." is kept, for safe_name to change.
std::vector<std::string> split_archive_path(const std::string &path);

}  // namespace containers
