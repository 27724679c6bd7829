// A run of mwconv over its inputs: single files, several files, folders.
#pragma once

#include "cli/options.h"
#include "lib/plugin.h"

namespace mwconv {

// Converts every input as the options say and returns the exit status: the
// worst of all files (a file found in a folder that is not a MacWrite
// document is skipped and does not count).
int run_conversions(const Plugin &plugin, const Options &options);

}  // namespace mwconv
