// mwconv --identify: what each file is, without converting it.
#pragma once

#include "cli/options.h"
#include "lib/plugin.h"

namespace mwconv {

// Prints one line (or one JSON object) per file, folders walked as for a
// batch.  Returns 0, 2 when a file named on the command line is not a
// MacWrite document, 3 when a file cannot be read.
int identify_files(const Plugin &plugin, const Options &options);

}  // namespace mwconv
