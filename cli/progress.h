// Reporting a batch on standard error: messages as whole lines, a progress
// line redrawn in place on a terminal, and the closing summary.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace mwconv {

class Progress {
public:
    // The progress line shows only when `enabled` (standard error is a
    // terminal, the run is not quiet and the batch is long enough).
    Progress(size_t total, bool enabled) : total_(total), enabled_(enabled) {}

    void started(const std::string &name);
    // One file finished; `failed` counts it among the failures.
    void finished(bool failed);
    // A whole line, printed above the progress line.
    void line(const std::string &text);
    // Removes the progress line.
    void close();

private:
    void draw_locked(bool force);
    void erase_locked();

    std::mutex mutex_;
    size_t total_, done_ = 0, failed_ = 0;
    bool enabled_, shown_ = false;
    std::string current_;
    std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace mwconv
