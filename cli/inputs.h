// The files a run works on: inputs as given, folders walked.
#pragma once

#include <string>
#include <vector>

namespace mwconv {

struct InputFile {
    std::string path;      // as given, or found under a folder given; "-" for standard input
    std::string relative;  // the name its output takes under an output folder
    bool found = false;    // found by walking a folder rather than named
    std::string companion = {};  // its AppleDouble companion ("._NAME" beside it or in __MACOSX/), if any
};

// Expands the inputs in order.  A folder is walked recursively, in name
// order, skipping hidden files and folders (names starting with a dot, which
// covers AppleDouble companions "._name") and "__MACOSX" folders; only
// regular files (or links to them) are taken.  A file's companion, beside it
// or in the mirror under "__MACOSX" at the folder's top, is noted with it.  An input that does not exist
// is kept, so that converting it reports the problem.
std::vector<InputFile> expand_inputs(const std::vector<std::string> &inputs);

bool is_folder(const std::string &path);

}  // namespace mwconv
