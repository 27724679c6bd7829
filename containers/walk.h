// Walks a container and the containers inside it, down to kMaxDepth, and
// gives every member that is not itself a container, one at a time: memory
// stays that of one member's reading, whatever the container's size.  An
// inventory asks for the containers inside too, each given before its
// members.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"

namespace containers {

struct Leaf {
    // Where the member's output goes, from the top container: the path of
    // each container it lies in and then its own.  A wrapper of one file
    // (MacBinary, BinHex, AppleSingle) adds nothing: its member takes its
    // place and name, so a wrapped document met on its own has an empty path.
    std::vector<std::string> path;
    // The member's path as its own container names it (a wrapper's member
    // with its name), joined by "/" after the paths of the containers around
    // it: what messages and --identify show.
    std::string shown;
    Member member;
    std::shared_ptr<const Source> data;  // null when member.problem says why
    const char *format = "";             // the container it lies in
    // Set on the Leaf that ends a container which gave members before its
    // damage showed: those stand, what lay past the damage is lost.
    bool damaged = false;
    // For a member that is itself a container, in a walk that lists them:
    // the format it is opened as (its members come next); else null.
    const char *opens = nullptr;
};

class Walker {
public:
    // Walks `source`, a container of `format`; `list_containers` gives the
    // containers inside as members too.  An NDIF image is walked over its
    // data fork `source` and its `resource` fork.
    Walker(std::shared_ptr<const Source> source, const Format &format, bool list_containers = false,
           std::shared_ptr<const Source> resource = nullptr);
    ~Walker();
    // The next member, or false at the end.  A container that cannot be
    // read on ends with a Leaf whose member.problem says why (its path that
    // of the container), `damaged` when members of it came before.
    bool next(Leaf &leaf);
    // Containers opened so far, the top one included.
    size_t containers() const { return opened_; }

private:
    struct Frame;
    bool open(const std::function<std::unique_ptr<Container>()> &make, const Format &format,
              std::vector<std::string> path, std::string shown, Leaf &failure);
    // The member's NDIF image, opened from both its forks, when its resource
    // fork holds a chunk table; null otherwise.
    static const Format *ndif_of(Container &container, const Member &member, std::shared_ptr<const Source> &resource);
    // The container of `format` over `data`, or the NDIF image over both
    // forks when `resource` is given.
    static std::unique_ptr<Container> opened(const Format &format, std::shared_ptr<const Source> data,
                                             std::shared_ptr<const Source> resource);

    Leaf failure(const Frame &frame, const std::string &why) const;

    std::vector<std::unique_ptr<Frame>> stack_;
    std::unique_ptr<Leaf> pending_;  // the top container's failure to open
    // A container listed as a member, opened at the next call.
    struct Inner;
    std::unique_ptr<Inner> inner_;
    bool list_containers_;
    size_t opened_ = 0;
    uint64_t budget_;
};

}  // namespace containers
