#include "containers/disk_volume.h"

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // NormalizeString: Windows Vista and later
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <uninorm.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "containers/formats.h"
#include "containers/names.h"
#include "containers/source.h"
#include "mactext/roman.h"
#include "host/kavrel.h"

namespace containers::disk {

std::string mac_roman(const uint8_t *bytes, size_t length) {
    return mactext::mac_roman_to_utf8(std::string_view(reinterpret_cast<const char *>(bytes), length));
}

std::string four_cc(const uint8_t *p) {
    // Four zero bytes are no type at all (files a later Mac OS wrote without
    // Finder info), and would print as NULs.
    if ((p[0] | p[1] | p[2] | p[3]) == 0) return "";
    return std::string(reinterpret_cast<const char *>(p), 4);
}

namespace {

std::string utf8_of(const std::u16string &units) {
    std::string utf8;
    auto put = [&](uint32_t c) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | c >> 6);
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | c >> 12);
            utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | c >> 18);
            utf8 += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            put(0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u));
            ++i;
        } else {
            put(c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
        }
    }
    return utf8;
}

// NFC, by the system's own normalisation on Windows and libunistring
// elsewhere (from tables compiled into it: nothing to load at start, unlike
// ICU); the text as it is when normalisation fails.
std::string composed(const std::u16string &units) {
#ifdef _WIN32
    const auto *in = reinterpret_cast<const wchar_t *>(units.data());
    const int in_length = static_cast<int>(units.size());
    const int guess = NormalizeString(NormalizationC, in, in_length, nullptr, 0);
    if (guess > 0) {
        std::u16string out(static_cast<size_t>(guess), u'\0');
        const int n = NormalizeString(NormalizationC, in, in_length, reinterpret_cast<wchar_t *>(out.data()), guess);
        if (n > 0) {
            out.resize(static_cast<size_t>(n));
            return utf8_of(out);
        }
    }
    return utf8_of(units);
#else
    const std::string utf8 = utf8_of(units);
    size_t length = 0;
    uint8_t *nfc = u8_normalize(UNINORM_NFC, reinterpret_cast<const uint8_t *>(utf8.data()), utf8.size(), nullptr, &length);
    if (nfc == nullptr) return utf8;
    std::string out(reinterpret_cast<const char *>(nfc), length);
    std::free(nfc);
    return out;
#endif
}

}  // namespace

std::string utf16_name(const uint8_t *bytes, size_t units, bool big_endian) {
    std::u16string text(units, u'\0');
    for (size_t i = 0; i < units; ++i) {
        const uint8_t *p = bytes + 2 * i;
        text[i] = static_cast<char16_t>(big_endian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
    }
    return composed(text);
}

namespace {

enum class Holds { VolumeOrTable, Volume };

// The format that bids highest for `source`, or null: a volume, or on a
// whole disk also a partition table.  A partition holds a volume only: a
// table there could name its own disk again, and a walk of it would never end.
const Format *volume_format(const Source &source, Holds holds = Holds::VolumeOrTable) {
    std::vector<uint8_t> head(kHead);
    head.resize(source.read_at(0, head.data(), head.size()));
    const Format *best = nullptr;
    int best_bid = 0;
    for (const Format *f : {&mfs_format(), &hfs_format(), &hfsplus_format(), &partition_map_format(), &gpt_format()}) {
        if (holds == Holds::Volume && (f == &partition_map_format() || f == &gpt_format())) continue;
        const int bid = f->bid(source, head.data(), head.size());
        if (bid > best_bid) best = f, best_bid = bid;
    }
    return best;
}

std::unique_ptr<Container> open_as(std::shared_ptr<const Source> source, Holds holds, const char **name = nullptr) {
    const Format *format = volume_format(*source, holds);
    if (format == nullptr) return nullptr;
    if (name != nullptr) *name = format->name;
    return format->open(std::move(source));
}

}  // namespace

std::unique_ptr<Container> open_volume(std::shared_ptr<const Source> source, const char **name) {
    return open_as(std::move(source), Holds::VolumeOrTable, name);
}

namespace {

class PartitionedDisk final : public Container {
public:
    PartitionedDisk(std::shared_ptr<const Source> source, std::vector<Partition> partitions, std::string damage)
        : source_(std::move(source)), failures_(std::move(damage)) {
        // Partitions that hold nothing mwconv reads are passed over here, so
        // that the folders per partition are known before the first member.
        for (Partition &p : partitions)
            if (p.expected || volume_format(*range(source_, p.offset, p.length), Holds::Volume) != nullptr)
                partitions_.push_back(std::move(p));
    }

    bool next(Member &member) override {
        for (;;) {
            if (volume_ != nullptr && volume_->next(member)) {
                if (partitions_.size() > 1) member.path.insert(member.path.begin(), folder_name());
                return true;
            }
            volume_.reset();
            if (next_ == partitions_.size()) break;
            open_next();
        }
        // Partitions that could not be opened, and damage to the map, end
        // the disk after the others have given what they hold.
        if (!failures_.empty()) {
            std::string message = std::move(failures_);
            failures_.clear();
            throw Error(Grade::kFatal, message);
        }
        return false;
    }

    bool empty() const { return partitions_.empty(); }

    std::unique_ptr<Source> data() override { return current().data(); }
    std::unique_ptr<Source> resource() override { return current().resource(); }

private:
    Container &current() {
        if (volume_ == nullptr) throw Error(Grade::kMember, "no member");
        return *volume_;
    }

    void open_next() {
        const Partition &p = partitions_[next_++];
        const std::string which = std::string("partition \"") + p.name + "\": ";
        try {
            volume_ = open_as(range(source_, p.offset, p.length), Holds::Volume);
            if (volume_ == nullptr && p.expected) failures_ += (failures_.empty() ? "" : "; ") + which + "no volume found";
        } catch (const Error &e) {
            failures_ += (failures_.empty() ? "" : "; ") + which + e.what();
        }
    }

    // The partition's name, or its number when it has none or shares it.
    std::string folder_name() const {
        const Partition &p = partitions_[next_ - 1];
        const auto same = std::count_if(partitions_.begin(), partitions_.end(),
                                        [&](const Partition &q) { return q.name == p.name; });
        return p.name.empty() || same > 1 ? "Partition " + std::to_string(next_) + (p.name.empty() ? "" : " " + p.name)
                                          : p.name;
    }

    std::shared_ptr<const Source> source_;
    std::vector<Partition> partitions_;
    size_t next_ = 0;
    std::unique_ptr<Container> volume_;
    std::string failures_;
};

}  // namespace

std::unique_ptr<Container> partitioned_disk(std::shared_ptr<const Source> source, std::vector<Partition> partitions,
                                            std::string damage) {
    auto disk = std::make_unique<PartitionedDisk>(std::move(source), std::move(partitions), std::move(damage));
    if (disk->empty()) throw Error(Grade::kFatal, "the disk has no partition with an HFS, HFS Plus or MFS volume");
    return disk;
}

bool walk_end(std::vector<std::string> &damage) {
    if (damage.empty()) return false;
    std::string told;
    for (const std::string &d : damage) told += (told.empty() ? "" : "; ") + d;
    damage.clear();
    throw Error(Grade::kFatal, told);
}

}  // namespace containers::disk
