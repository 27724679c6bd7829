// Containers among a run's inputs (disk images, BinHex and MacBinary files,
// AppleSingle, zip and tar archives): walked like folders, every MacWrite
// document inside converted through the same jobs as a file's.
#pragma once

#include <filesystem>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/job.h"
#include "lib/plugin.h"
#include "containers/container.h"

namespace mwconv {

struct ContainerInput {
    std::shared_ptr<const containers::Source> source;
    const containers::Format *format = nullptr;
    std::shared_ptr<const containers::Source> resource = nullptr;  // an NDIF image's, from its companion
    explicit operator bool() const { return format != nullptr; }
};

// The container at `path`, or none: for a file that is no container, for
// standard input, and when the run reads text or the internal stream.  A
// file whose AppleDouble `companion` marks it as an NDIF image and carries
// its chunk table is that image, whatever its data fork alone looks like.
ContainerInput open_container(const RunOptions &options, const std::string &path, const std::string &companion = "");
// The same for a file open for reading, which the container then owns (null
// when it is none, and the stream is closed).
ContainerInput open_container(const RunOptions &options, std::FILE *file);

using MemberReport = std::function<void(const MemberOutcome &)>;

// Converts every MacWrite document in the container `input` into `folder`
// (the folder that mirrors the container under -o), mirroring the folders
// inside it; every member is reported, the others counted.  True when the
// container held more than one wrapped file: it was walked as a folder.
bool convert_members(const Plugin &plugin, const RunOptions &options, const std::vector<sys::FileId> &ids,
                     const std::string &input, const ContainerInput &container, const std::string &folder,
                     const MemberReport &report);

// The same for a container that wraps one file (a .hqx or .bin of one
// document; damage past it aside), with no member asked for and no media
// folder: its document converted into the stream `into`, its outcomes
// reported as convert_members reports them; whether the document converted
// (damaged or not).  Nothing, with nothing written or reported, for any
// other container.
std::optional<bool> convert_wrapped(const Plugin &plugin, const RunOptions &options, const std::string &input,
                                    const ContainerInput &container, std::FILE *into, const MemberReport &report);

// The one file that a container holds (a .hqx or .bin of one document)
// converted to the run's output, as a bare document would be.
Outcome convert_only_member(const Plugin &plugin, const RunOptions &options, const std::vector<sys::FileId> &ids,
                            const std::string &input, const ContainerInput &container);

// --identify on a container: one line (or JSON object) per member, the
// containers inside included, each before its own members, each given to
// `print` without its line end.  Returns 3 when a member or the container
// cannot be read, else 4 when a container is damaged past members it gave,
// else 0.
int identify_members(const Plugin &plugin, const RunOptions &options, const std::string &input,
                     const ContainerInput &container, const std::function<void(const std::string &)> &print);

// A file's AppleDouble companion: "._NAME" beside it, or
// "__MACOSX/DIR/._NAME" under the folder `root` walked, as an unzipped
// archive from a Mac leaves them; empty when it has none.
std::string companion_of(const std::filesystem::path &root, const std::filesystem::path &file);

// The Finder's dates of a file in a folder, from its AppleDouble companion
// (empty: none), for its job.
void read_companion(const std::string &companion, Job &job);

}  // namespace mwconv
