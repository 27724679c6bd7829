#include "macwrite5/document.h"

#include <algorithm>
#include <cstring>

#include "host/conversion.h"
#include "macwrite5/layout.h"

namespace macwrite5 {

namespace {

constexpr long kMaxDocument = static_cast<long>(kDataOffsetMask) + 1;

}  // namespace

long document_length(std::FILE *in, long offset) {
    return std::clamp(kavrel::stream_length(in) - offset, 0L, kMaxDocument);
}

std::vector<uint8_t> load_document(std::FILE *in, long offset) {
    std::vector<uint8_t> doc;
    if (std::fseek(in, offset, SEEK_SET) != 0) return doc;
    doc.resize(static_cast<size_t>(document_length(in, offset)));
    doc.resize(std::fread(doc.data(), 1, doc.size(), in));
    return doc;
}

// Four times the reach: a refill keeps at most one reach of what the last
// window held and reads at least three of new bytes.
DocumentWindows::DocumentWindows(std::FILE *in, long offset, long reach)
    : in_(in), offset_(offset), size_(document_length(in, offset)), reach_(reach),
      buffer_(static_cast<size_t>(std::min(4 * reach, size_))) {}

bool DocumentWindows::window(long at, Document &view) {
    if (at < 0 || at >= size_) {
        view = Document(nullptr, at, 0, size_);
        return true;
    }
    const long want = std::min(at + reach_, size_);
    if (at < from_ || want > from_ + filled_) {
        // Bytes of the last window from `at` on stay; the rest is read.
        long kept = 0;
        if (at >= from_ && at < from_ + filled_) {
            kept = from_ + filled_ - at;
            std::memmove(buffer_.data(), buffer_.data() + (at - from_), static_cast<size_t>(kept));
        }
        from_ = at;
        filled_ = kept;
        const long read = std::min(static_cast<long>(buffer_.size()), size_ - at) - kept;
        if (std::fseek(in_, offset_ + at + kept, SEEK_SET) != 0 ||
            std::fread(buffer_.data() + kept, 1, static_cast<size_t>(read), in_) != static_cast<size_t>(read)) {
            filled_ = 0;
            return false;
        }
        filled_ += read;
    }
    view = Document(buffer_.data() + (at - from_), at, want - at, size_);
    return true;
}

}  // namespace macwrite5
