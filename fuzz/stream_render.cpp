// Any bytes as an internal stream through every renderer.
#include <cstdint>
#include <cstdio>

#include "fuzz/render_all.h"
#include "host/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::FILE *stream = kavrel::open_scratch_stream();
    std::fwrite(data, 1, size, stream);
    render_every_format(stream);
    std::fclose(stream);
    return 0;
}
