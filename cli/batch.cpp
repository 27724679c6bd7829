#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>

#include "cli/inputs.h"
#include "lib/job.h"
#include "lib/members.h"
#include "lib/output.h"
#include "cli/progress.h"
#include "lib/system.h"

namespace mwconv {

namespace fs = std::filesystem;

namespace {

// A batch this short needs no progress line.
constexpr size_t kProgressFrom = 5;

struct Planned {
    InputFile input;
    std::string output;
    std::string refusal;  // set: not converted, for this reason
    Outcome outcome;
    std::optional<bool> container = {};  // set for a container, whose members were counted one by one: true when
                                    // it was walked as a folder (not a wrapper of one file)
};

std::string normal(const std::string &path) { return sys::utf8_of(fs::absolute(sys::to_path(path)).lexically_normal()); }

// Names every output under the folder and refuses, before anything is
// written, an output that another input of the run already takes or that
// exists and is not to be replaced.
std::vector<Planned> plan(const std::vector<InputFile> &inputs, const Options &options) {
    std::vector<Planned> jobs;
    std::set<std::string> taken;
    for (const InputFile &input : inputs) {
        Planned p{input, sys::utf8_of(sys::to_path(options.output) / sys::to_path(input.relative)) + "." + output_extension(options.to), {}, {}};
        std::error_code ec;
        if (!taken.insert(normal(p.output)).second)
            p.refusal = "its output " + p.output + " is another input's output too; not converted";
        else if (!options.force && fs::exists(fs::symlink_status(sys::to_path(p.output), ec)))
            p.refusal = p.output + " exists already (--force replaces it); not converted";
        jobs.push_back(std::move(p));
    }
    return jobs;
}

std::vector<sys::FileId> identities(const std::vector<InputFile> &inputs) {
    std::vector<sys::FileId> ids;
    for (const InputFile &input : inputs) {
        sys::FileId id;
        if (input.path == "-" ? sys::file_id(stdin, id) : sys::file_id(input.path, id)) ids.push_back(id);
    }
    return ids;
}

unsigned worker_count(const Options &options, size_t jobs) {
    unsigned n = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<size_t>(n, std::max<size_t>(jobs, 1)));
}

struct Tally {
    size_t converted = 0, damaged = 0, skipped = 0, failed = 0;
    size_t other = 0, containers = 0;  // members that are not MacWrite documents; containers walked
    Status worst = kOk;
};

// "12 converted, 1 not MacWrite, 0 failed", and what the containers held.
std::string summary(const Tally &t) {
    // Damaged documents are counted apart, and named only when there are some.
    std::string line = std::to_string(t.converted) + " converted, " +
                       (t.damaged == 0 ? "" : std::to_string(t.damaged) + " damaged, ") + std::to_string(t.skipped) +
                       " not MacWrite, " + std::to_string(t.failed) + " failed";
    if (t.containers > 0)
        line += ", " + std::to_string(t.other) + " other file" + (t.other == 1 ? "" : "s") + " in " +
                std::to_string(t.containers) + " container" + (t.containers == 1 ? "" : "s");
    return line;
}

// Counts one member of a container and says what to print about it.
std::string count_member(const MemberOutcome &m, const InputFile &container, Tally &tally, bool quiet) {
    switch (m.kind) {
    case MemberOutcome::kConverted: ++tally.converted; break;
    case MemberOutcome::kDamaged:
        ++tally.damaged;
        tally.worst = worse(tally.worst, kDamaged);
        break;
    case MemberOutcome::kOther: ++tally.other; break;
    case MemberOutcome::kAlone:
        // As for a bare file: skipped in a folder, status 2 when named.
        ++tally.skipped;
        if (!container.found) {
            tally.worst = worse(tally.worst, m.status);
            return m.message;
        }
        return quiet ? std::string() : std::string(m.message).insert(m.message.rfind(": ") + 2, "skipped: ");
    case MemberOutcome::kFailed:
        ++tally.failed;
        tally.worst = worse(tally.worst, m.status);
        break;
    case MemberOutcome::kNote: break;
    }
    return m.message;
}

// Counts one finished job and says what to print about it.
std::string count(const Planned &p, Tally &tally, bool quiet) {
    const Status status = p.outcome.status;
    if (status == kOk) {
        ++tally.converted;
        return {};
    }
    if (status == kNotADocument && p.input.found) {
        ++tally.skipped;
        return quiet ? std::string() : "mwconv: " + p.input.path + ": skipped: not a MacWrite document";
    }
    tally.worst = worse(tally.worst, status);
    if (status == kDamaged) ++tally.damaged;
    else if (status == kNotADocument) ++tally.skipped;
    else ++tally.failed;
    return p.outcome.message;
}

void run_one(const Plugin &plugin, const Options &options, const std::vector<sys::FileId> &ids, Planned &p,
             const MemberReport &report) {
    if (const ContainerInput container = open_container(options, p.input.path, p.input.companion)) {
        p.container = convert_members(plugin, options, ids, p.input.path, container,
                        sys::utf8_of(sys::to_path(options.output) / sys::to_path(p.input.relative)), report);
        return;
    }
    if (!p.refusal.empty()) {
        p.outcome = Outcome{kFailed, "mwconv: " + p.input.path + ": " + p.refusal};
        return;
    }
    std::error_code ec;
    fs::create_directories(sys::to_path(p.output).parent_path(), ec);
    Job job{p.input.path, p.output, &ids, nullptr, ""};
    read_companion(p.input.companion, job);
    // Each document's pictures in a folder named after its output, as the
    // batch mirrors it, less the extension.
    if (!options.media_dir.empty())
        job.media_dir = sys::utf8_of(sys::to_path(options.media_dir) /
                                       sys::to_path(p.output).lexically_relative(sys::to_path(options.output)).replace_extension());
    p.outcome = run_job(plugin, options, job);
}

int run_batch(const Plugin &plugin, const Options &options, const std::vector<InputFile> &inputs) {
    std::vector<Planned> jobs = plan(inputs, options);
    const std::vector<sys::FileId> ids = identities(inputs);
    Progress progress(jobs.size(), !options.quiet && jobs.size() >= kProgressFrom && sys::stderr_is_terminal());
    Tally tally;
    std::mutex tally_mutex;
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < jobs.size();) {
            progress.started(jobs[i].input.path);
            auto report = [&](const MemberOutcome &m) {
                std::string note;
                {
                    std::lock_guard<std::mutex> lock(tally_mutex);
                    note = count_member(m, jobs[i].input, tally, options.quiet);
                }
                if (!note.empty() && !(options.quiet && m.kind == MemberOutcome::kNote)) progress.line(note);
            };
            run_one(plugin, options, ids, jobs[i], report);
            std::string note;
            {
                std::lock_guard<std::mutex> lock(tally_mutex);
                if (jobs[i].container) tally.containers += *jobs[i].container ? 1 : 0;
                else note = count(jobs[i], tally, options.quiet);
            }
            if (!note.empty()) progress.line(note);
            progress.finished(jobs[i].outcome.status != kOk && jobs[i].outcome.status != kDamaged);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned w = 1; w < worker_count(options, jobs.size()); ++w) workers.emplace_back(work);
    work();
    for (std::thread &t : workers) t.join();
    progress.close();
    if (!options.quiet)
        std::fprintf(stderr, "%s\n", summary(tally).c_str());
    return tally.worst;
}

