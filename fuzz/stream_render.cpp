// Any bytes as an internal stream through every renderer.
#include <cstdint>
#include <cstdio>

#include "host/scratch.h"
#include "render/render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::FILE *stream = kavrel::open_scratch_stream();
    std::fwrite(data, 1, size, stream);
    const render::RenderOptions options;
    for (int format = 0; format < 6; ++format) {
        std::rewind(stream);
        std::FILE *out = kavrel::open_scratch_stream();
        if (format == 0) render::to_text(stream, out);
        if (format == 1) render::to_html(stream, out, options);
        if (format == 2) render::to_markdown(stream, out);
        if (format == 3) render::to_rtf(stream, out, options);
#ifdef MWCONV_HAVE_LIBZIP
        if (format == 4) render::to_docx(stream, out, options);
        if (format == 5) render::to_odt(stream, out, options);
#endif
        std::fclose(out);
    }
    std::fclose(stream);
    return 0;
}
