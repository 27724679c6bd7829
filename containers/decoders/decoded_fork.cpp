#include "containers/decoders/decoded_fork.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace containers {

namespace {

constexpr size_t kChunk = 64 * 1024;

class DecodedFork final : public Source {
public:
    DecodedFork(MakeDecoder make, uint64_t size, std::unique_ptr<ForkCheck> check)
        : make_(std::move(make)), size_(size), check_(std::move(check)) {}

    uint64_t size() const override { return size_; }

    size_t read_at(uint64_t offset, void *buffer, size_t n) const override {
        if (offset >= size_) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
        auto *out = static_cast<uint8_t *>(buffer);
        for (size_t copied = 0; copied < n;) {
            const uint64_t at = offset + copied;
            if (!decoder_ || at < chunk_start_) restart();
            while (at >= chunk_start_ + chunk_.size()) advance();
            const size_t from = static_cast<size_t>(at - chunk_start_);
            const size_t k = std::min(n - copied, chunk_.size() - from);
            std::memcpy(out + copied, chunk_.data() + from, k);
            copied += k;
        }
        return n;
    }

private:
    void restart() const {
        decoder_ = make_();
        chunk_.clear();
        chunk_start_ = 0;
        check_->restart();
    }

    void advance() const {
        chunk_start_ += chunk_.size();
        chunk_.resize(static_cast<size_t>(std::min<uint64_t>(kChunk, size_ - chunk_start_)));
        for (size_t filled = 0; filled < chunk_.size();) {
            const size_t got = decoder_->read(chunk_.data() + filled, chunk_.size() - filled);
            if (got == 0) throw Error(Grade::kMember, "the compressed fork ends before its declared size");
            filled += got;
        }
        check_->update(chunk_.data(), chunk_.size());
        if (chunk_start_ + chunk_.size() < size_) return;
        decoder_->finish();
        check_->end();
    }

    MakeDecoder make_;
    uint64_t size_;
    std::unique_ptr<ForkCheck> check_;
    mutable std::unique_ptr<sit::Decoder> decoder_;
    mutable std::vector<uint8_t> chunk_;
    mutable uint64_t chunk_start_ = 0;
};

}  // namespace

std::unique_ptr<Source> decoded_fork(MakeDecoder make, uint64_t size, std::unique_ptr<ForkCheck> check) {
    return std::make_unique<DecodedFork>(std::move(make), size, std::move(check));
}

}  // namespace containers
