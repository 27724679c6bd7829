// Delivering an output to where the user asked for it.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "lib/cleanup.h"

namespace mwconv {

// Where a conversion writes its output ("-": standard output).
// - A regular file (or a new one) is written beside the target under a
//   temporary name and moved into place when the conversion succeeded,
//   keeping the permissions of the file it replaces, so a failure leaves no
//   partial file.  Symbolic links are followed: the file they point at is
//   written, the link stays.
// - Standard output, a character device or a FIFO receives the output only
//   once it is whole: it is written into a scratch stream first, then copied
//   there.  Nothing replaces a device or a FIFO.
// - A folder, a block device or a socket is refused.
class Delivery {
public:
    explicit Delivery(std::string target) : target_(std::move(target)) {}
    ~Delivery();
    Delivery(const Delivery &) = delete;
    Delivery &operator=(const Delivery &) = delete;

    // Opens the stream the output is written into; false with `error` set.
    bool open(std::string &error);
    std::FILE *stream() const { return out_; }
    // Whether the stream is a scratch stream of the host (whose failures
    // the host library records) rather than the file beside the target.
    bool through_scratch() const { return temp_.empty(); }
    // Puts the whole output in place; false with `error` set, and then the
    // target is as it was.
    bool commit(std::string &error);

private:
    bool open_beside(const std::string &path, bool exists, std::string &error);

    std::string target_;
    std::string path_;   // the file written, links followed
    std::string temp_;   // the temporary file beside it, while there is one
    std::unique_ptr<char[]> buffer_;  // the temporary file's, larger than the default
    std::FILE *out_ = nullptr;
    PendingFile guard_;
};

}  // namespace mwconv
