// zlib streams (UDIF's zlib chunks), through zlib.
#include <zlib.h>


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
                const std::span<const uint8_t> in = input_.take();
                if (in.empty()) sit::damaged("zlib", "the stream is cut short");
                stream_.next_in = const_cast<Bytef *>(in.data());  // zlib's API is not const; it only reads
                stream_.avail_in = static_cast<uInt>(in.size());
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
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> zlib_decoder(ByteInput input) { return std::make_unique<Zlib>(std::move(input)); }

}  // namespace containers::decoders
