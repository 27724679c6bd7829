#include "containers/resource_fork.h"

#include <cstring>

#include "containers/disk_volume.h"

namespace containers {

using disk::be16;
using disk::be32;

namespace {

constexpr uint32_t kLongestMap = 1 << 24;

}  // namespace

std::optional<std::vector<uint8_t>> find_resource(const Source &fork, const char *type, uint32_t most) {
    uint8_t header[16];
    if (fork.read_at(0, header, sizeof header) != sizeof header) return std::nullopt;
    const uint64_t data_at = be32(header), map_at = be32(header + 4), map_length = be32(header + 12);
    if (map_length < 30 || map_length > kLongestMap || map_at + map_length > fork.size()) return std::nullopt;
    std::vector<uint8_t> map(static_cast<size_t>(map_length));
    if (fork.read_at(map_at, map.data(), map.size()) != map.size()) return std::nullopt;
    const size_t types_at = be16(&map[24]);
    if (types_at + 2 > map.size()) return std::nullopt;
    const size_t type_count = size_t{be16(&map[types_at])} + 1;
    for (size_t t = 0; t < type_count; ++t) {
        const size_t entry = types_at + 2 + 8 * t;
        if (entry + 8 > map.size()) return std::nullopt;
        if (std::memcmp(&map[entry], type, 4) != 0) continue;
        const size_t ref = types_at + be16(&map[entry + 6]);
        if (ref + 12 > map.size()) return std::nullopt;
        const uint64_t at = data_at + (be32(&map[ref + 4]) & 0xFFFFFF);
        uint8_t length[4];
        if (fork.read_at(at, length, 4) != 4) return std::nullopt;
        if (be32(length) > most) throw Error(Grade::kMember, "a resource claims more bytes than its kind can hold");
        std::vector<uint8_t> bytes(be32(length));
        if (fork.read_at(at + 4, bytes.data(), bytes.size()) != bytes.size()) return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

}  // namespace containers
