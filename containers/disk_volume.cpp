#include "containers/disk_volume.h"

#include <vector>

#include "containers/formats.h"
#include "containers/names.h"
#include "mactext/roman.h"
#include "host/kavrel.h"

namespace containers::disk {

std::string mac_roman(const uint8_t *bytes, size_t length) {
    return mactext::mac_roman_to_utf8(std::string_view(reinterpret_cast<const char *>(bytes), length));
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
