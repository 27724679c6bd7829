// Files that must not outlive the process: temporary outputs and the named
// scratch file of an import.  A signal that ends mwconv (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT) removes them before the process dies with that signal.
// A file size limit (SIGXFSZ) is ignored, so that the write fails and is
// reported rather than ending the process.
#pragma once

#include <string>

namespace mwconv {

// Installs the handlers; call once, before any file is registered.
void install_cleanup_handlers();

// Removes every registered file now, for a process about to end without
// unwinding (its threads still running).
void remove_pending_files();

// Registers a file to remove if a signal ends the process; the returned
// ticket unregisters it (the file itself is left alone).
class PendingFile {
public:
    PendingFile() = default;
    explicit PendingFile(const std::string &path) { track(path); }
    // Registers `path` in place of what was registered before.
    void track(const std::string &path);
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

private:
    int slot_ = -1;
};

}  // namespace mwconv
