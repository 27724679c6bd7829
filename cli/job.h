// One conversion: an input file (or standard input) to one output, through
// the plug-in's converters and the renderers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/system.h"
#include "cli/plugin.h"

namespace mwconv {

// Exit statuses.  kDamaged: converted, but the document is damaged and what
// could not be read is missing.
enum Status { kOk = 0, kBadUsage = 1, kNotADocument = 2, kFailed = 3, kDamaged = 4 };

// Which of two statuses a run of several ends with: a failure outweighs a
// document that was not one, which outweighs a damaged one.
inline Status worse(Status a, Status b) {
    auto rank = [](Status s) { return s == kDamaged ? 1 : s == kOk ? 0 : static_cast<int>(s) + 1; };
    return rank(a) >= rank(b) ? a : b;
}

struct Job {
    std::string input;    // "-" for standard input
    std::string output;   // "-" for standard output
    const std::vector<sys::FileId> *inputs = nullptr;  // every input of the run, never to be written
    std::string *message = nullptr;               // where a failure is described
    std::string media_dir;                        // where its pictures go; empty: nowhere
    // An input open already (a container member's data fork in a scratch
    // stream, rewound); `input` then only names it in messages and titles.
    std::FILE *opened = nullptr;
    // The Finder's dates of the document (Unix seconds), when a container
    // gave them: the output's modification time, and DOCX and ODT metadata.
    std::optional<int64_t> created = {}, modified = {};
};

struct Outcome {
    Status status = kOk;
    std::string message;  // on failure: "mwconv: FILE: problem", without a line end
};

// The import whose recognition bids highest for a document's first bytes,
// or null.
const Converter *recognise_import(const Plugin &plugin, const uint8_t *head, size_t length);

// Runs one job; on failure leaves no output behind.  Safe to call from
// several threads at once.
Outcome run_job(const Plugin &plugin, const Options &options, Job job);

}  // namespace mwconv
