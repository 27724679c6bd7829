// Disk images that mwconv recognises but does not read, refused with a
// message that names the format rather than "not a container":
//
// - UDIF (.dmg), where mwconv is built without its libraries: a "koly"
//   trailer in the last 512 bytes.
// - HFS Plus volumes ("H+" or "HX" where HFS has "BD").
#include <cstring>

#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;
using disk::be32;

enum class Kind { kNone, kUdif, kHfsPlus };

bool is_udif([[maybe_unused]] const Source &source) {
#ifdef MWCONV_HAVE_UDIF
    return false;
#else
    uint8_t trailer[4];
    return source.size() >= 512 && source.read_at(source.size() - 512, trailer, 4) == 4 &&
           std::memcmp(trailer, "koly", 4) == 0;
#endif
}

bool is_hfs_plus(const uint8_t *head, size_t length) {
    if (length < 1024 + 4) return false;
    const uint16_t signature = be16(head + 1024), version = be16(head + 1026);
    return (signature == 0x482B && version == 4) || (signature == 0x4858 && version == 5);
}

Kind kind_of(const Source &source, const uint8_t *head, size_t length) {
    if (is_udif(source)) return Kind::kUdif;
    if (is_hfs_plus(head, length)) return Kind::kHfsPlus;
    return Kind::kNone;
}

int bid(const Source &source, const uint8_t *head, size_t length) {
    try {
        return kind_of(source, head, length) == Kind::kNone ? 0 : 95;
    } catch (const Error &) {
        return 0;
    }
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    uint8_t head[kHead];
    const size_t length = source->read_at(0, head, sizeof head);
    switch (kind_of(*source, head, length)) {
        case Kind::kUdif:
            throw Error(Grade::kFatal, "a UDIF disk image (.dmg): mwconv does not read this format");
        case Kind::kHfsPlus:
            throw Error(Grade::kFatal, "an HFS Plus volume: mwconv reads HFS and MFS volumes only");
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
