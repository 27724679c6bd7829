#include "lib/members.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "lib/identify.h"
#include "lib/system.h"
#include "containers/applesingle.h"
#include "containers/digest.h"
#include "containers/formats.h"
#include "containers/names.h"
#include "containers/source.h"
#include "containers/walk.h"
#include "host/scratch.h"
#include "mactext/clock.h"
#include "mactext/roman.h"

namespace mwconv {

namespace fs = std::filesystem;

namespace {

using nlohmann::ordered_json;

using sys::File;

constexpr size_t kHead = 4096;

// What the Finder says of a MacWrite document: MacWrite 2.2 to 5 wrote
// type WORD and creator MACA, MacWrite II creator MWII.
bool finder_says_macwrite(const containers::Member &m) {
    return (m.type == "WORD" && m.creator == "MACA") || m.creator == "MWII";
}

// MacWrite II's own words, which name one generation: its documents are
// read as such even when their first block is lost.
bool finder_says_macwrite_ii(const containers::Member &m) { return m.type == "MW2D" || m.creator == "MWII"; }

std::string finder_words(const containers::Member &m) {
    if (m.type.empty() && m.creator.empty()) return "no Finder type or creator";
    return "type " + mactext::mac_roman_to_utf8(m.type) + ", creator " + mactext::mac_roman_to_utf8(m.creator);
}

// How messages and --identify name a member: the input, then its path in
// the container; a wrapped document alone goes by its wrapper's name.
std::string shown(const std::string &input, const containers::Leaf &leaf, bool wrapper_named) {
    if (leaf.shown.empty() || (wrapper_named && leaf.path.empty())) return input;
    return input + "/" + leaf.shown;
}

std::string date_text(const std::optional<int64_t> &t) { return t ? mactext::iso_date(*t) : std::string(); }

// The member's data in a scratch stream, rewound, for a converter (which
// takes a stdio stream); null when the scratch file could not hold it.
File scratch_copy(const containers::Source &data) {
    File copy(kavrel::open_scratch_stream());
    std::vector<uint8_t> block(65536);
    for (uint64_t at = 0;;) {
        const size_t n = data.read_at(at, block.data(), block.size());
        if (n == 0) break;
        std::fwrite(block.data(), 1, n, copy.get());
        at += n;
    }
    if (!kavrel::check_stream(copy.get())) return nullptr;
    std::rewind(copy.get());
    return copy;
}

std::vector<uint8_t> head_of(const containers::Source &data) {
    std::vector<uint8_t> head(kHead);
    head.resize(data.read_at(0, head.data(), head.size()));
    return head;
}

MemberOutcome failed(const std::string &name, const std::string &what) {
    return MemberOutcome{MemberOutcome::kFailed, kFailed, "mwconv: " + name + ": " + what};
}

// Converts one member into `output`, or into the stream `into` when given
// (`output` then only names it).
MemberOutcome convert_member(const Plugin &plugin, const RunOptions &options, const std::vector<sys::FileId> &ids,
                             const std::string &name, const containers::Leaf &leaf, const std::string &output,
                             const std::string &media_dir, std::FILE *into = nullptr) {
    const containers::Member &m = leaf.member;
    if (!m.problem.empty()) return failed(name, m.problem);
    const bool macwrite_type = finder_says_macwrite(m);
    RunOptions chosen = options;
    if (options.from == From::Auto) {
        const std::vector<uint8_t> head = head_of(*leaf.data);
        if (recognise_import(plugin, head.data(), head.size()) == nullptr) {
            if (finder_says_macwrite_ii(m)) chosen.from = From::MacWriteII;
            else if (macwrite_type) return failed(name, finder_words(m) + ", but not a MacWrite document that mwconv can read");
            else return MemberOutcome{MemberOutcome::kOther, kNotADocument, ""};
        }
    }
    File in = scratch_copy(*leaf.data);
    if (!in) return failed(name, "cannot write a scratch file in " + kavrel::scratch_folder());
    if (into == nullptr) {
        std::error_code ec;
        fs::create_directories(sys::to_path(output).parent_path(), ec);
    }
    Job job{name, output, &ids, nullptr, media_dir};
    job.opened = in.get();
    job.into = into;
    job.created = m.created;
    job.modified = m.modified;
    Outcome outcome = run_job(plugin, chosen, job);
    if (outcome.status == kOk) return MemberOutcome{MemberOutcome::kConverted, kOk, ""};
    if (outcome.status == kDamaged) return MemberOutcome{MemberOutcome::kDamaged, kDamaged, outcome.message};
    if (outcome.status == kNotADocument && !macwrite_type) return MemberOutcome{MemberOutcome::kOther, kNotADocument, ""};
    // The Finder's type and creator explain why a document was expected.
    const std::string prefix = "mwconv: " + name + ": ";
    if (macwrite_type && outcome.message.compare(0, prefix.size(), prefix) == 0)
        outcome.message.insert(prefix.size(), finder_words(m) + ", but ");
    return MemberOutcome{MemberOutcome::kFailed, kFailed, outcome.message};
}

}  // namespace

namespace {

// The resource fork of an NDIF image that `companion` describes, or null.
std::shared_ptr<const containers::Source> ndif_resource(const std::string &companion) {
    if (companion.empty()) return nullptr;
    std::string error;
    std::shared_ptr<const containers::Source> source = containers::file_source(sys::open_file(companion, "rb"), error);
    containers::Member m;
    if (!source || !containers::apply_companion(*source, m) || !containers::has_ndif_type(m)) return nullptr;
    try {
        std::shared_ptr<const containers::Source> resource = containers::companion_resource(source);
        if (containers::is_ndif(*resource)) return resource;
    } catch (const containers::Error &) {
        // No resource fork to be had: the data fork is offered as any file's.
    }
    return nullptr;
}

}  // namespace

ContainerInput open_container(const RunOptions &options, const std::string &path, const std::string &companion) {
    if (path == "-" || options.from == From::Text || options.from == From::Stream) return {};
    if (auto resource = ndif_resource(companion)) {
        std::string error;
        if (auto source = containers::file_source(sys::open_file(path, "rb"), error))
            return ContainerInput{std::move(source), &containers::ndif_format(), std::move(resource)};
    }
    return open_container(options, sys::open_file(path, "rb"));
}

ContainerInput open_container(const RunOptions &options, std::FILE *file) {
    if (options.from == From::Text || options.from == From::Stream) {
        if (file != nullptr) std::fclose(file);
        return {};
    }
    std::string error;
    auto source = containers::file_source(file, error);
    if (!source) return {};
    try {
        if (const containers::Format *format = containers::recognise(*source)) return ContainerInput{source, format};
    } catch (const containers::Error &) {
        // Unreadable: converting it as a file reports why.
    }
    return {};
}

bool convert_members(const Plugin &plugin, const RunOptions &options, const std::vector<sys::FileId> &ids,
                     const std::string &input, const ContainerInput &container, const std::string &folder,
                     const MemberReport &report) {
    containers::Walker walker(container.source, *container.format, false, container.resource);
    const std::string extension = std::string(".") + output_extension(options.to);
    bool folder_like = false;
    std::set<std::string> warned;
    for (containers::Leaf leaf; walker.next(leaf);) {
        const std::string name = shown(input, leaf, true);
        folder_like = folder_like || !leaf.path.empty();
        // A damaged container: what it gave stands, as a damaged document's
        // readable part does.
        if (leaf.damaged) {
            report(MemberOutcome{MemberOutcome::kDamaged, kDamaged, "mwconv: " + name + ": " + leaf.member.problem});
            continue;
        }
        if (!options.member.empty() && leaf.shown != options.member) continue;
        std::vector<std::string> changes;
        const std::string relative = containers::safe_path(leaf.path, changes);
        // A warning about the whole container (a disk image's checksum)
        // comes with every member: it is told once.
        if (!leaf.member.warning.empty() && warned.insert(leaf.member.warning).second)
            report(MemberOutcome{MemberOutcome::kNote, kOk, "mwconv: " + name + ": " + leaf.member.warning});
        const std::string output =
            relative.empty() ? folder + extension : sys::utf8_of(sys::to_path(folder) / sys::to_path(relative)) + extension;
        std::error_code ec;
        if (leaf.member.problem.empty() && !options.force && fs::exists(fs::symlink_status(sys::to_path(output), ec))) {
            report(failed(name, output + " exists already (--force replaces it); not converted"));
            continue;
        }
        // Each document's pictures in a folder named after its output, as
        // for the files of a folder.
        std::string media_dir;
        if (!options.media_dir.empty())
            media_dir = sys::utf8_of(sys::to_path(options.media_dir) /
                                     sys::to_path(output).lexically_relative(sys::to_path(options.output)).replace_extension());
        MemberOutcome outcome = convert_member(plugin, options, ids, name, leaf, output, media_dir);
        if (outcome.kind == MemberOutcome::kOther && leaf.path.empty())
            outcome = MemberOutcome{MemberOutcome::kAlone, kNotADocument, "mwconv: " + name + ": not a MacWrite document"};
        // A changed name is told only where an output takes it.
        if (outcome.kind == MemberOutcome::kConverted || outcome.kind == MemberOutcome::kDamaged)
            for (const std::string &change : changes)
                report(MemberOutcome{MemberOutcome::kNote, kOk, "mwconv: " + name + ": " + change});
        report(outcome);
    }
    return folder_like;
}

std::optional<bool> convert_wrapped(const Plugin &plugin, const RunOptions &options, const std::string &input,
                                    const ContainerInput &container, std::FILE *into, const MemberReport &report) {
    if (!options.member.empty() || !options.media_dir.empty()) return std::nullopt;
    // Walked whole first: a second file or a folder makes it a folder.
    containers::Walker walker(container.source, *container.format, false, container.resource);
    std::vector<containers::Leaf> leaves;
    size_t files = 0;
    for (containers::Leaf leaf; walker.next(leaf);) {
        if (!leaf.path.empty() || (!leaf.damaged && ++files > 1)) return std::nullopt;
        leaves.push_back(std::move(leaf));
    }
    if (files != 1) return std::nullopt;
    bool written = false;
    // What convert_members reports for the same leaves.
    for (const containers::Leaf &leaf : leaves) {
        const std::string name = shown(input, leaf, true);
        if (leaf.damaged) {
            report(MemberOutcome{MemberOutcome::kDamaged, kDamaged, "mwconv: " + name + ": " + leaf.member.problem});
            continue;
        }
        if (!leaf.member.warning.empty())
            report(MemberOutcome{MemberOutcome::kNote, kOk, "mwconv: " + name + ": " + leaf.member.warning});
        const MemberOutcome outcome = convert_member(plugin, options, {}, name, leaf, "-", "", into);
        written = outcome.kind == MemberOutcome::kConverted || outcome.kind == MemberOutcome::kDamaged;
        report(outcome.kind == MemberOutcome::kOther
                   ? MemberOutcome{MemberOutcome::kAlone, kNotADocument, "mwconv: " + name + ": not a MacWrite document"}
                   : outcome);
    }
    return written;
}

Outcome convert_only_member(const Plugin &plugin, const RunOptions &options, const std::vector<sys::FileId> &ids,
                            const std::string &input, const ContainerInput &container) {
    containers::Walker walker(container.source, *container.format, false, container.resource);
    containers::Leaf leaf, second;
    if (!walker.next(leaf)) return Outcome{kNotADocument, "mwconv: " + input + ": an empty " + container.format->name};
    const bool more = walker.next(second);
    if (more && !second.damaged)
        return Outcome{kBadUsage, "mwconv: " + input + ": a " + container.format->name +
                                      " of several files; give -o FOLDER/ to convert every document in it"};
    const std::string name = shown(input, leaf, true);
    if (!leaf.member.warning.empty()) std::fprintf(stderr, "mwconv: %s: %s\n", name.c_str(), leaf.member.warning.c_str());
    const MemberOutcome m = convert_member(plugin, options, ids, name, leaf, options.output, options.media_dir);
    // The one file before a container's damage converts; the damage is told.
    if (more && m.kind == MemberOutcome::kConverted)
        return Outcome{kDamaged, "mwconv: " + shown(input, second, true) + ": " + second.member.problem};
    switch (m.kind) {
    case MemberOutcome::kConverted: return Outcome{kOk, ""};
    case MemberOutcome::kOther: return Outcome{kNotADocument, "mwconv: " + name + ": not a MacWrite document"};
    default: return Outcome{m.status, m.message};
    }
}

int identify_members(const Plugin &plugin, const RunOptions &options, const std::string &input,
                     const ContainerInput &container, const std::function<void(const std::string &)> &print) {
    // An inventory: the containers inside are listed too, before their members.
    containers::Walker walker(container.source, *container.format, true, container.resource);
    Status worst = kOk;
    for (containers::Leaf leaf; walker.next(leaf);) {
        const containers::Member &m = leaf.member;
        ordered_json j;
        j["file"] = input;
        j["member"] = leaf.shown;
        j["container"] = leaf.format;
        j["type"] = mactext::mac_roman_to_utf8(m.type);
        j["creator"] = mactext::mac_roman_to_utf8(m.creator);
        j["created"] = m.created ? ordered_json(date_text(m.created)) : ordered_json(nullptr);
        j["modified"] = m.modified ? ordered_json(date_text(m.modified)) : ordered_json(nullptr);
        j["data_length"] = m.data_length;
        j["resource_length"] = m.resource_length;
        std::string problem = m.problem, document;
        ordered_json fields;
        if (problem.empty()) {
            try {
                j["sha256"] = containers::sha256_hex(*leaf.data);
                const std::vector<uint8_t> head = head_of(*leaf.data);
                if (leaf.opens == nullptr && recognise_import(plugin, head.data(), head.size()) != nullptr) {
                    File in = scratch_copy(*leaf.data);
                    if (in) identify_document(plugin, in.get(), fields, document);
                }
            } catch (const containers::Error &e) {
                problem = e.what();
            }
        }
        j["macwrite"] = !document.empty();
        if (leaf.opens != nullptr) j["opens_as"] = leaf.opens;
        for (auto &[key, value] : fields.items()) j[key] = value;
        if (!m.warning.empty()) j["warning"] = m.warning;
        if (leaf.damaged) {
            j["damaged"] = problem;
            worst = worse(worst, kDamaged);
        } else if (!problem.empty()) {
            j["problem"] = problem;
            worst = worse(worst, kFailed);
        }
        std::string line;
        if (options.json) {
            line = j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
        } else {
            line = input + ": " + (leaf.shown.empty() ? std::string("(the container)") : leaf.shown) + ": ";
            if (leaf.damaged) {
                line += problem;
            } else if (!problem.empty() && m.type.empty()) {
                line += "cannot be read: " + problem;
            } else {
                line += finder_words(m);
                if (m.created) line += ", created " + date_text(m.created);
                if (m.modified) line += ", modified " + date_text(m.modified);
                line += "; data " + std::to_string(m.data_length) + " bytes, resource " + std::to_string(m.resource_length) + " bytes";
                if (j.contains("sha256")) line += "; SHA-256 " + j["sha256"].get<std::string>();
                if (leaf.opens != nullptr) line += std::string("; opened as ") + leaf.opens + ", its members below";
                else if (problem.empty()) line += "; " + (document.empty() ? std::string("not a MacWrite document") : document);
                else line += "; cannot be read: " + problem;
                if (!m.warning.empty()) line += "; " + m.warning;
            }
        }
        print(line);
    }
    return worst;
}

std::string companion_of(const fs::path &root, const fs::path &file) {
    const fs::path name = sys::to_path("._" + sys::utf8_of(file.filename()));
    std::error_code ec;
    for (const fs::path &candidate : {file.parent_path() / name,
                                      root / "__MACOSX" / file.lexically_relative(root).parent_path() / name})
        if (fs::is_regular_file(candidate, ec)) return sys::utf8_of(candidate);
    return {};
}

void read_companion(const std::string &companion, Job &job) {
    if (companion.empty()) return;
    std::string error;
    const auto source = containers::file_source(sys::open_file(companion, "rb"), error);
    containers::Member m;
    if (source && containers::apply_companion(*source, m)) {
        job.created = m.created;
        job.modified = m.modified;
    }
}

}  // namespace mwconv
