// Delivering a finished output to where the user asked for it.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace mwconv {

// A file as the system knows it, whatever name leads to it.
struct FileId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileId &) const = default;
};

// The file that `path` names now, following symbolic links; false when none.
bool file_id(const std::string &path, FileId &id);

// The path that a write to `target` lands on: symbolic links followed, even
// one that points to a file not made yet.
std::string resolve_target(const std::string &target);

// Writes the whole of `result` to `target` ("-": standard output).
// - A regular file (or a new one) is written beside the target under a
//   temporary name and renamed into place, keeping the permissions of the file
//   it replaces, so a failure leaves no partial file.
// - A character device or a FIFO is written straight into; nothing replaces it.
// - A folder, a block device or a socket is refused.
bool deliver(std::FILE *result, const std::string &target, std::string &error);

}  // namespace mwconv
