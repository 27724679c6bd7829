// MFS volumes, the flat file system of the first Macintosh floppies: a
// directory of file entries after the master directory block, and a map of
// 12-bit entries that chains each fork's allocation blocks.  Folders were the
// Finder's alone: it kept them as 'FOBJ' resources in the volume's Desktop
// file, each file entry naming its folder's number; where those records are
// present the folders are mirrored, elsewhere files sit at the top.
//
// A damaged directory (cut short by the image's end, an entry running past
// its sector, fewer entries than the volume counts) gives the files it still
// lists, then ends the walk with an error that says what is missing.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;
using disk::be32;

constexpr uint64_t kMdbOffset = 1024;
constexpr size_t kMapOffset = 64;  // the block map follows the MDB's fields
constexpr uint16_t kSignature = 0xD2D7;
constexpr size_t kSector = 512;
constexpr size_t kEntryFixed = 51;  // a directory entry before its name
constexpr uint32_t kMaxDesktop = 1 << 20;  // a Desktop file larger than this is not read for folders
constexpr uint16_t kFolderObject = 8;
constexpr int kMaxFolderDepth = 64;

struct Geometry {
    std::shared_ptr<const Source> source;
    uint64_t first_block = 0;  // byte offset of allocation block 2, the first
    uint32_t block_size = 0;
    uint16_t block_count = 0;
    std::vector<uint8_t> map;  // 12 bits per block, from block 2
};

uint16_t map_entry(const Geometry &g, uint32_t block) {
    const size_t i = block - 2, at = i * 3 / 2;
    const uint16_t pair = static_cast<uint16_t>(g.map[at] << 8 | g.map[at + 1]);
    return i % 2 == 0 ? pair >> 4 : pair & 0xFFF;
}

// The byte extents of a fork of `length` bytes that starts at allocation
// block `start`, or an explanation of why the block map does not hold it.
std::vector<Extent> fork_extents(const Geometry &g, uint32_t start, uint64_t length, std::string &problem) {
    std::vector<Extent> list;
    const uint64_t needed = (length + g.block_size - 1) / g.block_size;
    std::vector<bool> seen(size_t{g.block_count} + 2);
    uint32_t block = start;
    for (uint64_t n = 0; n < needed; ++n) {
        if (block < 2 || block >= uint32_t{g.block_count} + 2) {
            problem = block == 1 || block == 0 ? "its block chain ends before its length"
                                               : "its block chain leaves the volume";
            return {};
        }
        if (seen[block]) {
            problem = "its block chain forms a loop";
            return {};
        }
        seen[block] = true;
        const uint64_t offset = g.first_block + uint64_t{block - 2} * g.block_size;
        const uint64_t used = std::min<uint64_t>(g.block_size, length - n * g.block_size);
        if (offset + used > g.source->size()) {
            problem = "its blocks lie past the end of the image";
            return {};
        }
        if (!list.empty() && list.back().offset + list.back().length == offset)
            list.back().length += g.block_size;
        else
            list.push_back({offset, g.block_size});
        block = map_entry(g, block);
    }
    return list;
}

struct Entry {
    std::string name;
    const uint8_t *fields;  // the entry's bytes in the directory
};

// The directory's entries: each sector holds entries up to one whose "in
// use" bit is clear; an entry never crosses a sector, and one that would is
// damage, noted in `damage`.
std::vector<Entry> directory_entries(const std::vector<uint8_t> &directory, std::vector<std::string> &damage) {
    std::vector<Entry> entries;
    for (size_t sector = 0; sector + kSector <= directory.size(); sector += kSector) {
        size_t at = 0;
        while (at + kEntryFixed <= kSector) {
            const uint8_t *e = directory.data() + sector + at;
            if ((e[0] & 0x80) == 0) break;
            const size_t length = kEntryFixed + e[50];
            if (at + length > kSector) {
                damage.push_back("an entry of directory sector " + std::to_string(sector / kSector) + " runs past the sector");
                break;
            }
            entries.push_back({disk::mac_roman(e + 51, e[50]), e});
            at += (length + 1) & ~size_t{1};
        }
    }
    return entries;
}

