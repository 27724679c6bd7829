// mwconv --identify: what each file is, without converting it.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/options.h"
#include "cli/plugin.h"

namespace mwconv {

// Prints one line (or one JSON object) per file, folders walked as for a
// batch.  Returns 0, 2 when a file named on the command line is not a
// MacWrite document, 3 when a file cannot be read.
int identify_files(const Plugin &plugin, const Options &options);

// What --identify says of the document open in `f`: for a MacWrite
// document, its JSON fields (those after "file") and its words (those after
// "FILE: "); both left empty for anything else.
void identify_document(const Plugin &plugin, std::FILE *f, nlohmann::ordered_json &fields, std::string &text);

}  // namespace mwconv
