// PDF output through the renderer's module (render/pdf_entry.h), loaded
// the first time a PDF is written and kept for the process's life.
#pragma once

#include <cstdio>
#include <string>

#include "render/render.h"

namespace mwconv {

// The PDF of `stream` written into `out`; false with `error` set when it
// could not be, the module's absence included.  The module is looked for
// beside `plugin_path` first, then in the command's places.
bool write_pdf(const std::string &plugin_path, std::FILE *stream, std::FILE *out, const render::RenderOptions &options,
               std::string &error);

}  // namespace mwconv
