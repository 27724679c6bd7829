// UDIF disk images (.dmg): a 512-byte "koly" trailer at the end locates an
// XML property list whose "blkx" entries each describe one partition of the
// disk: a name and a "mish" block table, its chunks stored, zero-filled or
// compressed (zlib, bzip2, ADC, LZFSE, LZMA).
//
// The disk the tables describe is opened as any disk is (a partition map,
// a volume): its files are the image's own, as for a DiskCopy image.  A
// disk that mwconv cannot walk (a PC disk with FAT partitions) gives its
// partitions instead, each a member named as the image names it.
#include <plist/plist.h>

#include <cstring>
#include <string>
#include <vector>

#include "containers/chunked.h"
#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be32;

constexpr size_t kTrailer = 512;
constexpr uint64_t kSector = 512;
constexpr uint64_t kLongestPlist = uint64_t{64} << 20;
constexpr size_t kTableHeader = 204, kTableEntry = 40;

uint64_t be64(const uint8_t *p) { return uint64_t{be32(p)} << 32 | be32(p + 4); }

struct Trailer {
    uint64_t data_at, data_length, plist_at, plist_length, sectors;
};

bool read_trailer(const Source &source, Trailer &t) {
    uint8_t k[kTrailer];
    if (source.size() < kTrailer || source.read_at(source.size() - kTrailer, k, kTrailer) != kTrailer) return false;
    if (std::memcmp(k, "koly", 4) != 0 || be32(k + 4) != 4 || be32(k + 8) != kTrailer) return false;
    t = {be64(k + 24), be64(k + 32), be64(k + 216), be64(k + 224), be64(k + 492)};
    return true;
}

struct Partition {
    std::string name;
    uint64_t first_sector = 0, sectors = 0;
    std::vector<Chunk> chunks;  // on the whole disk
};

