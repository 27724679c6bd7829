// Any bytes as a QuickDraw picture, drawn as SVG.
#include <cstddef>
#include <cstdint>

#include "pict/pict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    pict::to_svg(data, size);
    return 0;
}
