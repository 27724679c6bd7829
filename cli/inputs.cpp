#include "cli/inputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "lib/members.h"
#include "lib/system.h"

namespace mwconv {

namespace fs = std::filesystem;

namespace {

bool hidden(const fs::path &p) {
    const std::string name = sys::utf8_of(p.filename());
    return (!name.empty() && name[0] == '.') || name == "__MACOSX";
}

void walk(const std::string &root, std::vector<InputFile> &out) {
    std::vector<InputFile> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(sys::to_path(root), fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::directory_entry &entry = *it;
        if (hidden(entry.path())) {
            if (entry.is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (!entry.is_regular_file(ec)) continue;
        found.push_back(InputFile{sys::utf8_of(entry.path()), sys::utf8_of(entry.path().lexically_relative(sys::to_path(root))), true,
                                  companion_of(sys::to_path(root), entry.path())});
    }
    std::sort(found.begin(), found.end(), [](const InputFile &a, const InputFile &b) { return a.relative < b.relative; });
    out.insert(out.end(), found.begin(), found.end());
}

}  // namespace

bool is_folder(const std::string &path) {
    std::error_code ec;
    return path != "-" && fs::is_directory(sys::to_path(path), ec);
}

std::vector<InputFile> expand_inputs(const std::vector<std::string> &inputs) {
    std::vector<InputFile> files;
    for (const std::string &input : inputs) {
        if (is_folder(input)) {
            walk(input, files);
        } else {
            const std::string name = input == "-" ? "stdin" : sys::utf8_of(sys::to_path(input).filename());
            const std::string beside = input == "-" ? std::string() : companion_of(sys::to_path(input).parent_path(), sys::to_path(input));
            files.push_back(InputFile{input, name, false, beside});
        }
    }
    return files;
}

}  // namespace mwconv
