// What the disk image formats share: big-endian fields, Mac OS Roman names,
// the Macintosh clock, and opening the volume that a wrapper (a DiskCopy
// image, a partition) holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "containers/container.h"
#include "containers/names.h"
#include "mactext/clock.h"

namespace containers::disk {

inline uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// A name stored in Mac OS Roman, in UTF-8; nothing else is changed (a '/' or
// a control character stays for the walker's one naming function).
std::string mac_roman(const uint8_t *bytes, size_t length);

using mactext::mac_date;

// Four characters of a Finder type or creator, as stored; empty for four zero
// bytes, which mean none.
std::string four_cc(const uint8_t *p);

// The volume in `source` (an MFS or HFS volume, or a disk with an Apple
// partition map) opened by the format that bids highest; null when none does.
// `name` says which format it was.
std::unique_ptr<Container> open_volume(std::shared_ptr<const Source> source, const char **name = nullptr);

}  // namespace containers::disk

namespace containers::disk {

// `units` UTF-16 code units (big- or little-endian) as UTF-8, composed to
// Unicode's NFC: HFS Plus stores names decomposed, and an output path should
// spell "é" as every other program on the output's system does.  A lone
// surrogate becomes U+FFFD.
std::string utf16_name(const uint8_t *bytes, size_t units, bool big_endian);

}  // namespace containers::disk

namespace containers::disk {

// One partition of a partitioned disk (an Apple partition map, a GPT).
struct Partition {
    std::string name;
    uint64_t offset, length;
    // Whether the map says the partition holds a volume mwconv reads (an
    // Apple_HFS entry): when none is found there, that is reported.  Other
    // partitions are opened when a volume format recognises them, and
    // otherwise passed over (a FAT or an EFI system partition).
    bool expected = false;
};

// A disk's partitions, each opened as a volume in the map's order: with one
// volume, its members are the disk's; with several, each volume's members
// sit in a folder named after its partition.  Partitions that cannot be
// read, and `damage` to the map, are reported once the others have given
// what they hold.
std::unique_ptr<Container> partitioned_disk(std::shared_ptr<const Source> source, std::vector<Partition> partitions,
                                            std::string damage = "");

// The end of a volume's walk: false when nothing went wrong, otherwise the
// damage met on the way, thrown once (kFatal) after every member that could
// be listed, and forgotten.
bool walk_end(std::vector<std::string> &damage);

}  // namespace containers::disk
