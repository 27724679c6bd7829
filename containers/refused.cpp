// Disk images that mwconv recognises but does not read, refused with a
// message that names the format rather than "not a container":
//
// - UDIF (.dmg): a "koly" trailer in the last 512 bytes.
// - DART: a compression byte, a disk kind, the disk's size in KB and a
//   table of block lengths; all four must agree.
// - NDIF: the layout lives in a 'bcem' resource, so the image is only
//   whole with its resource fork; it is recognised in a MacBinary file, the
//   form such an image travels in.
#include <cstring>

#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;
using disk::be32;

enum class Kind { kNone, kUdif, kDart, kNdif };

bool is_udif(const Source &source) {
    uint8_t trailer[4];
    return source.size() >= 512 && source.read_at(source.size() - 512, trailer, 4) == 4 &&
           std::memcmp(trailer, "koly", 4) == 0;
}

bool is_dart(const Source &source, const uint8_t *head, size_t length) {
    if (length < 4 + 2 * 72 || head[0] > 2) return false;
    const uint8_t kind = head[1];
    if (kind != 1 && kind != 2 && kind != 3 && kind != 0x10 && kind != 0x11 && kind != 0x12) return false;
    const uint16_t kilobytes = be16(head + 2);
    if (kilobytes != 400 && kilobytes != 800 && kilobytes != 720 && kilobytes != 1440) return false;
    // A table entry per 20 KB block: absent (0), stored whole (-1), or the
    // length of the block compressed, never more than its 20960 bytes.
    const size_t blocks = kilobytes == 1440 ? 72 : 40;
    uint64_t stored = 0;
    for (size_t i = 0; i < blocks; ++i) {
        const uint16_t n = be16(head + 4 + 2 * i);
        if (n != 0xFFFF && n > 20960) return false;
        stored += n == 0xFFFF ? 20960 : n;
    }
    return stored > 0 && 4 + 2 * blocks + (head[0] == 2 ? stored : 0) <= source.size();
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

Kind kind_of(const Source &source, const uint8_t *head, size_t length) {
    if (is_udif(source)) return Kind::kUdif;
    if (is_ndif_in_macbinary(source, head, length)) return Kind::kNdif;
    if (is_dart(source, head, length)) return Kind::kDart;
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
        case Kind::kDart:
            throw Error(Grade::kFatal, "a DART disk image: mwconv does not read this format");
        case Kind::kNdif:
            throw Error(Grade::kFatal, "an NDIF disk image: mwconv does not read this format");
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
