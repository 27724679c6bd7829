// Any bytes as a MacBinary file, walked.
#include "fuzz/container_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_container(containers::macbinary_format(), data, size);
}
