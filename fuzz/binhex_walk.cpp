// Any bytes as a BinHex 4.0 file, walked.
#include "fuzz/container_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_container(containers::binhex_format(), data, size);
}
