// Disks with an Apple partition map (hard disks, CD-ROMs): a driver
// descriptor block ("ER") at 0, then one "PM" entry per partition.  Every
// Apple_HFS partition is opened as an HFS volume, in the map's order.  A disk
// with one HFS partition gives that volume's members as its own; with several,
// each partition's members sit in a folder named after the partition.
//
// Most disks space the entries 512 bytes apart and count partition blocks in
// 512 bytes whatever the driver block says; some CDs use the driver block's
// size for both.  The entry found at 512 decides which.
#include <algorithm>
#include <cstring>
#include <vector>

#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;
using disk::be32;

constexpr size_t kEntry = 512;
constexpr uint16_t kDriverSignature = 0x4552;    // "ER"
constexpr uint16_t kPartitionSignature = 0x504D; // "PM"
constexpr uint32_t kMaxEntries = 256;             // more than any map held

struct Partition {
    std::string name;
    uint64_t offset, length;
};

bool is_entry(const uint8_t *p) { return be16(p) == kPartitionSignature; }

// The unit the map counts in: 512 when an entry sits at 512, else the
// driver block's size when one sits there; 0 when neither.
uint32_t map_unit(const Source &source, const uint8_t *head, size_t length) {
    uint8_t entry[2];
    if (length >= 2 * kEntry ? is_entry(head + kEntry)
                             : source.read_at(kEntry, entry, 2) == 2 && is_entry(entry))
        return kEntry;
    const uint32_t block = length >= 4 ? be16(head + 2) : 0;
    if (block <= kEntry || block > 4096 || (block & (block - 1)) != 0) return 0;
    return source.read_at(block, entry, 2) == 2 && is_entry(entry) ? block : 0;
}

std::string c_string(const uint8_t *p, size_t max) {
    const size_t n = std::find(p, p + max, 0) - p;
    return disk::mac_roman(p, n);
}

// The map's HFS partitions; an entry that the map counts but that is cut off
// or not an entry ends it, and `damage` says so.
std::vector<Partition> hfs_partitions(const Source &source, uint32_t unit, std::string &damage) {
    std::vector<Partition> partitions;
    uint8_t entry[kEntry];
    read_exact(source, unit, entry, kEntry, Grade::kFatal, "the partition map");
    const uint32_t count = std::min(be32(entry + 4), kMaxEntries);
    for (uint32_t i = 1; i <= count; ++i) {
        if (source.read_at(uint64_t{i} * unit, entry, kEntry) != kEntry || !is_entry(entry)) {
            damage = "the partition map counts " + std::to_string(count) + " entries, but entry " + std::to_string(i) +
                     " is " + (source.size() < uint64_t{i + 1} * unit ? "cut off" : "not one") +
                     "; the partitions it and those after it describe are missing";
            break;
        }
        if (c_string(entry + 48, 32) != "Apple_HFS") continue;
        partitions.push_back({c_string(entry + 16, 32), uint64_t{be32(entry + 8)} * unit, uint64_t{be32(entry + 12)} * unit});
    }
    return partitions;
}

class PartitionedDisk final : public Container {
public:
    PartitionedDisk(std::shared_ptr<const Source> source, std::vector<Partition> partitions, std::string damage)
        : source_(std::move(source)), partitions_(std::move(partitions)), failures_(std::move(damage)) {}

    bool next(Member &member) override {
        for (;;) {
            if (volume_ != nullptr && volume_->next(member)) {
                if (partitions_.size() > 1) member.path.insert(member.path.begin(), folder_name());
                return true;
            }
            volume_.reset();
            if (next_ == partitions_.size()) break;
            const Partition &p = partitions_[next_++];
            try {
                volume_ = hfs_format().open(range(source_, p.offset, p.length));
            } catch (const Error &e) {
                failures_ += (failures_.empty() ? "" : "; ") + std::string("partition \"") + p.name + "\": " + e.what();
            }
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

    std::unique_ptr<Source> data() override {
        if (volume_ == nullptr) throw Error(Grade::kMember, "no member");
        return volume_->data();
    }

private:
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

int bid(const Source &source, const uint8_t *head, size_t length) {
    if (length < 4 || be16(head) != kDriverSignature) return 0;
    return map_unit(source, head, length) != 0 ? 90 : 0;
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    uint8_t head[kEntry];
    const size_t length = source->read_at(0, head, sizeof head);
    const uint32_t unit = map_unit(*source, head, length);
    if (unit == 0) throw Error(Grade::kFatal, "the partition map has no entries");
    std::string damage;
    auto partitions = hfs_partitions(*source, unit, damage);
    if (partitions.empty()) throw Error(Grade::kFatal, damage.empty() ? "the disk has no HFS partition" : damage);
    return std::make_unique<PartitionedDisk>(std::move(source), std::move(partitions), std::move(damage));
}

}  // namespace

const Format &partition_map_format() {
    static const Format format{"Apple partition map", bid, open};
    return format;
}

}  // namespace containers
