// Disks with an Apple partition map (hard disks, CD-ROMs): a driver
// descriptor block ("ER") at 0, then one "PM" entry per partition.  Every
// Apple_HFS (HFS or HFS Plus) and Apple_HFSX partition is opened as a volume,
// in the map's order (disk::partitioned_disk).
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
std::vector<disk::Partition> hfs_partitions(const Source &source, uint32_t unit, std::string &damage) {
    std::vector<disk::Partition> partitions;
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
        const std::string type = c_string(entry + 48, 32);
        if (type != "Apple_HFS" && type != "Apple_HFSX") continue;
        partitions.push_back(
            {c_string(entry + 16, 32), uint64_t{be32(entry + 8)} * unit, uint64_t{be32(entry + 12)} * unit, true});
    }
    return partitions;
}

int bid(const Source &source, const uint8_t *head, size_t length) {
    if (length < 4 || be16(head) != kDriverSignature) return 0;
    return map_unit(source, head, length) != 0 ? 90 : 0;
}

std::unique_ptr<Container> open_mac_side(std::shared_ptr<const Source> source) {
    uint8_t head[kEntry];
    const size_t length = source->read_at(0, head, sizeof head);
    const uint32_t unit = map_unit(*source, head, length);
    if (unit == 0) throw Error(Grade::kFatal, "the partition map has no entries");
    std::string damage;
    auto partitions = hfs_partitions(*source, unit, damage);
    if (partitions.empty()) throw Error(Grade::kFatal, damage.empty() ? "the disk has no HFS partition" : damage);
    return disk::partitioned_disk(std::move(source), std::move(partitions), std::move(damage));
}

#ifdef MWCONV_HAVE_LIBARCHIVE
// An ISO 9660 volume descriptor at 32 KiB: the disk is a hybrid CD, whose
// ISO 9660 side lists the same files (xorriso -hfsplus makes such disks).
bool has_iso9660_side(const Source &source) {
    uint8_t id[6];
    return source.read_at(32768, id, sizeof id) == sizeof id && std::memcmp(id + 1, "CD001", 5) == 0;
}

// A hybrid CD whose Mac side cannot be read: its ISO 9660 side through
// libarchive, every member saying why.  The Mac side is tried first, and
// given up only while it has listed nothing, so no file is given twice.
class IsoFallback final : public Container {
public:
    explicit IsoFallback(std::shared_ptr<const Source> source) : source_(std::move(source)) {
        try {
            mac_ = open_mac_side(source_);
        } catch (const Error &e) {
            fall_back(e.what());
        }
    }

    bool next(Member &member) override {
        if (mac_ != nullptr) {
            try {
                if (mac_->next(member)) {
                    listed_ = true;
                    return true;
                }
                return false;
            } catch (const Error &e) {
                if (listed_) throw;
                fall_back(e.what());
            }
        }
        if (!iso_->next(member)) return false;
        if (member.warning.empty()) member.warning = why_;
        return true;
    }

    std::unique_ptr<Source> data() override { return mac_ != nullptr ? mac_->data() : iso_->data(); }
    std::unique_ptr<Source> resource() override { return mac_ != nullptr ? mac_->resource() : iso_->resource(); }

private:
    void fall_back(const std::string &why) {
        mac_.reset();
        why_ = "the Mac side of this hybrid CD cannot be read (" + why + "): read from its ISO 9660 side";
        try {
            iso_ = libarchive_format().open(source_);
        } catch (const Error &e) {
            throw Error(Grade::kFatal, "the Mac side of this hybrid CD cannot be read (" + why +
                                           "), nor its ISO 9660 side (" + e.what() + ")");
        }
    }

    std::shared_ptr<const Source> source_;
    std::unique_ptr<Container> mac_, iso_;
    std::string why_;
    bool listed_ = false;
};
#endif

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
#ifdef MWCONV_HAVE_LIBARCHIVE
    if (has_iso9660_side(*source)) return std::make_unique<IsoFallback>(std::move(source));
#endif
    return open_mac_side(std::move(source));
}

}  // namespace

const Format &partition_map_format() {
    static const Format format{"Apple partition map", bid, open};
    return format;
}

}  // namespace containers
