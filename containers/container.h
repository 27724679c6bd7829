// What documents come in: one interface that lists a container's members,
// one file per container format behind it.  A format is recognised by a bid
// over its first bytes (as the document formats are), apart from reading.
//
// Nothing is extracted to disk or copied whole into memory: a member's data
// fork is a Source, a bounded view into its container (a range, a chain of
// extents) or a decoder's output capped by the size the container declares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace containers {

// Random-access bytes: a file, a range or extents of another Source, or the
// decoded fork of a member.  Reads past the end return fewer bytes; a read
// that fails throws Error.
class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t size() const = 0;
    // Up to `n` bytes at `offset` into `buffer`; the count read (0 at the end).
    virtual size_t read_at(uint64_t offset, void *buffer, size_t n) const = 0;
};

// How bad a problem is, as libarchive grades them: a warning leaves the
// member or container usable, a member error loses that member alone, a
// fatal error ends the container (members already listed stay listed).
enum class Grade { kWarning, kMember, kFatal };

struct Error : std::runtime_error {
    Grade grade;
    Error(Grade g, const std::string &message) : std::runtime_error(message), grade(g) {}
};

struct Member {
    // The member's path inside its container as the container names it,
    // one element per folder level, each a name in UTF-8 (converted from Mac
    // OS Roman where the format stores that) and not yet made safe: the one
    // function in names.h turns it into an output path.
    std::vector<std::string> path;
    std::string type, creator;            // four characters each; empty when unknown
    uint16_t finder_flags = 0;
    std::optional<int64_t> created, modified;  // Unix seconds (a Mac's local clock read as UTC)
    uint64_t data_length = 0;
    uint64_t resource_length = 0;
    // Set when the container lists the member but cannot give its data (a bad
    // CRC, a method it cannot decode); the member's other fields still hold.
    std::string problem;
    // A problem that leaves the data readable (a MacBinary header CRC).
    std::string warning;
};

// A container opened for reading: its members in the container's order.
class Container {
public:
    virtual ~Container() = default;
    // Fills `member` with the next member and returns true, or returns false
    // at the end.  Throws Error (kFatal) when the container cannot be read on.
    virtual bool next(Member &member) = 0;
    // The data fork of the member that `next` returned last, bounded by its
    // declared length.  Throws Error (kMember) when it cannot be given.
    virtual std::unique_ptr<Source> data() = 0;
    // The resource fork of that member, bounded by its declared length, from
    // the containers that give it.  Throws Error (kMember) when it cannot be
    // given.
    virtual std::unique_ptr<Source> resource() {
        throw Error(Grade::kMember, "this container does not give resource forks");
    }
};

// One container format: a bid over the first bytes and an opener.
struct Format {
    const char *name;  // as messages name it: "BinHex 4.0", "HFS volume"
    // How sure the format is that `head` (the first bytes of a Source of
    // `size` bytes) is one of its own: 0 not at all, 100 certain.  Formats
    // whose signature lies further in read it from `source`.
    int (*bid)(const Source &source, const uint8_t *head, size_t head_length);
    std::unique_ptr<Container> (*open)(std::shared_ptr<const Source> source);
};

// Recognition reads this many bytes from the start.
inline constexpr size_t kHead = 4096;

// Containers open containers down to this depth, no further.
inline constexpr int kMaxDepth = 8;

}  // namespace containers
