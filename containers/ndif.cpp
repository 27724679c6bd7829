// NDIF images (Disk Copy 6, type rohd or dimg): the data fork holds the
// disk's chunks, the 'bcem' resource in the resource fork their table.  The
// table's 128-byte header gives the disk's name, its size in sectors and an
// offset added to every chunk's; then 12-byte entries follow: the chunk's
// first sector (24 bits), its type, its offset and length in the data fork.
// A chunk runs to the next entry's sector; type 0xFF ends the table.
//
// The image is only whole with both forks, so it is recognised and opened
// through a member's resource fork, before its data fork is offered to the
// formats that read a bare volume: the first chunk of an image stored raw
// begins with the disk's own boot blocks and volume header.
#include <cstdio>

#include "containers/chunked.h"
#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/resource_fork.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be32;

constexpr uint64_t kSector = 512;
constexpr size_t kHeader = 128, kEntry = 12;
constexpr uint32_t kLongestTable = 1 << 24;

// The chunk kind of an entry's type, or a reason to refuse it.
void kind_of(uint8_t type, Chunk &c) {
    switch (type) {
        case 0x00: c.kind = Chunk::Kind::kZero; return;
        case 0x02: c.kind = Chunk::Kind::kStored; return;
        case 0x83: c.kind = Chunk::Kind::kDecoded, c.decoder = decoders::adc_decoder; return;
        case 0x80: c.refused = "KenCode chunks (type 0x80): mwconv does not decode KenCode"; break;
        case 0xF0: c.refused = "StuffIt chunks (type 0xF0, ShrinkWrap's): mwconv does not decode them"; break;
        default: {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", type);
            c.refused = std::string("chunks of type ") + hex + ": mwconv does not decode them";
        }
    }
    c.kind = Chunk::Kind::kRefused;
}

std::vector<Chunk> chunks_of(const std::vector<uint8_t> &t, uint64_t &sectors) {
    if (t.size() < kHeader) throw Error(Grade::kFatal, "the NDIF chunk table is cut short");
    sectors = be32(&t[68]);
    const uint64_t offset = be32(&t[76]);
    if (be32(&t[84]) != 0) throw Error(Grade::kFatal, "a segmented NDIF image: mwconv reads whole images only");
    if (be32(&t[116]) != 0) throw Error(Grade::kFatal, "an encrypted NDIF image");
    const uint64_t count = be32(&t[124]);
    if (count > (t.size() - kHeader) / kEntry) throw Error(Grade::kFatal, "the NDIF chunk table is cut short");
    std::vector<Chunk> chunks;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t *e = &t[kHeader + i * kEntry];
        const uint64_t first = be32(e) >> 8;
        const uint8_t type = e[3];
        if (type == 0xFF) return chunks;
        if (i + 1 == count) break;
        const uint64_t next = be32(e + kEntry) >> 8;
        if (next < first || next > sectors) throw Error(Grade::kFatal, "an NDIF chunk lies past the disk or before itself");
        Chunk c;
        c.at = first * kSector;
        c.length = (next - first) * kSector;
        c.in_at = offset + be32(e + 4);
        c.in_length = be32(e + 8);
        kind_of(type, c);
        chunks.push_back(std::move(c));
    }
    throw Error(Grade::kFatal, "the NDIF chunk table has no end");
}

int bid(const Source &, const uint8_t *, size_t) { return 0; }

std::unique_ptr<Container> open(std::shared_ptr<const Source>) {
    throw Error(Grade::kFatal, "an NDIF image's chunk table is in its resource fork, which this copy lacks");
}

}  // namespace

const Format &ndif_format() {
    static const Format format{"NDIF image", bid, open};
    return format;
}

bool is_ndif(const Source &resource) {
    try {
        return find_resource(resource, "bcem", kLongestTable).has_value();
    } catch (const Error &) {
        return true;  // a 'bcem' resource there is, if a broken one
    }
}

bool has_ndif_type(const Member &member) {
    return member.type == "rohd" || member.type == "dimg" || member.creator == "dCpy";
}

std::unique_ptr<Container> open_ndif(std::shared_ptr<const Source> data, std::shared_ptr<const Source> resource) {
    std::optional<std::vector<uint8_t>> table;
    try {
        table = find_resource(*resource, "bcem", kLongestTable);
    } catch (const Error &e) {
        throw Error(Grade::kFatal, std::string("the NDIF chunk table: ") + e.what());
    }
    if (!table) throw Error(Grade::kFatal, "no NDIF chunk table in the resource fork");
    uint64_t sectors = 0;
    std::vector<Chunk> chunks = chunks_of(*table, sectors);
    std::shared_ptr<const Source> disk = chunked(std::move(data), std::move(chunks), sectors * kSector);
    auto volume = disk::open_volume(disk);
    if (volume == nullptr) throw Error(Grade::kFatal, "the NDIF image holds no MFS or HFS volume");
    return volume;
}

}  // namespace containers
