// What mwconv needs of the operating system, in one place: POSIX in
// system_posix.cpp, Windows in system_windows.cpp.  Paths are UTF-8
// everywhere in mwconv; on Windows they become wide-character paths here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mwconv::sys {

// The command line as UTF-8 (Windows hands it over in its own code page).
std::vector<std::string> arguments(int argc, char **argv);

// Standard input and output carry bytes, never translated line ends.
void binary_standard_streams();

std::filesystem::path to_path(const std::string &utf8);
std::string utf8_of(const std::filesystem::path &path);

std::FILE *open_file(const std::string &path, const char *mode);

// A stream that closes itself.
struct FileCloser {
    void operator()(std::FILE *f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
bool is_folder(std::FILE *f);
// A second stream, for reading, on the file that `f` is open on; null with
// errno set on failure.
std::FILE *reopen_for_reading(std::FILE *f);
std::string executable_dir();

// A file as the system knows it, whatever name leads to it.
struct FileId {
    uint64_t device = 0, index = 0;
    bool operator==(const FileId &) const = default;
};
bool file_id(const std::string &path, FileId &id);
bool file_id(std::FILE *f, FileId &id);  // regular files only

bool stderr_is_terminal();
size_t terminal_width();

// A new file with a unique name in `folder` (name begins with `prefix`),
// open for reading and writing; null with errno set on failure.  `claim` is
// told each name before the file is made, so that a signal arriving while the
// file is created finds it registered for removal.
std::FILE *create_unique(const std::string &folder, const std::string &prefix, std::string &path,
                         const std::function<void(const std::string &)> &claim);

// Six letters or digits that no other call is likely to give.
std::string unique_suffix();
bool remove_file(const std::string &path);

// The named scratch file an import writes into, so that a converter may
// rebuild its output by that name (path): empty, open for reading and
// writing; null with errno set on failure.  Registered for removal by a
// signal.  On POSIX systems the thread keeps the file for its next import
// and removes it when it ends, since making a file costs far more than
// emptying one; on Windows each import has its own.
std::FILE *open_named_scratch(const std::string &folder, std::string &path);
// The import is done with the name: `f`, the stream that holds its output
// now (null when it was lost), stays readable, and the name will not be used
// again by this conversion.
void release_named_scratch(std::FILE *&f, const std::string &path);
// Empties the named scratch file that the thread keeps for its next import.
void empty_kept_scratch();
// Removes it.
void release_kept_scratch();

// What an output path leads to.
enum class Target { Missing, Regular, Stream, Folder, Other };
Target target_kind(const std::string &path);
// The path that a write to `target` lands on: links followed, even one that
// points at a file not made yet.
std::string resolve_target(const std::string &target);
// Gives `temp` the permissions (and owner, where allowed) of `original`, or
// those of a new file when `original` is empty.
void copy_permissions(const std::string &original, std::FILE *temp);
// Moves `temp` over `target`, replacing it.
bool replace(const std::string &temp, const std::string &target);

// A loaded shared library.
void *load_library(const std::string &path, std::string &error);
void *library_symbol(void *library, const char *name);
void close_library(void *library);
const char *library_suffix();  // ".so", ".dll"

// Sets a file's modification time (Unix seconds); quietly leaves it when
// the system refuses.
void set_modified(const std::string &path, int64_t unix_seconds);

// The system's message for an error number.
std::string error_text(int error);

}  // namespace mwconv::sys
