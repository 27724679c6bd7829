// Disk images that mwconv recognises but does not read, refused with a
// message that names the format rather than "not a container":
//
// - UDIF (.dmg), where mwconv is built without its libraries: a "koly"
//   trailer in the last 512 bytes.
#include <cstring>

#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

enum class Kind { kNone, kUdif };

bool is_udif([[maybe_unused]] const Source &source) {
#ifdef MWCONV_HAVE_UDIF
    return false;
#else
    uint8_t trailer[4];
    return source.size() >= 512 && source.read_at(source.size() - 512, trailer, 4) == 4 &&
           std::memcmp(trailer, "koly", 4) == 0;
#endif
}

Kind kind_of(const Source &source) {
    if (is_udif(source)) return Kind::kUdif;
    return Kind::kNone;
}

int bid(const Source &source, const uint8_t *, size_t) {
    try {
        return kind_of(source) == Kind::kNone ? 0 : 95;
    } catch (const Error &) {
        return 0;
    }
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    switch (kind_of(*source)) {
        case Kind::kUdif:
            throw Error(Grade::kFatal, "a UDIF disk image (.dmg): mwconv does not read this format");
        case Kind::kNone:
            break;
    }
    throw Error(Grade::kFatal, "not a disk image");
}

}  // namespace

const Format &refused_format() {
    static const Format format{"refused disk image", bid, open};
    return format;
}

}  // namespace containers
