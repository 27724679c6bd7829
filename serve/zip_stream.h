// A folder sent as a zip while it is written: nothing of the archive is
// held whole, in memory or on disk.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace mwconv::serve {

struct ZipText {
    std::string path;     // inside the archive
    std::string content;
};

using ZipWrite = std::function<bool(const char *data, size_t length)>;

// The files under `root`, in name order.
std::vector<std::filesystem::path> files_under(const std::filesystem::path &root);

// Writes every file under `root` (paths relative to it, in name order, each
// dated with its modification time), then `texts`, as a zip through
// `write`; false when the archive could not be written (the receiver went
// away, a file could not be read).
bool write_zip(const std::filesystem::path &root, const std::vector<ZipText> &texts, const ZipWrite &write);

}  // namespace mwconv::serve
