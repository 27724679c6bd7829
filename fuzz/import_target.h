// Shared body of the import fuzz targets: any bytes through one converter,
// then the stream it wrote through every renderer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "catalogue/catalogue.h"
#include "catalogue/identify.h"
#include "host/scratch.h"
#include "fuzz/render_all.h"

inline int fuzz_import(ConverterFn convert, const uint8_t *data, size_t size) {
    std::FILE *in = kavrel::open_scratch_stream();
    std::fwrite(data, 1, size, in);
    std::rewind(in);
    // Identification reads a damaged document as its recovery does.
    MacWriteIdentity identity;
    macwrite_identify(in, &identity);
    std::rewind(in);
    std::FILE *stream = kavrel::open_scratch_stream();
    convert(in, stream);
    render_every_format(stream);
    std::fclose(stream);
    std::fclose(in);
    return 0;
}
