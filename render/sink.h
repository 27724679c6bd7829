// Where a renderer's output goes: straight to the output file, buffered, or
// held in memory (a page footer or the notes, written at the end).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace render {

class Sink {
public:
    Sink() = default;                                  // holds what it is given
    explicit Sink(std::FILE *file) : file_(file) {}   // writes to `file`
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;

    void put(std::string_view s) {
        if (s.empty()) return;
        buffer_.append(s);
        last_ = s.back();
        written_ = true;
        if (file_ != nullptr && buffer_.size() >= kFlushAt) flush();
    }
    void put(char c) { put(std::string_view(&c, 1)); }

    bool empty() const { return !written_; }
    char last() const { return last_; }  // '\0' while empty
    // What a holding sink holds.
    const std::string &held() const { return buffer_; }

    // Writes what is buffered; false once any write to the file failed.
    bool flush() {
        if (file_ != nullptr && !buffer_.empty()) {
            ok_ = ok_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
            buffer_.clear();
        }
        return ok_;
    }

private:
    static constexpr size_t kFlushAt = 1 << 16;
    std::FILE *file_ = nullptr;
    std::string buffer_;
    char last_ = '\0';
    bool written_ = false;
    bool ok_ = true;
};

}  // namespace render