bool is_desktop(const Entry &e) {
    return e.name.size() == 7 && std::equal(e.name.begin(), e.name.end(), "desktop",
                                            [](char a, char b) { return (a | 0x20) == b; });
}

struct Folder {
    int16_t parent;
    std::string name;
};

// The Finder's folder records in the resource fork `fork` of the Desktop
// file: 'FOBJ' resources, the folder's number as the resource's id, its name
// as the resource's name, its parent's number in the record.  Whatever does
// not parse is left out (its files then sit at the top).
std::unordered_map<int16_t, Folder> finder_folders(const std::vector<uint8_t> &fork) {
    std::unordered_map<int16_t, Folder> folders;
    const size_t size = fork.size();
    if (size < 16) return folders;
    const uint32_t data_at = be32(&fork[0]), map_at = be32(&fork[4]);
    if (map_at >= size || size - map_at < 30 || data_at >= size) return folders;
    const uint8_t *map = &fork[map_at];
    const size_t map_size = size - map_at;
    const size_t types_at = be16(map + 24), names_at = be16(map + 26);
    if (types_at + 2 > map_size) return folders;
    const size_t type_count = size_t{be16(map + types_at)} + 1;
    for (size_t t = 0; t < type_count; ++t) {
        const size_t entry = types_at + 2 + 8 * t;
        if (entry + 8 > map_size) break;
        if (std::memcmp(map + entry, "FOBJ", 4) != 0) continue;
        const size_t count = size_t{be16(map + entry + 4)} + 1;
        for (size_t r = 0; r < count; ++r) {
            const size_t ref = types_at + be16(map + entry + 6) + 12 * r;
            if (ref + 12 > map_size) break;
            const auto id = static_cast<int16_t>(be16(map + ref));
            const uint16_t name_offset = be16(map + ref + 2);
            const size_t data = data_at + (be32(map + ref + 4) & 0xFFFFFF);
            if (name_offset == 0xFFFF || data + 4 + 14 > size) continue;
            const size_t name = names_at + name_offset;
            if (name >= map_size || name + 1 + map[name] > map_size) continue;
            const uint8_t *record = &fork[data + 4];
            if (be16(record) != kFolderObject) continue;
            folders[id] = Folder{static_cast<int16_t>(be16(record + 12)), disk::mac_roman(map + name + 1, map[name])};
        }
    }
    return folders;
}

class MfsVolume final : public Container {
public:
    explicit MfsVolume(std::shared_ptr<const Source> source) {
        geometry_.source = std::move(source);
        uint8_t mdb[kMapOffset];
        read_exact(*geometry_.source, kMdbOffset, mdb, sizeof mdb, Grade::kFatal, "the MFS master directory block");
        if (be16(mdb) != kSignature) throw Error(Grade::kFatal, "not an MFS volume");
        const uint32_t directory_start = be16(mdb + 14), directory_sectors = be16(mdb + 16);
        geometry_.block_count = be16(mdb + 18);
        geometry_.block_size = be32(mdb + 20);
        geometry_.first_block = uint64_t{be16(mdb + 28)} * kSector;
        if (geometry_.block_size == 0 || geometry_.block_size % kSector != 0 || geometry_.block_count > 0xFFD)
            throw Error(Grade::kFatal, "the MFS volume has a bad allocation block size or count");
        geometry_.map.resize((size_t{geometry_.block_count} * 3 + 1) / 2 + 1);
        read_exact(*geometry_.source, kMdbOffset + kMapOffset, geometry_.map.data(), geometry_.map.size(), Grade::kFatal,
                   "the MFS block map");
        if (directory_sectors == 0) throw Error(Grade::kFatal, "the MFS volume has no directory");
        // A directory cut by the image's end is read as far as it goes.
        const uint64_t start = uint64_t{directory_start} * kSector, size = geometry_.source->size();
        const uint64_t in_image = size > start ? std::min<uint64_t>((size - start) / kSector, directory_sectors) : 0;
        if (in_image == 0) throw Error(Grade::kFatal, "the MFS directory lies past the end of the image");
        if (in_image < directory_sectors)
            damage_.push_back("the directory's last " + std::to_string(directory_sectors - in_image) +
                              " sectors lie past the end of the image");
        directory_.resize(static_cast<size_t>(in_image) * kSector);
        read_exact(*geometry_.source, start, directory_.data(), directory_.size(), Grade::kFatal, "the MFS directory");
        entries_ = directory_entries(directory_, damage_);
        if (const size_t counted = be16(mdb + 12); entries_.size() < counted)
            damage_.push_back("its directory lists " + std::to_string(entries_.size()) + " of the " + std::to_string(counted) +
                              " files the volume counts");
        load_folders();
    }

