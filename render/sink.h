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
    struct Discard {};
    explicit Sink(Discard) : discard_(true) {}        // keeps nothing
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;

    void put(std::string_view s) {
        if (s.empty()) return;
        last_ = s.back();
        written_ = true;
        if (discard_) return;
        buffer_.append(s);
        if (file_ != nullptr && buffer_.size() >= kFlushAt) flush();
    }
    void put(char c) { put(std::string_view(&c, 1)); }

    // A run of BMP code points as UTF-8.
    void put_utf8(std::u16string_view run) {
        if (run.empty()) return;
        if (discard_) {
            const char16_t c = run.back();  // the last byte of its UTF-8
            last_ = static_cast<char>(c < 0x80 ? c : 0x80 | (c & 0x3F));
            written_ = true;
            return;
        }
        const size_t at = buffer_.size();
        buffer_.resize(at + 3 * run.size());
        char *const start = buffer_.data() + at;
        char *p = start;
        for (char16_t c : run) {
            if (c < 0x80) {
                *p++ = static_cast<char>(c);
            } else if (c < 0x800) {
                *p++ = static_cast<char>(0xC0 | c >> 6);
                *p++ = static_cast<char>(0x80 | (c & 0x3F));
            } else {
                *p++ = static_cast<char>(0xE0 | c >> 12);
                *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                *p++ = static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        buffer_.resize(at + static_cast<size_t>(p - start));
        last_ = buffer_.back();
        written_ = true;
        if (file_ != nullptr && buffer_.size() >= kFlushAt) flush();
    }

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
    bool discard_ = false;
};

}  // namespace render