bool output_is_folder(const Options &options) {
    if (!options.output_given || options.output == "-") return false;
    return is_folder(options.output) || options.output.back() == '/' || options.output.back() == '\\';
}

}  // namespace

int run_conversions(const Plugin &plugin, const Options &options) {
    std::vector<std::string> given = options.inputs;
    if (given.empty()) given.push_back("-");
    const bool batch = given.size() > 1 || is_folder(given[0]) || output_is_folder(options);
    if (!batch) {
        const std::vector<sys::FileId> ids = identities({InputFile{given[0], "", false}});
        Job job{given[0], options.output, &ids, nullptr, ""};
        job.media_dir = options.media_dir;
        const std::string companion = expand_inputs({given[0]}).front().companion;
        read_companion(companion, job);
        const ContainerInput container = open_container(options, given[0], companion);
        const Outcome outcome =
            container ? convert_only_member(plugin, options, ids, given[0], container) : run_job(plugin, options, job);
        if (!outcome.message.empty()) std::fprintf(stderr, "%s\n", outcome.message.c_str());
        return outcome.status;
    }
    if (!options.output_given || options.output == "-") {
        std::fprintf(stderr, "mwconv: several inputs or a folder need -o FOLDER\n");
        return kBadUsage;
    }
    std::error_code ec;
    fs::create_directories(sys::to_path(options.output), ec);
    if (!is_folder(options.output)) {
        std::fprintf(stderr, "mwconv: %s: cannot make this folder: %s\n", options.output.c_str(), ec.message().c_str());
        return kFailed;
    }
    return run_batch(plugin, options, expand_inputs(given));
}

}  // namespace mwconv