// A property list node freed with its tree.
struct PlistFree {
    void operator()(void *p) const { plist_free(static_cast<plist_t>(p)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

// Through the library's pointers rather than its copies: libplist's copy
// of a string asserts that the string holds no NUL, which a damaged list
// may break.
std::string string_of(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return {};
    uint64_t n = 0;
    const char *s = plist_get_string_ptr(node, &n);
    return s != nullptr ? std::string(s, static_cast<size_t>(n)) : std::string();
}

std::vector<uint8_t> data_of(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) return {};
    uint64_t n = 0;
    const auto *d = reinterpret_cast<const uint8_t *>(plist_get_data_ptr(node, &n));
    return d != nullptr ? std::vector<uint8_t>(d, d + n) : std::vector<uint8_t>();
}

// The chunk of one block table entry; false for the entries that hold no
// bytes (comments, the table's end).
bool chunk_of(const uint8_t *e, const Partition &p, const Trailer &t, uint64_t table_data_at, Chunk &c) {
    const uint32_t type = be32(e);
    const uint64_t sector = be64(e + 8), sectors = be64(e + 16);
    if (type == 0x7FFFFFFE || type == 0xFFFFFFFF) return false;
    if (sector > p.sectors || sectors > p.sectors - sector) throw Error(Grade::kFatal, "a chunk lies past its partition");
    c.at = (p.first_sector + sector) * kSector;
    c.length = sectors * kSector;
    c.in_at = t.data_at + table_data_at + be64(e + 24);
    c.in_length = be64(e + 32);
    switch (type) {
        case 0x00000000:
        case 0x00000002: c.kind = Chunk::Kind::kZero; break;
        case 0x00000001: c.kind = Chunk::Kind::kStored; break;
        case 0x80000004: c.kind = Chunk::Kind::kDecoded, c.decoder = decoders::adc_decoder; break;
        case 0x80000005: c.kind = Chunk::Kind::kDecoded, c.decoder = decoders::zlib_decoder; break;
        case 0x80000006: c.kind = Chunk::Kind::kDecoded, c.decoder = decoders::bzip2_decoder; break;
        case 0x80000008: c.kind = Chunk::Kind::kDecoded, c.decoder = decoders::lzma_decoder; break;
        case 0x80000007: c.kind = Chunk::Kind::kDecoded, c.decoder = decoders::lzfse_decoder; break;
        default: {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", type);
            c.kind = Chunk::Kind::kRefused;
            c.refused = std::string("chunks of an unknown type (") + hex + ")";
        }
    }
    return true;
}

// A "mish" block table: the partition's sectors and its chunks.
Partition read_table(const std::vector<uint8_t> &m, std::string name, const Trailer &t) {
    if (m.size() < kTableHeader || std::memcmp(m.data(), "mish", 4) != 0)
        throw Error(Grade::kFatal, "partition \"" + name + "\" has no block table");
    Partition p;
    p.name = std::move(name);
    p.first_sector = be64(&m[8]);
    p.sectors = be64(&m[16]);
    if (p.first_sector > t.sectors || p.sectors > t.sectors - p.first_sector)
        throw Error(Grade::kFatal, "partition \"" + p.name + "\" lies past the end of the disk");
    const uint64_t count = be32(&m[200]);
    if (count > (m.size() - kTableHeader) / kTableEntry)
        throw Error(Grade::kFatal, "partition \"" + p.name + "\"'s block table is cut short");
    for (uint64_t i = 0; i < count; ++i) {
        Chunk c;
        if (chunk_of(&m[kTableHeader + i * kTableEntry], p, t, be64(&m[24]), c)) p.chunks.push_back(std::move(c));
    }
    return p;
}

std::vector<Partition> read_partitions(const Source &source, const Trailer &t) {
    if (t.plist_length == 0) throw Error(Grade::kFatal, "the UDIF image has no property list (an image older than UDIF's XML)");
    if (t.plist_length > kLongestPlist || t.plist_at > source.size() || t.plist_length > source.size() - t.plist_at)
        throw Error(Grade::kFatal, "the UDIF image's property list lies past its end");
    std::string xml(static_cast<size_t>(t.plist_length), '\0');
    read_exact(source, t.plist_at, xml.data(), xml.size(), Grade::kFatal, "the UDIF property list");
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    Plist owner(root);
    if (root == nullptr || plist_get_node_type(root) != PLIST_DICT)
        throw Error(Grade::kFatal, "the UDIF property list cannot be read");
    plist_t forks = plist_dict_get_item(root, "resource-fork");
    plist_t blkx = forks != nullptr && plist_get_node_type(forks) == PLIST_DICT ? plist_dict_get_item(forks, "blkx") : nullptr;
    if (blkx == nullptr || plist_get_node_type(blkx) != PLIST_ARRAY)
        throw Error(Grade::kFatal, "the UDIF property list has no block tables");
    std::vector<Partition> partitions;
    for (uint32_t i = 0; i < plist_array_get_size(blkx); ++i) {
        plist_t entry = plist_array_get_item(blkx, i);
        if (entry == nullptr || plist_get_node_type(entry) != PLIST_DICT) continue;
        std::string name = string_of(plist_dict_get_item(entry, "Name"));
        if (name.empty()) name = string_of(plist_dict_get_item(entry, "CFName"));
        // hdiutil leaves a space before the kind of a partition without a name.
        name.erase(0, name.find_first_not_of(' '));
        if (name.empty()) name = "Partition " + std::to_string(i);
        partitions.push_back(read_table(data_of(plist_dict_get_item(entry, "Data")), std::move(name), t));
    }
    return partitions;
}

// The chunks of one partition, moved to start at 0.
std::vector<Chunk> rebased(const Partition &p) {
    std::vector<Chunk> chunks;
    for (const Chunk &c : p.chunks) {
        Chunk copy{c.at - p.first_sector * kSector, c.length, c.kind, c.in_at, c.in_length, c.decoder, c.refused};
        chunks.push_back(std::move(copy));
    }
    return chunks;
}

// A disk mwconv cannot walk: its partitions, one member each.
class Partitions final : public Container {
public:
    Partitions(std::shared_ptr<const Source> image, std::vector<Partition> partitions)
        : image_(std::move(image)), partitions_(std::move(partitions)) {}

    bool next(Member &member) override {
        if (next_ == partitions_.size()) return false;
        const Partition &p = partitions_[next_++];
        member = Member{};
        member.path = {p.name};
        member.data_length = p.sectors * kSector;
        member.problem = refused(p.chunks);
        return true;
    }

    std::unique_ptr<Source> data() override {
        if (next_ == 0) throw Error(Grade::kMember, "no member");
        const Partition &p = partitions_[next_ - 1];
        return chunked(image_, rebased(p), p.sectors * kSector);
    }

private:
    std::shared_ptr<const Source> image_;
    std::vector<Partition> partitions_;
    size_t next_ = 0;
};

int bid(const Source &source, const uint8_t *, size_t) {
    Trailer t;
    return read_trailer(source, t) ? 95 : 0;
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    Trailer t;
    if (!read_trailer(*source, t)) throw Error(Grade::kFatal, "no UDIF trailer");
    if (t.data_at > source->size() || t.data_length > source->size() - t.data_at)
        throw Error(Grade::kFatal, "the UDIF image's data fork lies past its end");
    std::vector<Partition> partitions = read_partitions(*source, t);
    std::vector<Chunk> all;
    for (const Partition &p : partitions) all.insert(all.end(), p.chunks.begin(), p.chunks.end());
    // Check every table against the disk once, whatever is walked after.
    std::shared_ptr<const Source> disk = chunked(source, std::move(all), t.sectors * kSector);
    try {
        if (auto volume = disk::open_volume(disk)) return volume;
    } catch (const Error &) {
        // A chance reading of a disk mwconv cannot walk: its partitions
        // are given as they are.
    }
    return std::make_unique<Partitions>(std::move(source), std::move(partitions));
}

}  // namespace

const Format &udif_format() {
    static const Format format{"UDIF disk image", bid, open};
    return format;
}

}  // namespace containers
