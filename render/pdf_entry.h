// The one entry of the PDF module, which mwconv loads the first time it
// writes a PDF: cairo, pango and fontconfig are some forty libraries, which
// linked into the program would load at every start, for every format.
#pragma once

#include <cstdio>
#include <string>

#include "render/render.h"

namespace render {

// Writes the PDF of `stream` into `out`; false with `error` set when it
// could not.  Both sides are built together, so C++ types may cross.
using PdfEntryFn = bool (*)(std::FILE *stream, std::FILE *out, const RenderOptions &options, std::string &error);
inline constexpr const char *kPdfEntryName = "mwconv_render_pdf";

}  // namespace render

extern "C" bool mwconv_render_pdf(std::FILE *stream, std::FILE *out, const render::RenderOptions &options,
                                  std::string &error);
