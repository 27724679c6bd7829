#include "containers/source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace containers {

namespace {

// 64-bit positions in a stdio stream, as each system spells them.
#ifdef _WIN32
int seek_to(std::FILE *f, uint64_t at, int whence) { return _fseeki64(f, static_cast<long long>(at), whence); }
long long position(std::FILE *f) { return _ftelli64(f); }
#else
int seek_to(std::FILE *f, uint64_t at, int whence) { return fseeko(f, static_cast<off_t>(at), whence); }
long long position(std::FILE *f) { return ftello(f); }
#endif

// One stream behind a lock: members of one container may be read from
// several threads, and a stream has one position.
class FileSource final : public Source {
public:
    FileSource(std::FILE *file, uint64_t size) : file_(file), size_(size) {}
    ~FileSource() override { std::fclose(file_); }
    uint64_t size() const override { return size_; }
    size_t read_at(uint64_t offset, void *buffer, size_t n) const override {
        if (offset >= size_) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
        std::lock_guard<std::mutex> lock(mutex_);
        if (seek_to(file_, offset, SEEK_SET) != 0)
            throw Error(Grade::kFatal, std::string("cannot read: ") + std::strerror(errno));
        const size_t got = std::fread(buffer, 1, n, file_);
        if (got < n && std::ferror(file_)) {
            std::clearerr(file_);
            throw Error(Grade::kFatal, "cannot read: input/output error");
        }
        return got;
    }

private:
    std::FILE *file_;
    uint64_t size_;
    mutable std::mutex mutex_;
};

class RangeSource final : public Source {
public:
    RangeSource(std::shared_ptr<const Source> parent, uint64_t offset, uint64_t length)
        : parent_(std::move(parent)), offset_(offset) {
        const uint64_t whole = parent_->size();
        length_ = offset >= whole ? 0 : std::min(length, whole - offset);
    }
    uint64_t size() const override { return length_; }
    size_t read_at(uint64_t offset, void *buffer, size_t n) const override {
        if (offset >= length_) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, length_ - offset));
        return parent_->read_at(offset_ + offset, buffer, n);
    }

private:
    std::shared_ptr<const Source> parent_;
    uint64_t offset_, length_;
};

class ExtentSource final : public Source {
public:
    ExtentSource(std::shared_ptr<const Source> parent, std::vector<Extent> list, uint64_t length)
        : parent_(std::move(parent)), list_(std::move(list)), length_(length) {}
    uint64_t size() const override { return length_; }
    size_t read_at(uint64_t offset, void *buffer, size_t n) const override {
        auto *out = static_cast<uint8_t *>(buffer);
        size_t done = 0;
        uint64_t start = 0;  // of the current extent within the fork
        for (const Extent &e : list_) {
            if (done == n || offset >= length_) break;
            if (offset < start + e.length) {
                const uint64_t within = offset - start;
                const uint64_t left = std::min<uint64_t>({e.length - within, n - done, length_ - offset});
                const size_t got = parent_->read_at(e.offset + within, out + done, static_cast<size_t>(left));
                done += got;
                offset += got;
                if (got < left) break;
            }
            start += e.length;
        }
        return done;
    }

private:
    std::shared_ptr<const Source> parent_;
    std::vector<Extent> list_;
    uint64_t length_;
};

class ByteSource final : public Source {
public:
    explicit ByteSource(std::vector<uint8_t> data) : data_(std::move(data)) {}
    uint64_t size() const override { return data_.size(); }
    size_t read_at(uint64_t offset, void *buffer, size_t n) const override {
        if (offset >= data_.size()) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, data_.size() - offset));
        std::memcpy(buffer, data_.data() + offset, n);
        return n;
    }

private:
    std::vector<uint8_t> data_;
};

}  // namespace

std::shared_ptr<const Source> file_source(std::FILE *f, std::string &error) {
    if (f == nullptr) {
        error = std::strerror(errno);
        return nullptr;
    }
    long long size = -1;
    if (seek_to(f, 0, SEEK_END) == 0) size = position(f);
    if (size < 0) {
        error = std::strerror(errno);
        std::fclose(f);
        return nullptr;
    }
    return std::make_shared<FileSource>(f, static_cast<uint64_t>(size));
}

std::shared_ptr<const Source> open_file_source(const std::string &path, std::string &error) {
    return file_source(std::fopen(path.c_str(), "rb"), error);
}

std::unique_ptr<Source> range(std::shared_ptr<const Source> parent, uint64_t offset, uint64_t length) {
    return std::make_unique<RangeSource>(std::move(parent), offset, length);
}

std::unique_ptr<Source> extents(std::shared_ptr<const Source> parent, std::vector<Extent> list, uint64_t length) {
    return std::make_unique<ExtentSource>(std::move(parent), std::move(list), length);
}

std::unique_ptr<Source> bytes(std::vector<uint8_t> data) { return std::make_unique<ByteSource>(std::move(data)); }

void read_exact(const Source &source, uint64_t offset, void *buffer, size_t n, Grade grade, const char *what) {
    if (source.read_at(offset, buffer, n) != n) throw Error(grade, std::string(what) + " lies past the end of the file");
}

}  // namespace containers
