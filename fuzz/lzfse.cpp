#include "containers/decoders/methods.h"
#include "fuzz/sit_decoder_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_sit_decoder(containers::decoders::lzfse_decoder, data, size);
}
