#include "fuzz/import_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    macwrite_bid_5(data, size);
    return fuzz_import(import_macwrite_5, data, size);
}
