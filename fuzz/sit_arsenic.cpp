#include "fuzz/sit_decoder_target.h"

namespace {

// The fork's declared size is unknown here: the decoder's own bounds apply.
std::unique_ptr<containers::sit::Decoder> arsenic(containers::sit::ByteInput input) {
    return containers::sit::arsenic_decoder(std::move(input));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return fuzz_sit_decoder(arsenic, data, size); }
