// What the disk image formats share: big-endian fields, Mac OS Roman names,
// the Macintosh clock, and opening the volume that a wrapper (a DiskCopy
// image, a partition) holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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

// Four characters of a Finder type or creator, as stored.
std::string four_cc(const uint8_t *p);

// The volume in `source` (an MFS or HFS volume, or a disk with an Apple
// partition map) opened by the format that bids highest; null when none does.
// `name` says which format it was.
std::unique_ptr<Container> open_volume(std::shared_ptr<const Source> source, const char **name = nullptr);

}  // namespace containers::disk
