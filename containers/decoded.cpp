#include "containers/decoded.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "containers/source.h"
#include "host/scratch.h"

namespace containers {

ScratchWriter::ScratchWriter() : file_(kavrel::open_scratch_stream()) {}

ScratchWriter::~ScratchWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void ScratchWriter::write(const void *data, size_t n) {
    std::fwrite(data, 1, n, file_);
    written_ += n;
}

std::shared_ptr<const Source> ScratchWriter::finish() {
    if (!kavrel::check_stream(file_) || std::ferror(file_) || kavrel::scratch_failure() != 0)
        throw Error(Grade::kMember, "cannot write a scratch file in " + kavrel::scratch_folder());
    std::string error;
    std::FILE *f = file_;
    file_ = nullptr;
    auto source = file_source(f, error);
    if (!source) throw Error(Grade::kMember, "cannot read back a scratch file: " + error);
    return source;
}

}  // namespace containers
