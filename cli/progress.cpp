#include "cli/progress.h"

#include <cstdio>

#include "lib/system.h"

namespace mwconv {

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(80);

}  // namespace

void Progress::started(const std::string &name) {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = name;
    draw_locked(false);
}

void Progress::finished(bool failed) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (failed) ++failed_;
    draw_locked(done_ == total_);
}

void Progress::line(const std::string &text) {
    std::lock_guard<std::mutex> lock(mutex_);
    erase_locked();
    std::fprintf(stderr, "%s\n", text.c_str());
    draw_locked(true);
}

void Progress::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    erase_locked();
    enabled_ = false;
}

void Progress::erase_locked() {
    if (!shown_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

void Progress::draw_locked(bool force) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - last_draw_ < kRedrawEvery) return;
    last_draw_ = now;
    std::string text = "[" + std::to_string(done_) + "/" + std::to_string(total_) + "]";
    if (failed_ > 0) text += " " + std::to_string(failed_) + " failed";
    text += " " + current_;
    const size_t width = sys::terminal_width() - 1;
    if (text.size() > width) text = text.substr(0, width);
    std::fprintf(stderr, "\r\x1b[K%s", text.c_str());
    std::fflush(stderr);
    shown_ = true;
}

}  // namespace mwconv
