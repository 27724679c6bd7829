// Any bytes as a StuffIt archive, walked: names made safe, data forks read.
#include "fuzz/container_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_container(containers::stuffit_format(), data, size);
}
