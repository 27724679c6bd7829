#include "fuzz/import_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    macwrite_bid_22(data, size);
    return fuzz_import(import_macwrite_22, data, size);
}
