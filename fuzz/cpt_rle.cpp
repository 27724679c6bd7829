#include "containers/decoders/cpt_decoders.h"
#include "fuzz/sit_decoder_target.h"

namespace {
std::unique_ptr<containers::sit::Decoder> rle(containers::sit::ByteInput input) {
    return containers::cpt::rle_decoder(containers::sit::stored_decoder(std::move(input)));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_sit_decoder(rle, data, size);
}
