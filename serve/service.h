// mwconv serve: the converter as an HTTP service and a web page, on the
// same library as the command.
#pragma once

#include <string>
#include <vector>

namespace mwconv::serve {

// `mwconv serve [options]` (`args` after "serve"): serves until SIGTERM or
// SIGINT; the command's exit status.
int run(const std::vector<std::string> &args);

}  // namespace mwconv::serve
