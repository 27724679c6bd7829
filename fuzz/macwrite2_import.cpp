#include "fuzz/import_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    macwrite_bid_ii(data, size);
    return fuzz_import(import_macwrite_ii, data, size);
}
