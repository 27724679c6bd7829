// mwconv: converts classic Macintosh MacWrite documents.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/batch.h"
#include "lib/cleanup.h"
#include "cli/identify.h"
#include "lib/job.h"
#include "cli/options.h"
#include "lib/plugin.h"
#include "lib/system.h"
#include "serve/entry.h"

namespace mwconv {

namespace {

bool load_plugin(const Options &options, Plugin &plugin) {
    std::string error;
    if (!options.plugin.empty()) {
        if (plugin.load(options.plugin, error)) return true;
    } else {
        for (const std::string &path : default_plugin_paths())
            if (plugin.load(path, error)) return true;
    }
    std::fprintf(stderr, "mwconv: cannot load the converter plug-in: %s\n", error.c_str());
    return false;
}

// Catalogue names are single-byte Windows text; the Latin-1 part of it is
// what the plug-in uses, shown here as UTF-8.
std::string to_utf8(const std::string &latin1) {
    std::string out;
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int list_converters(const Plugin &plugin, const Options &options) {
    const int32_t language = options.french ? DLL_ENUM_FRENCH : DLL_ENUM_ENGLISH;
    for (const Converter &c : plugin.catalogue(DLL_ENUM_IMPORT, language))
        std::printf("import\t%s\n", to_utf8(c.name).c_str());
    for (const Converter &c : plugin.catalogue(DLL_ENUM_EXPORT, language))
        std::printf("export\t%s\n", to_utf8(c.name).c_str());
    return kOk;
}

// The service lives in a module of its own, loaded only for `mwconv serve`:
// the HTTP library brings OpenSSL, brotli and libarchive's writer, which no
// conversion should load at its start.
int run_service(const std::vector<std::string> &args) {
    std::string why = "the service module (" + module_paths("mwconvserve").front() +
                      ") is missing: this build has no service (cpp-httplib was not found), or it was not installed";
    for (const std::string &path : module_paths("mwconvserve")) {
        std::string error;
        void *module = sys::load_library(path, error);
        if (module == nullptr) {
            std::error_code missing;
            if (std::filesystem::exists(path, missing)) why = error;
            continue;
        }
        if (auto run = reinterpret_cast<serve::EntryFn>(sys::library_symbol(module, serve::kEntryName))) {
            std::vector<const char *> argv;
            for (const std::string &a : args) argv.push_back(a.c_str());
            return run(static_cast<int>(argv.size()), argv.data());
        }
        why = path + " has no " + serve::kEntryName;
    }
    std::fprintf(stderr, "mwconv: %s\n", why.c_str());
    return kFailed;
}

}  // namespace

}  // namespace mwconv

int main(int argc, char **argv) {
    using namespace mwconv;
    sys::binary_standard_streams();
    const std::vector<std::string> args = sys::arguments(argc, argv);
    if (args.size() > 1 && args[1] == "serve") return run_service({args.begin() + 2, args.end()});
    std::string error;
    const auto options = parse_options(args, error);
    if (!options) {
        std::fprintf(stderr, "mwconv: %s\n%s", error.c_str(), kUsage);
        return kBadUsage;
    }
    if (options->help) {
        std::fputs(help_text().c_str(), stdout);
        return kOk;
    }
    if (options->version) {
        std::printf("mwconv %s\n", MWCONV_VERSION);
        return kOk;
    }
    install_cleanup_handlers();
    Plugin plugin;
    if (!load_plugin(*options, plugin)) return kFailed;
    if (options->list_converters) return list_converters(plugin, *options);
    if (options->identify) return identify_files(plugin, *options);
    return run_conversions(plugin, *options);
}
