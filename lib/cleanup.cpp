#include "lib/cleanup.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "lib/system.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace mwconv {

namespace {

// A signal handler can reach only static storage, and may neither lock nor
// allocate: the registry is a fixed array of atomic slots, each holding a
// path that the handler unlinks.  One slot or two per running conversion.
constexpr int kSlots = 512;
std::atomic<char *> g_pending[kSlots];

void remove_pending() {
    for (auto &slot : g_pending) {
        if (char *path = slot.load()) sys::remove_file(path);
    }
}

#if defined(_WIN32)

// Ctrl+C, Ctrl+Break and closing the console end the process after this
// handler, which runs on a thread of its own.
BOOL WINAPI remove_pending_on_exit(DWORD) {
    remove_pending();
    return FALSE;
}

}  // namespace

void install_cleanup_handlers() { ::SetConsoleCtrlHandler(remove_pending_on_exit, TRUE); }

#else

extern "C" void remove_pending_and_die(int sig) {
    remove_pending();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void install_cleanup_handlers() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction action {};
        action.sa_handler = remove_pending_and_die;
        sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, nullptr);
    }
    // Past a file size limit a write fails (and is reported) instead of the
    // signal ending the process with a partial file.
    std::signal(SIGXFSZ, SIG_IGN);
}

#endif

void remove_pending_files() { remove_pending(); }

void PendingFile::track(const std::string &path) {
    char *copy = ::strdup(path.c_str());
    if (copy == nullptr) return;
    if (slot_ >= 0) {
        std::free(g_pending[slot_].exchange(copy));
        return;
    }
    for (int i = 0; i < kSlots; ++i) {
        char *expected = nullptr;
        if (g_pending[i].compare_exchange_strong(expected, copy)) {
            slot_ = i;
            return;
        }
    }
    std::free(copy);  // full: this file goes unguarded
}

PendingFile::~PendingFile() {
    if (slot_ >= 0) std::free(g_pending[slot_].exchange(nullptr));
}

}  // namespace mwconv
