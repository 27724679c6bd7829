// Shared by the fuzz targets: an internal stream through every renderer.
#pragma once

#include <cstdio>

#include "host/scratch.h"
#include "render/render.h"

inline void render_every_format(std::FILE *stream) {
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
}
