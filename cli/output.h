// Delivering a finished output to where the user asked for it.
#pragma once

#include <cstdio>
#include <string>

namespace mwconv {

// Writes the whole of `result` to `target` ("-": standard output).
// - A regular file (or a new one) is written beside the target under a
//   temporary name and moved into place, keeping the permissions of the file
//   it replaces, so a failure leaves no partial file.  Symbolic links are
//   followed: the file they point at is written, the link stays.
// - A character device or a FIFO is written straight into; nothing replaces it.
// - A folder, a block device or a socket is refused.
bool deliver(std::FILE *result, const std::string &target, std::string &error);

}  // namespace mwconv
