// Decoded forks: written into a scratch stream of the host (an unnamed
// temporary file) as they are decoded, then read as a Source.
#pragma once

#include <cstdio>
#include <memory>

#include "containers/container.h"

namespace containers {

class ScratchWriter {
public:
    ScratchWriter();
    ~ScratchWriter();
    ScratchWriter(const ScratchWriter &) = delete;
    ScratchWriter &operator=(const ScratchWriter &) = delete;
    void write(const void *data, size_t n);
    uint64_t written() const { return written_; }
    // The bytes written, as a Source; throws Error (kMember) when the
    // scratch file could not hold them.
    std::shared_ptr<const Source> finish();

private:
    std::FILE *file_;
    uint64_t written_ = 0;
};

}  // namespace containers
