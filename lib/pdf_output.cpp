#include "lib/pdf_output.h"

#include <filesystem>

#include "lib/plugin.h"
#include "lib/system.h"
#include "render/pdf_entry.h"

namespace mwconv {

namespace {

struct PdfModule {
    render::PdfEntryFn entry = nullptr;
    std::string why;  // why there is no entry
};

PdfModule load_pdf_module(const std::string &plugin_path) {
    const std::vector<std::string> paths = module_paths("mwconvpdf", plugin_path);
    PdfModule module{nullptr, "this build has no PDF output: its module (" + paths.front() + ") is missing"};
    for (const std::string &path : paths) {
        std::string error;
        void *handle = sys::load_library(path, error);
        if (handle == nullptr) {
            std::error_code missing;
            if (std::filesystem::exists(sys::to_path(path), missing)) module.why = "cannot load the PDF output: " + error;
            continue;
        }
        module.entry = reinterpret_cast<render::PdfEntryFn>(sys::library_symbol(handle, render::kPdfEntryName));
        if (module.entry != nullptr) return module;
        module.why = path + " has no " + render::kPdfEntryName;
    }
    return module;
}

}  // namespace

bool write_pdf(const std::string &plugin_path, std::FILE *stream, std::FILE *out, const render::RenderOptions &options,
               std::string &error) {
    // Loaded once, by the first conversion to PDF; the module stays loaded.
    static const PdfModule module = load_pdf_module(plugin_path);
    if (module.entry == nullptr) {
        error = module.why;
        return false;
    }
    return module.entry(stream, out, options, error);
}

}  // namespace mwconv
