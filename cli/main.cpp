// mwconv: converts classic Macintosh MacWrite documents.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cleanup.h"
#include "cli/job.h"
#include "cli/options.h"
#include "cli/plugin.h"

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

bool fstat_id(int fd, FileId &id) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id = FileId{st.st_dev, st.st_ino};
    return true;
}

bool is_directory(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string base_name_without_extension(const std::string &path) {
    const auto slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    return base;
}

int convert_all(const Plugin &plugin, const Options &options) {
    std::vector<std::string> inputs = options.inputs;
    if (inputs.empty()) inputs.push_back("-");
    const bool to_directory = inputs.size() > 1 || (options.output_given && is_directory(options.output));
    if (inputs.size() > 1 && !(options.output_given && is_directory(options.output))) {
        std::fprintf(stderr, "mwconv: several inputs need -o DIRECTORY\n%s", kUsage);
        return kBadUsage;
    }
    // No output of the run may land on one of its inputs, by whatever name.
    std::vector<FileId> input_ids;
    for (const std::string &input : inputs) {
        FileId id;
        if (input == "-" ? fstat_id(STDIN_FILENO, id) : file_id(input, id)) input_ids.push_back(id);
    }
    int worst = kOk;
    for (const std::string &input : inputs) {
        Job job{input, options.output, &input_ids};
        if (to_directory) {
            const std::string stem = input == "-" ? "stdin" : base_name_without_extension(input);
            job.output = options.output + "/" + stem + "." + output_extension(options.to);
        }
        const Status status = run_job(plugin, options, job);
        if (status > worst) worst = status;
    }
    return worst;
}

}  // namespace

}  // namespace mwconv

int main(int argc, char **argv) {
    using namespace mwconv;
    std::string error;
    const auto options = parse_options(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "mwconv: %s\n%s", error.c_str(), kUsage);
        return kBadUsage;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return kOk;
    }
    install_cleanup_handlers();
    Plugin plugin;
    if (!load_plugin(*options, plugin)) return kFailed;
    if (options->list_converters) return list_converters(plugin, *options);
    return convert_all(plugin, *options);
}
