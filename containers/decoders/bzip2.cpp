// bzip2 streams (UDIF's bzip2 chunks), through libbz2.
#include <bzlib.h>

#include <string>

#include "containers/decoders/methods.h"

namespace containers::decoders {

namespace {

class Bzip2 final : public Decoder {
public:
    explicit Bzip2(ByteInput input) : input_(std::move(input)) {
        if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) throw Error(Grade::kMember, "bzip2: cannot start a stream");
    }
    ~Bzip2() override { BZ2_bzDecompressEnd(&stream_); }

    size_t read(uint8_t *out, size_t n) override {
        stream_.next_out = reinterpret_cast<char *>(out);
        stream_.avail_out = static_cast<unsigned>(n);
        while (stream_.avail_out > 0 && !ended_) {
            if (stream_.avail_in == 0) {
                const std::span<const uint8_t> in = input_.take();
                if (in.empty()) sit::damaged("bzip2", "the stream is cut short");
                // libbz2's API is neither const nor unsigned; it only reads.
                stream_.next_in = const_cast<char *>(reinterpret_cast<const char *>(in.data()));
                stream_.avail_in = static_cast<unsigned>(in.size());
            }
            const int status = BZ2_bzDecompress(&stream_);
            if (status == BZ_STREAM_END) ended_ = true;
            else if (status != BZ_OK) sit::damaged("bzip2", ("error " + std::to_string(status)).c_str());
        }
        return n - stream_.avail_out;
    }

private:
    ByteInput input_;
    bz_stream stream_{};
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> bzip2_decoder(ByteInput input) { return std::make_unique<Bzip2>(std::move(input)); }

}  // namespace containers::decoders
