// Where the real documents are: beside the clone, or MWCONV_CORPUS.
#pragma once

#include <cstdlib>
#include <filesystem>

namespace testing_support {

inline std::filesystem::path corpus_dir() {
    if (const char *env = std::getenv("MWCONV_CORPUS")) return env;
    return MWCONV_CORPUS_DIR;
}

}  // namespace testing_support
