// Disk images that mwconv recognises but does not read, refused with a
// message that names the format rather than "not a container":
//
// - UDIF (.dmg), where mwconv is built without its libraries: a "koly"
//   trailer in the last 512 bytes.
// - NDIF: the layout lives in a 'bcem' resource, so the image is only
//   whole with its resource fork; it is recognised in a MacBinary file, the
//   form such an image travels in.
// - HFS Plus volumes ("H+" or "HX" where HFS has "BD").
#include <cstring>

#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;
using disk::be32;

enum class Kind { kNone, kUdif, kNdif, kHfsPlus };

bool is_udif([[maybe_unused]] const Source &source) {
#ifdef MWCONV_HAVE_UDIF
    return false;
#else
    uint8_t trailer[4];
    return source.size() >= 512 && source.read_at(source.size() - 512, trailer, 4) == 4 &&
           std::memcmp(trailer, "koly", 4) == 0;
#endif
}

// A MacBinary file whose resource fork lists a 'bcem' resource type.
bool is_ndif_in_macbinary(const Source &source, const uint8_t *head, size_t length) {
    if (length < 128 || head[0] != 0 || head[1] == 0 || head[1] > 63 || head[74] != 0 || head[82] != 0) return false;
    const uint32_t data_length = be32(head + 83), resource_length = be32(head + 87);
    const uint64_t fork = 128 + (uint64_t{data_length} + 127) / 128 * 128;
    if (resource_length < 30 || fork + resource_length > source.size()) return false;
    uint8_t header[16];
    read_exact(source, fork, header, sizeof header, Grade::kFatal, "the resource fork");
    const uint32_t map_at = be32(header + 4);
    uint8_t map[30];
    if (map_at + uint64_t{sizeof map} > resource_length ||
        source.read_at(fork + map_at, map, sizeof map) != sizeof map)
        return false;
    const uint64_t types = fork + map_at + be16(map + 24);
    const size_t type_count = size_t{be16(map + 28)} + 1;
    for (size_t i = 0; i < type_count && i < 64; ++i) {
        uint8_t type[4];
        if (source.read_at(types + 2 + 8 * i, type, 4) != 4) return false;
        if (std::memcmp(type, "bcem", 4) == 0) return true;
    }
    return false;
}

bool is_hfs_plus(const uint8_t *head, size_t length) {
    if (length < 1024 + 4) return false;
    const uint16_t signature = be16(head + 1024), version = be16(head + 1026);
    return (signature == 0x482B && version == 4) || (signature == 0x4858 && version == 5);
}

Kind kind_of(const Source &source, const uint8_t *head, size_t length) {
    if (is_udif(source)) return Kind::kUdif;
    if (is_hfs_plus(head, length)) return Kind::kHfsPlus;
    if (is_ndif_in_macbinary(source, head, length)) return Kind::kNdif;
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
        case Kind::kNdif:
            throw Error(Grade::kFatal, "an NDIF disk image: mwconv does not read this format");
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
