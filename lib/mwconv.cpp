#include "lib/mwconv.h"

#include <filesystem>

#include <cstdio>
#include <map>
#include <memory>

#include "containers/formats.h"
#include "containers/source.h"
#include "containers/walk.h"
#include "host/scratch.h"
#include "lib/identify.h"
#include "lib/job.h"
#include "lib/members.h"
#include "lib/plugin.h"
#include "lib/system.h"
#include "mactext/roman.h"

namespace mwconv {

namespace {

using sys::File;

// A scratch stream holding `data`, rewound.
File stream_of(std::string_view data) {
    File f(kavrel::open_scratch_stream());
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f.get());
    std::rewind(f.get());
    return f;
}

std::string read_all(std::FILE *f) {
    std::string out;
    std::rewind(f);
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
    return out;
}

// Throws a failure; a damaged document's message goes to `damaged`.
void check(const Outcome &outcome, std::string *damaged) {
    if (outcome.status != kOk && outcome.status != kDamaged) throw Error(outcome.status, outcome.message);
    if (damaged != nullptr) *damaged = outcome.status == kDamaged ? outcome.message : std::string();
}

}  // namespace

Library::Library(const std::string &plugin_path) : plugin_(std::make_unique<Plugin>()) {
    std::string error;
    const std::vector<std::string> places = plugin_path.empty() ? default_plugin_paths() : std::vector{plugin_path};
    for (const std::string &path : places) {
        if (plugin_->load(path, error)) {
            path_ = path;
            return;
        }
        *plugin_ = Plugin();
    }
    throw Error(kFailed, "mwconv: cannot load the converter plug-in: " + error);
}

Library::~Library() = default;
Library::Library(Library &&) noexcept = default;
Library &Library::operator=(Library &&) noexcept = default;

std::string Library::convert(std::string_view data, const ConvertOptions &options, const Naming &naming,
                             std::string *damaged) const {
    File in = stream_of(data);
    File out(kavrel::open_scratch_stream());
    convert_stream(in.get(), out.get(), options, naming, damaged);
    return read_all(out.get());
}

void Library::convert_stream(std::FILE *in, std::FILE *out, const ConvertOptions &options, const Naming &naming,
                             std::string *damaged) const {
    Job job;
    job.input = naming.name.empty() ? "-" : naming.name;
    job.output = "-";
    job.opened = in;
    job.into = out;
    job.media_dir = naming.media_dir;
    job.created = naming.created;
    job.modified = naming.modified;
    check(run_job(*plugin_, options, job), damaged);
}

void Library::convert_file(const std::string &input, const std::string &output, const ConvertOptions &options,
                           const std::string &media_dir, std::string *damaged) const {
    Job job;
    job.input = input;
    job.output = output;
    job.media_dir = media_dir;
    // The Finder's dates from the file's AppleDouble companion, as the
    // command takes them for a file it is given.
    if (input != "-") {
        const std::filesystem::path path = sys::to_path(input);
        read_companion(companion_of(path.parent_path(), path), job);
    }
    std::vector<sys::FileId> ids(1);
    if (sys::file_id(input, ids[0])) job.inputs = &ids;
    check(run_job(*plugin_, options, job), damaged);
}

std::optional<ContainerRun> Library::convert_container(const std::string &path, const std::string &folder,
                                                       const RunOptions &options) const {
    const std::filesystem::path file = sys::to_path(path);
    const ContainerInput container = open_container(options, path, companion_of(file.parent_path(), file));
    if (!container) return std::nullopt;
    ContainerRun run;
    std::vector<sys::FileId> ids(1);
    if (!sys::file_id(path, ids[0])) ids.clear();
    run.folder_like = convert_members(*plugin_, options, ids, path, container, folder,
                                      [&run](const MemberOutcome &m) { run.members.push_back(m); });
    return run;
}

std::optional<ContainerRun> Library::convert_container(std::FILE *in, const std::string &name,
                                                       const std::string &folder, const RunOptions &options) const {
    const ContainerInput container = open_container(options, sys::reopen_for_reading(in));
    if (!container) return std::nullopt;
    ContainerRun run;
    run.folder_like = convert_members(*plugin_, options, {}, name, container, folder,
                                      [&run](const MemberOutcome &m) { run.members.push_back(m); });
    return run;
}

