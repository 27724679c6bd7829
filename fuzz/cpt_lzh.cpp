// Compact Pro's LZH, then its run-length code, over the fuzzer's bytes.
#include "containers/decoders/cpt_decoders.h"
#include "fuzz/sit_decoder_target.h"

namespace {
std::unique_ptr<containers::sit::Decoder> lzh_then_rle(containers::sit::ByteInput input) {
    return containers::cpt::rle_decoder(containers::cpt::lzh_decoder(std::move(input)));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_sit_decoder(lzh_then_rle, data, size);
}
