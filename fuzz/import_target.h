// Shared body of the import fuzz targets: any bytes through one converter,
// then the stream it wrote through the text renderer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "catalogue/catalogue.h"
#include "host/scratch.h"
#include "render/render.h"

inline int fuzz_import(ConverterFn convert, const uint8_t *data, size_t size) {
    std::FILE *in = kavrel::open_scratch_stream();
    std::fwrite(data, 1, size, in);
    std::rewind(in);
    std::FILE *stream = kavrel::open_scratch_stream();
    convert(in, stream);
    std::rewind(stream);
    std::FILE *text = kavrel::open_scratch_stream();
    render::to_text(stream, text);
    std::fclose(text);
    std::fclose(stream);
    std::fclose(in);
    return 0;
}
