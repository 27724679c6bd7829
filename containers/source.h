// Sources that every format shares: a file, a range of another source, and
// a list of extents of another source (a fork on a disk volume).
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "containers/container.h"

namespace containers {

// A file read through its own stream, behind a lock (so that several
// members' sources may read it at once).  The path is given to fopen as it
// stands: on Windows, where that is not UTF-8, open the file first.
std::shared_ptr<const Source> open_file_source(const std::string &path, std::string &error);
// The same for a stream already open for reading (a file opened through a
// system's own call, a scratch stream holding a decoded fork); the Source
// owns and closes it.  Null with `error` set when `file` is null or has no
// size.
std::shared_ptr<const Source> file_source(std::FILE *file, std::string &error);

// `length` bytes of `parent` from `offset` (cut at the parent's end).
std::unique_ptr<Source> range(std::shared_ptr<const Source> parent, uint64_t offset, uint64_t length);

// The bytes of `parent` at each extent in turn, `length` in all.
struct Extent {
    uint64_t offset, length;
};
std::unique_ptr<Source> extents(std::shared_ptr<const Source> parent, std::vector<Extent> list, uint64_t length);

// Source bytes owned in memory: small headers and test inputs.
std::unique_ptr<Source> bytes(std::vector<uint8_t> data);

// Reads exactly `n` bytes at `offset` or throws Error of `grade` with `what`.
void read_exact(const Source &source, uint64_t offset, void *buffer, size_t n, Grade grade, const char *what);

}  // namespace containers
