// StuffIt archives beyond the Container interface: the resource fork of the
// member read last, which tools and tests compare with other readers (the
// archives of the Mac carry most of their bytes there).
#pragma once

#include <memory>
#include <optional>

#include "containers/container.h"

namespace containers {

class StuffItArchive : public Container {
public:
    // The resource fork of the member that `next` returned last, decoded and
    // checked as `data` is.
    std::unique_ptr<Source> resource() override = 0;
};

// Where a StuffIt archive starts in `source`: at 0, or within the first
// megabyte of a self-extracting archive.
std::optional<uint64_t> find_stuffit(const Source &source);

// Opens the archive that `find_stuffit` finds; throws Error (kFatal) when
// there is none or its header is damaged.
std::unique_ptr<StuffItArchive> open_stuffit(std::shared_ptr<const Source> source);

}  // namespace containers