std::optional<ContainerRun> Library::convert_wrapped(std::FILE *in, const std::string &name, std::FILE *out,
                                                     const RunOptions &options) const {
    if (!options.member.empty() || !options.media_dir.empty()) return std::nullopt;
    const ContainerInput container = open_container(options, sys::reopen_for_reading(in));
    if (!container) return std::nullopt;
    ContainerRun run;
    const std::optional<bool> written = mwconv::convert_wrapped(
        *plugin_, options, name, container, out, [&run](const MemberOutcome &m) { run.members.push_back(m); });
    if (!written) return std::nullopt;
    run.written = *written;
    return run;
}

std::vector<std::string> Library::identify_lines(std::FILE *in, const std::string &name, Status *status) const {
    Described d;
    std::string error;
    if (!describe(*plugin_, in, d, error)) throw Error(kFailed, "mwconv: " + name + ": cannot read: " + error);
    std::vector<std::string> lines;
    Status worst = kOk;
    if (d.id.generation == MACWRITE_NONE) {
        RunOptions options;
        options.json = true;
        if (const ContainerInput container = open_container(options, sys::reopen_for_reading(in))) {
            const int rc = identify_members(*plugin_, options, name, container,
                                            [&lines](const std::string &line) { lines.push_back(line); });
            if (status != nullptr) *status = static_cast<Status>(rc);
            return lines;
        }
        worst = kNotADocument;
    }
    if (d.id.damaged != 0) worst = kDamaged;
    lines.push_back(to_json(name, d).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    if (status != nullptr) *status = worst;
    return lines;
}

std::string Library::identify_file(const std::string &path) const {
    Described d;
    std::string error;
    if (!describe(*plugin_, path, d, error)) throw Error(kFailed, "mwconv: " + path + ": cannot read: " + error);
    return to_json(path, d).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Library::identify(std::string_view data, const std::string &name) const {
    File in = stream_of(data);
    Described d;
    std::string error;
    if (!describe(*plugin_, in.get(), d, error)) throw Error(kFailed, "mwconv: " + name + ": cannot read: " + error);
    return to_json(name, d).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::vector<MemberInfo> Library::members(const std::string &path) const {
    std::string error;
    const auto source = containers::file_source(sys::open_file(path, "rb"), error);
    if (!source) throw Error(kFailed, "mwconv: " + path + ": cannot read: " + error);
    const containers::Format *format = nullptr;
    try {
        format = containers::recognise(*source);
    } catch (const containers::Error &e) {
        throw Error(kFailed, "mwconv: " + path + ": cannot read: " + e.what());
    }
    std::vector<MemberInfo> out;
    if (format == nullptr) return out;
    containers::Walker walker(source, *format);
    for (containers::Leaf leaf; walker.next(leaf);) {
        MemberInfo m;
        m.path = leaf.shown;
        m.container = leaf.format;
        m.type = mactext::mac_roman_to_utf8(leaf.member.type);
        m.creator = mactext::mac_roman_to_utf8(leaf.member.creator);
        m.size = leaf.member.data_length;
        m.problem = leaf.member.problem;
        out.push_back(std::move(m));
    }
    return out;
}

void empty_thread_scratch() { sys::empty_kept_scratch(); }

void release_thread_scratch() {
    sys::release_kept_scratch();
    kavrel::release_scratch_files();
}

std::optional<From> from_name(std::string_view name) {
    static const std::map<std::string_view, From> kNames = {
        {"auto", From::Auto},         {"macwrite-ii", From::MacWriteII}, {"macwrite5", From::MacWrite5},
        {"macwrite22", From::MacWrite22}, {"stream", From::Stream},      {"text", From::Text},
    };
    const auto it = kNames.find(name);
    return it == kNames.end() ? std::nullopt : std::optional(it->second);
}

std::optional<To> to_name(std::string_view name) {
    static const std::map<std::string_view, To> kNames = {
        {"text", To::Text}, {"markdown", To::Markdown}, {"html", To::Html},     {"rtf", To::Rtf},
        {"docx", To::Docx}, {"odt", To::Odt},           {"stream", To::Stream}, {"macwrite5", To::MacWrite5}, {"pdf", To::Pdf},
    };
    const auto it = kNames.find(name);
    return it == kNames.end() ? std::nullopt : std::optional(it->second);
}

const char *version() { return MWCONV_VERSION; }

const char *output_extension(To to) {
    switch (to) {
    case To::Markdown: return "md";
    case To::Html: return "html";
    case To::Rtf: return "rtf";
    case To::Docx: return "docx";
    case To::Odt: return "odt";
    case To::Pdf: return "pdf";
    case To::Stream: return "stream";
    case To::MacWrite5: return "mw5";
    default: return "txt";
    }
}

}  // namespace mwconv
