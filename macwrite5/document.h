// A document's bytes as the checks for damage read them, shared by both
// generations of MacWrite documents.
//
// The check of a sound document (the common case) reads the document
// through its input in windows, each paragraph or record in one window, so
// that an import holds the same memory whatever the document's size; only a
// document found damaged is read whole, for the recovery that looks over all
// of it.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace macwrite5 {

// The bytes of a document from its header on: all of them, or a window of
// them.  Offsets are the document's own and size() is the document's whole
// length, so a window answers everything about a part of the document that
// lies within it as the whole would.
class Document {
public:
    Document() = default;
    explicit Document(const std::vector<uint8_t> &all)
        : Document(all.data(), 0, static_cast<long>(all.size()), static_cast<long>(all.size())) {}
    // `length` bytes at `window`, which are the document's from `from` on, of
    // a document of `size` bytes.
    Document(const uint8_t *window, long from, long length, long size)
        : window_(window), from_(from), length_(length), size_(size) {}

    const uint8_t &operator[](long at) const {
        assert(at >= from_ && at < from_ + length_);
        return window_[at - from_];
    }
    size_t size() const { return static_cast<size_t>(size_); }
    // A copy of the bytes from `begin` up to `end`.
    std::vector<uint8_t> copy(long begin, long end) const {
        if (begin >= end) return {};
        assert(begin >= from_ && end <= from_ + length_);
        return std::vector<uint8_t>(window_ + (begin - from_), window_ + (end - from_));
    }

private:
    const uint8_t *window_ = nullptr;
    long from_ = 0, length_ = 0, size_ = 0;
};

// The length of the document that starts at `offset` of `in`, at most what
// 24-bit positions reach (16 MB).
long document_length(std::FILE *in, long offset);

// The document's bytes from its header on (at most what 24-bit offsets
// reach), read from `offset` of the input.
std::vector<uint8_t> load_document(std::FILE *in, long offset);

// Reads a document through its input in windows that each hold `reach`
// bytes from the place asked for (fewer at the document's end).  Places
// asked for in rising order are read once: what the last window holds
// past the new place is kept, not read again.
class DocumentWindows {
public:
    DocumentWindows(std::FILE *in, long offset, long reach);

    long size() const { return size_; }
    // The window from `at` on (empty outside the document); false when the
    // input could not be read.
    bool window(long at, Document &view);

private:
    std::FILE *in_;
    long offset_, size_, reach_;
    std::vector<uint8_t> buffer_;
    long from_ = 0, filled_ = 0;
};

}  // namespace macwrite5
