#include "containers/disk_volume.h"

#include <vector>

#include "containers/formats.h"
#include "host/kavrel.h"

namespace containers::disk {

std::string mac_roman(const uint8_t *bytes, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const uint32_t cp = MAC2INT[bytes[i]];
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::optional<int64_t> mac_date(uint32_t seconds) {
    // 1904-01-01 to 1970-01-01: 66 years, 17 of them leap years.
    constexpr int64_t kEpochDifference = 2082844800;
    if (seconds == 0) return std::nullopt;
    return static_cast<int64_t>(seconds) - kEpochDifference;
}

std::string four_cc(const uint8_t *p) { return std::string(reinterpret_cast<const char *>(p), 4); }

std::unique_ptr<Container> open_volume(std::shared_ptr<const Source> source, const char **name) {
    std::vector<uint8_t> head(kHead);
    head.resize(source->read_at(0, head.data(), head.size()));
    const Format *best = nullptr;
    int best_bid = 0;
    for (const Format *f : {&mfs_format(), &hfs_format(), &partition_map_format()}) {
        const int bid = f->bid(*source, head.data(), head.size());
        if (bid > best_bid) best = f, best_bid = bid;
    }
    if (best == nullptr) return nullptr;
    if (name != nullptr) *name = best->name;
    return best->open(std::move(source));
}

}  // namespace containers::disk
