// zlib streams (UDIF's zlib chunks), through zlib.
#include <zlib.h>

#include <array>

#include "containers/decoders/methods.h"

namespace containers::decoders {

namespace {

class Zlib final : public Decoder {
public:
    explicit Zlib(ByteInput input) : input_(std::move(input)) {
        if (inflateInit(&stream_) != Z_OK) throw Error(Grade::kMember, "zlib: cannot start a stream");
    }
    ~Zlib() override { inflateEnd(&stream_); }

    size_t read(uint8_t *out, size_t n) override {
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(n);
        while (stream_.avail_out > 0 && !ended_) {
            if (stream_.avail_in == 0) {
                size_t got = 0;
                for (int b; got < buffer_.size() && (b = input_.next()) >= 0;) buffer_[got++] = static_cast<uint8_t>(b);
                if (got == 0) sit::damaged("zlib", "the stream is cut short");
                stream_.next_in = buffer_.data();
                stream_.avail_in = static_cast<uInt>(got);
            }
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END) ended_ = true;
            else if (status != Z_OK) sit::damaged("zlib", stream_.msg != nullptr ? stream_.msg : "a bad stream");
        }
        return n - stream_.avail_out;
    }

private:
    ByteInput input_;
    z_stream stream_{};
    std::array<uint8_t, 16384> buffer_{};
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> zlib_decoder(ByteInput input) { return std::make_unique<Zlib>(std::move(input)); }

}  // namespace containers::decoders
