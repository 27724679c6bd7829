// Zip packages of XML parts (DOCX, ODT), written through libzip into an
// output stream.  A part is made of pieces: text held in memory and scratch
// streams that are read only when the package is written, so a part as long
// as the document costs no memory.  Every entry carries the same fixed date
// and attributes: the same parts always give the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace render {

// A Unix time as the W3C form of ISO 8601 that package metadata uses,
// universal time ("2026-01-31T09:30:00Z").
std::string w3c_date(int64_t unix_seconds);

class Package {
public:
    // A piece of a part: `text`, or with `file` set, `length` bytes of that
    // scratch stream from `offset` (all of it to its end when `length` is
    // negative).  Parts may share a stream; the last to go closes it.
    struct Piece {
        std::string text;
        std::shared_ptr<std::FILE> file = nullptr;
        long offset = 0, length = -1;
    };

    // A scratch stream for pieces, closed when the last piece that reads it
    // is gone.
    static std::shared_ptr<std::FILE> scratch();

    // `out` must be seekable: the archive's local headers are completed
    // after their entries.
    explicit Package(std::FILE *out);
    ~Package();
    Package(const Package &) = delete;
    Package &operator=(const Package &) = delete;

    // Entries are written in the order they are added; a stored one is not
    // compressed (an ODT's mimetype).
    void add(const std::string &name, std::vector<Piece> pieces, bool stored = false);
    void add(const std::string &name, std::string text, bool stored = false) {
        add(name, std::vector<Piece>{{std::move(text)}}, stored);
    }

    // Writes the package; false when anything could not be read or written.
    bool close();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A document's pictures, as PNG or SVG files, kept in one scratch stream
// until the package is written.
class Media {
public:
    struct File {
        int number;
        bool png;  // else SVG
        long offset, length;
        std::string name() const { return "picture" + std::to_string(number) + (png ? ".png" : ".svg"); }
        const char *media_type() const { return png ? "image/png" : "image/svg+xml"; }
    };

    void add(int number, const std::string &data, bool png);
    const std::vector<File> &files() const { return files_; }
    bool has(bool png) const;
    Package::Piece piece(const File &f) const { return {"", stream_, f.offset, f.length}; }
    // False once a write to the scratch stream failed.
    bool ok() const { return ok_; }

private:
    std::shared_ptr<std::FILE> stream_;
    std::vector<File> files_;
    long end_ = 0;
    bool ok_ = true;
};

}  // namespace render
