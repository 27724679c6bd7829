// Zip packages of XML parts (DOCX, ODT), written through libzip into an
// output stream.  A part is made of pieces: text held in memory and scratch
// streams that are read only when the package is written, so a part as long
// as the document costs no memory.  Every entry carries the same fixed date
// and attributes: the same parts always give the same bytes.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace render {

class Package {
public:
    // A piece of a part: `text`, or with `file` set, everything that scratch
    // stream holds from its start (the package closes it).
    struct Piece {
        std::string text;
        std::FILE *file = nullptr;
    };

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
        add(name, std::vector<Piece>{{std::move(text), nullptr}}, stored);
    }

    // Writes the package; false when anything could not be read or written.
    bool close();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace render
