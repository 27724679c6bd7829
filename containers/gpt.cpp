// GUID partition tables, as Intel Macs and today's disk images use them: a
// protective MBR, the header ("EFI PART") in the second sector, a table of
// partition entries, and a backup of both at the disk's end.  Sectors are
// 512 bytes, or 4096 on some disks: the header's place says which.
//
// The header and the table each carry a CRC-32; when the primary ones do
// not match, the backup is read.  Every partition that a volume format
// recognises is opened (HFS Plus on a Mac's disk); the others (the EFI
// system partition, FAT, APFS) are passed over.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

constexpr char kSignature[] = "EFI PART";
constexpr size_t kHeaderMin = 92;
constexpr uint32_t kMaxEntries = 1024;  // far more than any disk's table (128 is the norm)

uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint64_t le64(const uint8_t *p) { return le32(p) | uint64_t{le32(p + 4)} << 32; }

uint32_t crc32(const uint8_t *p, size_t n) { return static_cast<uint32_t>(::crc32(0L, p, static_cast<uInt>(n))); }

bool has_signature(const Source &source, uint64_t at) {
    uint8_t sig[8];
    return source.read_at(at, sig, 8) == 8 && std::memcmp(sig, kSignature, 8) == 0;
}

// The sector size: where the header is.
uint32_t sector_size(const Source &source) {
    for (uint32_t size : {512u, 4096u})
        if (has_signature(source, size)) return size;
    return 0;
}

// The partitions the header at sector `lba` describes; false with `problem`
// set when the header or its table is unsound.
bool read_table(const Source &source, uint32_t sector, uint64_t lba, std::vector<disk::Partition> &out,
                std::string &problem) {
    if (lba == 0 || lba > source.size() / sector) {
        problem = "the GPT header lies outside the disk";
        return false;
    }
    std::vector<uint8_t> header(sector);
    if (source.read_at(lba * sector, header.data(), sector) != sector || std::memcmp(header.data(), kSignature, 8) != 0) {
        problem = "the GPT header is missing";
        return false;
    }
    const uint32_t header_size = le32(&header[12]);
    if (header_size < kHeaderMin || header_size > sector) {
        problem = "the GPT header has a bad size";
        return false;
    }
    const uint32_t stored = le32(&header[16]);
    std::memset(&header[16], 0, 4);
    if (crc32(header.data(), header_size) != stored) {
        problem = "the GPT header's CRC does not match";
        return false;
    }
    const uint64_t table = le64(&header[72]);
    const uint32_t count = le32(&header[80]), entry_size = le32(&header[84]);
    if (count > kMaxEntries || entry_size < 128 || entry_size > 4096 || entry_size % 8 != 0 ||
        table > source.size() / sector) {
        problem = "the GPT header describes an impossible partition table";
        return false;
    }
    std::vector<uint8_t> entries(size_t{count} * entry_size);
    if (source.read_at(table * sector, entries.data(), entries.size()) != entries.size()) {
        problem = "the GPT partition table lies past the end of the disk";
        return false;
    }
    if (crc32(entries.data(), entries.size()) != le32(&header[88])) {
        problem = "the GPT partition table's CRC does not match";
        return false;
    }
    out.clear();
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *e = &entries[size_t{i} * entry_size];
        if (std::all_of(e, e + 16, [](uint8_t b) { return b == 0; })) continue;
        const uint64_t first = le64(e + 32), last = le64(e + 40);
        if (last < first || first > source.size() / sector) continue;
        size_t units = 0;
        while (units < 36 && (e[56 + 2 * units] | e[57 + 2 * units]) != 0) ++units;
        out.push_back({disk::utf16_name(e + 56, units, false), first * sector, (last - first + 1) * sector, false});
    }
    return true;
}

int bid(const Source &source, const uint8_t *, size_t) { return sector_size(source) != 0 ? 90 : 0; }

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    const uint32_t sector = sector_size(*source);
    if (sector == 0) throw Error(Grade::kFatal, "no GPT header");
    std::vector<disk::Partition> partitions;
    std::string problem, backup_problem;
    if (!read_table(*source, sector, 1, partitions, problem)) {
        // The backup header sits in the disk's last sector.
        if (!read_table(*source, sector, source->size() / sector - 1, partitions, backup_problem))
            throw Error(Grade::kFatal, problem + "; its backup: " + backup_problem);
    }
    return disk::partitioned_disk(std::move(source), std::move(partitions));
}

}  // namespace

const Format &gpt_format() {
    static const Format format{"GUID partition table", bid, open};
    return format;
}

}  // namespace containers
