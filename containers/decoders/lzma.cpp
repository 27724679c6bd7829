// LZMA streams (UDIF's LZMA chunks), through liblzma: the .xz container or
// the older .lzma one, whichever the chunk holds.  The decoder's memory is
// capped, so a stream cannot ask for a dictionary beyond it.
#include <lzma.h>

#include <string>

#include "containers/decoders/methods.h"

namespace containers::decoders {

namespace {

constexpr uint64_t kMemoryLimit = uint64_t{256} << 20;

class Lzma final : public Decoder {
public:
    explicit Lzma(ByteInput input) : input_(std::move(input)) {
        if (lzma_auto_decoder(&stream_, kMemoryLimit, 0) != LZMA_OK) throw Error(Grade::kMember, "LZMA: cannot start a stream");
    }
    ~Lzma() override { lzma_end(&stream_); }

    size_t read(uint8_t *out, size_t n) override {
        stream_.next_out = out;
        stream_.avail_out = n;
        while (stream_.avail_out > 0 && !ended_) {
            lzma_action action = LZMA_RUN;
            if (stream_.avail_in == 0 && !input_ended_) {
                const std::span<const uint8_t> in = input_.take();
                input_ended_ = in.empty();
                stream_.next_in = in.data();
                stream_.avail_in = in.size();
            }
            if (input_ended_) action = LZMA_FINISH;
            const lzma_ret status = lzma_code(&stream_, action);
            if (status == LZMA_STREAM_END) ended_ = true;
            else if (status == LZMA_MEMLIMIT_ERROR) sit::damaged("LZMA", "the stream asks for more memory than allowed");
            else if (status != LZMA_OK) sit::damaged("LZMA", ("error " + std::to_string(status)).c_str());
        }
        return n - stream_.avail_out;
    }

private:
    ByteInput input_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
    bool ended_ = false, input_ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> lzma_decoder(ByteInput input) { return std::make_unique<Lzma>(std::move(input)); }

}  // namespace containers::decoders
