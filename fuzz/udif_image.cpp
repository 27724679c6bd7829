#include "fuzz/disk_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_disk_format(containers::udif_format(), data, size);
}
