// Containers among a run's inputs (disk images, BinHex and MacBinary files,
// AppleSingle, zip and tar archives): walked like folders, every MacWrite
// document inside converted through the same jobs as a file's.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/job.h"
#include "cli/options.h"
#include "cli/plugin.h"
#include "containers/container.h"

namespace mwconv {

struct ContainerInput {
    std::shared_ptr<const containers::Source> source;
    const containers::Format *format = nullptr;
    explicit operator bool() const { return format != nullptr; }
};

// The container at `path`, or none: for a file that is no container, for
// standard input, and when the run reads text or the internal stream.
ContainerInput open_container(const Options &options, const std::string &path);

// What became of one member, for a batch's tally and messages.
struct MemberOutcome {
    // kOther: a member that is no MacWrite document; kAlone: the same, the
    // one file of a wrapper (a .bin of a picture), told as a bare file is;
    // kDamaged: converted, but what could not be read is missing.
    enum Kind { kConverted, kDamaged, kOther, kAlone, kFailed, kNote } kind;
    Status status = kOk;
    std::string message;  // "mwconv: ...", without a line end; empty for none
};
using MemberReport = std::function<void(const MemberOutcome &)>;

// Converts every MacWrite document in the container `input` into `folder`
// (the folder that mirrors the container under -o), mirroring the folders
// inside it; every member is reported, the others counted.  True when the
// container held more than one wrapped file: it was walked as a folder.
bool convert_members(const Plugin &plugin, const Options &options, const std::vector<sys::FileId> &ids,
                     const std::string &input, const ContainerInput &container, const std::string &folder,
                     const MemberReport &report);

// The one file that a container holds (a .hqx or .bin of one document)
// converted to the run's output, as a bare document would be.
Outcome convert_only_member(const Plugin &plugin, const Options &options, const std::vector<sys::FileId> &ids,
                            const std::string &input, const ContainerInput &container);

// --identify on a container: one line (or JSON object) per member.  Returns
// 3 when a member or the container cannot be read, else 0.
int identify_members(const Plugin &plugin, const Options &options, const std::string &input,
                     const ContainerInput &container);

// The Finder's dates of a file in a folder, from its AppleDouble companion
// (empty: none), for its job.
void read_companion(const std::string &companion, Job &job);

}  // namespace mwconv
