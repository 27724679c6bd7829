#include "render/pdf_entry.h"

#include <exception>

extern "C" bool mwconv_render_pdf(std::FILE *stream, std::FILE *out, const render::RenderOptions &options,
                                  std::string &error) {
    // An exception stays on this side of the module's C entry.
    try {
        if (render::to_pdf(stream, out, options)) return true;
        error = "cannot write the output";
    } catch (const std::exception &e) {
        error = e.what();
    }
    return false;
}