    bool next(Member &member) override {
        if (next_ == entries_.size()) {
            return disk::walk_end(damage_);
        }
        const Entry &entry = entries_[next_++];
        const uint8_t *e = entry.fields;
        member = Member{};
        member.path = folder_path(static_cast<int16_t>(be16(e + 16)));
        member.path.push_back(entry.name);
        member.type = disk::four_cc(e + 2);
        member.creator = disk::four_cc(e + 6);
        member.finder_flags = be16(e + 10);
        member.data_length = be32(e + 24);
        member.resource_length = be32(e + 34);
        member.created = disk::mac_date(be32(e + 42));
        member.modified = disk::mac_date(be32(e + 46));
        problem_.clear();
        fork_ = fork_extents(geometry_, be16(e + 22), member.data_length, problem_);
        if (!problem_.empty()) problem_ = "the data fork cannot be read: " + problem_;
        member.problem = problem_;
        length_ = member.data_length;
        return true;
    }

    std::unique_ptr<Source> data() override {
        if (!problem_.empty()) throw Error(Grade::kMember, problem_);
        return extents(geometry_.source, fork_, length_);
    }

private:
    void load_folders() {
        const auto desktop = std::find_if(entries_.begin(), entries_.end(), is_desktop);
        if (desktop == entries_.end()) return;
        const uint32_t length = be32(desktop->fields + 34);
        if (length == 0 || length > kMaxDesktop) return;
        std::string problem;
        auto list = fork_extents(geometry_, be16(desktop->fields + 32), length, problem);
        if (!problem.empty()) return;
        std::vector<uint8_t> fork(length);
        if (extents(geometry_.source, std::move(list), length)->read_at(0, fork.data(), length) != length) return;
        folders_ = finder_folders(fork);
    }

    // Folder numbers 0 and below are the volume's top, the desktop and the
    // trash; a number without a record, or a chain of parents that loops,
    // leaves the file at the top too.
    std::vector<std::string> folder_path(int16_t id) const {
        std::vector<std::string> path;
        for (int depth = 0; id > 0; ++depth) {
            const auto folder = folders_.find(id);
            if (folder == folders_.end() || depth == kMaxFolderDepth) return {};
            path.push_back(folder->second.name);
            id = folder->second.parent;
        }
        std::reverse(path.begin(), path.end());
        return path;
    }

    Geometry geometry_;
    std::vector<uint8_t> directory_;
    std::vector<Entry> entries_;
    std::vector<std::string> damage_;  // found at open, told after the last member
    std::unordered_map<int16_t, Folder> folders_;
    size_t next_ = 0;
    std::vector<Extent> fork_;
    uint64_t length_ = 0;
    std::string problem_;
};

int bid(const Source &, const uint8_t *head, size_t length) {
    if (length < kMdbOffset + kMapOffset) return 0;
    const uint8_t *mdb = head + kMdbOffset;
    if (be16(mdb) != kSignature) return 0;
    const uint32_t block_size = be32(mdb + 20);
    if (block_size == 0 || block_size % kSector != 0 || be16(mdb + 18) == 0 || be16(mdb + 16) == 0) return 0;
    return 90;
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    return std::make_unique<MfsVolume>(std::move(source));
}

}  // namespace

const Format &mfs_format() {
    static const Format format{"MFS volume", bid, open};
    return format;
}

}  // namespace containers
