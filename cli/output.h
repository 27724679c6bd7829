#pragma once

#include <cstdio>
#include <string>

namespace mwconv {

// Writes the whole of `result` to `target` ("-": standard output).  A file is
// written beside the target under a temporary name and renamed into place, so
// a failure leaves no partial file.
bool deliver(std::FILE *result, const std::string &target, std::string &error);

}  // namespace mwconv
