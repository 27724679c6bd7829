// HFS volumes: the master directory block at 1024, the catalog B*-tree that
// names every file and folder, and the extents overflow B*-tree that holds a
// fork's extents past the three its catalog record keeps.  Also the HFS side
// of ISO 9660 / HFS hybrid CDs, whose HFS volume starts at the image's start.
//
// The catalog's leaf nodes are walked in their chain, twice: once at open for
// the folders (few, kept as id -> parent and name), then member by member for
// the files, so a CD's catalog is never held whole.  Every node index, record
// offset and extent is checked against the tree and the volume; a node met
// twice in a chain is a loop and ends the walk with an error (the B-tree
// reader, containers/btree.cpp, is HFS Plus's too).
//
// Damage loses only what lies past it: the files listed before a bad node
// stand, a damaged extents tree leaves the forks it held unreadable (each
// says so), and a catalog whose extents stop short is read as far as they
// go.  The damage ends the walk as an error after the members it left.
#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "containers/btree.h"
#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;
using disk::be32;

constexpr uint64_t kMdbOffset = 1024;
constexpr size_t kMdbLength = 162;
constexpr uint16_t kSignature = 0x4244;  // "BD"
constexpr uint16_t kPlusSignature = 0x482B;  // "H+", a volume embedded in an HFS wrapper
constexpr uint32_t kExtentsFileId = 3, kCatalogFileId = 4;
constexpr uint8_t kFolderRecord = 1, kFileRecord = 2;

struct ExtentRecord {
    uint16_t start[3], count[3];
};

ExtentRecord extent_record(const uint8_t *p) {
    ExtentRecord r{};
    for (int i = 0; i < 3; ++i) r.start[i] = be16(p + 4 * i), r.count[i] = be16(p + 4 * i + 2);
    return r;
}

struct Geometry {
    std::shared_ptr<const Source> source;
    uint64_t first_block = 0;  // byte offset of allocation block 0
    uint32_t block_size = 0, block_count = 0;
};

// Extents of the fork of `id` (data fork, or the B-tree files) from the
// overflow tree, keyed by the fork's allocation block where each record starts.
using Overflow = std::map<std::pair<uint32_t, uint32_t>, ExtentRecord>;

// The byte extents of a fork of `length` bytes; when its extents do not hold
// it, `problem` says why and the extents found before are returned.
std::vector<Extent> fork_extents(const Geometry &g, const Overflow &overflow, uint32_t id, const ExtentRecord &first,
                                 uint64_t length, std::string &problem) {
    std::vector<Extent> list;
    const uint64_t needed = (length + g.block_size - 1) / g.block_size;
    uint64_t have = 0;
    const ExtentRecord *record = &first;
    while (have < needed) {
        for (int i = 0; i < 3 && have < needed; ++i) {
            const uint32_t start = record->start[i], count = record->count[i];
            if (count == 0) break;
            if (uint64_t{start} + count > g.block_count) {
                problem = "its extents lie past the end of the volume";
                return list;
            }
            const uint64_t offset = g.first_block + uint64_t{start} * g.block_size;
            const uint64_t bytes = uint64_t{count} * g.block_size;
            // The last extent may reach past the fork's end: only the bytes the
            // fork uses must lie in the image.
            const uint64_t used = std::min(bytes, length - have * g.block_size);
            if (offset + used > g.source->size()) {
                problem = "its extents lie past the end of the image";
                return list;
            }
            list.push_back({offset, bytes});
            have += count;
        }
        if (have >= needed) break;
        // Each record found starts where the blocks so far end, so `have`
        // grows with every step and the chain cannot loop.
        const auto next = overflow.find({id, static_cast<uint32_t>(have)});
        if (have > UINT32_MAX || next == overflow.end() || next->second.count[0] == 0) {
            problem = "its extents do not cover its length";
            return list;
        }
        record = &next->second;
    }
    return list;
}

// The catalog key's parent id and name; false when the key is malformed.
bool catalog_key(const uint8_t *key, size_t key_length, uint32_t &parent, std::string &name) {
    if (key_length < 7) return false;
    const size_t name_length = key[6];
    if (7 + name_length > key_length) return false;
    parent = be32(key + 2);
    name = disk::mac_roman(key + 7, name_length);
    return true;
}

class HfsVolume final : public btree::CatalogVolume {
public:
    explicit HfsVolume(std::shared_ptr<const Source> source) {
        geometry_.source = std::move(source);
        uint8_t mdb[kMdbLength];
        read_exact(*geometry_.source, kMdbOffset, mdb, sizeof mdb, Grade::kFatal, "the HFS master directory block");
        if (be16(mdb) != kSignature) throw Error(Grade::kFatal, "not an HFS volume");
        if (be16(mdb + 124) == kPlusSignature)
            throw Error(Grade::kFatal, "an HFS wrapper around an HFS Plus volume, which the HFS Plus format reads");
        geometry_.block_count = be16(mdb + 18);
        geometry_.block_size = be32(mdb + 20);
        geometry_.first_block = uint64_t{be16(mdb + 28)} * 512;
        if (geometry_.block_size == 0 || geometry_.block_size % 512 != 0)
            throw Error(Grade::kFatal, "the HFS volume has a bad allocation block size");

        // The extents tree's own extents are all in the MDB.
        open_trees(
            [&] {
                return std::make_unique<btree::Tree>(
                    btree_file(kExtentsFileId, extent_record(mdb + 134), be32(mdb + 130), "the extents tree"),
                    "the extents tree", btree::Keys::kHfs);
            },
            [&] {
                return std::make_unique<btree::Tree>(
                    btree_file(kCatalogFileId, extent_record(mdb + 150), be32(mdb + 146), "the catalog"), "the catalog",
                    btree::Keys::kHfs);
            });
    }

    std::unique_ptr<Source> data() override {
        if (!problem_.empty()) throw Error(Grade::kMember, problem_);
        return extents(geometry_.source, fork_, length_);
    }

    // Read only where a member's layout lies there (an NDIF image's).
    std::unique_ptr<Source> resource() override {
        std::string problem;
        auto list = fork_extents(geometry_, resource_overflow_, resource_.id, resource_.first, resource_.length, problem);
        if (!problem.empty()) throw Error(Grade::kMember, "the resource fork cannot be read: " + problem);
        return extents(geometry_.source, std::move(list), resource_.length);
    }

private:
    // A B-tree file through its extents; one whose extents stop short is
    // read as far as they go, and the damage noted.
    std::shared_ptr<const Source> btree_file(uint32_t id, const ExtentRecord &first, uint32_t length, const char *what) {
        std::string problem;
        auto list = fork_extents(geometry_, overflow_, id, first, length, problem);
        if (!problem.empty()) {
            uint64_t reached = 0;
            for (const Extent &e : list) reached += e.length;
            if (reached == 0) throw Error(Grade::kFatal, std::string(what) + ": " + problem);
            damage_.push_back(std::string(what) + ": " + problem + "; read as far as they reach");
            return extents(geometry_.source, std::move(list), std::min<uint64_t>(reached, length));
        }
        return extents(geometry_.source, std::move(list), length);
    }

    void load_overflow(const btree::Tree &tree) override {
        btree::LeafWalk walk(tree);
        btree::Record r;
        while (walk.next(r)) {
            // Fork type 0 for data forks, 0xFF for resource forks.
            if (r.key_length < 8 || r.data_length < 12 || (r.key[1] != 0 && r.key[1] != 0xFF)) continue;
            (r.key[1] == 0 ? overflow_ : resource_overflow_)[{be32(r.key + 2), be16(r.key + 6)}] = extent_record(r.data);
        }
    }

    void load_folders() override {
        btree::LeafWalk walk(*catalog_);
        btree::Record r;
        while (walk.next(r)) {
            uint32_t parent;
            std::string name;
            if (r.data[0] != kFolderRecord || r.data_length < 70 || !catalog_key(r.key, r.key_length, parent, name))
                continue;
            folders_[be32(r.data + 6)] = btree::Folder{parent, std::move(name)};
        }
    }

    // The folder names from the root down to folder `id`; a warning when the
    // chain breaks or loops (the member is then listed where the chain broke).
    std::vector<std::string> folder_path(uint32_t id, std::string &warning) const {
        return std::move(*btree::folder_path(folders_, id, warning));
    }

    bool file_member(const btree::Record &r, Member &member) override {
        if (r.data_length < 102) return false;
        const uint8_t *file = r.data;
        uint32_t parent;
        std::string name;
        if (file[0] != kFileRecord || !catalog_key(r.key, r.key_length, parent, name)) return false;
        member = Member{};
        member.path = folder_path(parent, member.warning);
        member.path.push_back(std::move(name));
        member.type = disk::four_cc(file + 4);
        member.creator = disk::four_cc(file + 8);
        member.finder_flags = be16(file + 12);
        member.data_length = be32(file + 26);
        member.resource_length = be32(file + 36);
        member.created = disk::mac_date(be32(file + 44));
        member.modified = disk::mac_date(be32(file + 48));
        problem_.clear();
        fork_ = fork_extents(geometry_, overflow_, be32(file + 20), extent_record(file + 74), member.data_length, problem_);
        if (!problem_.empty()) problem_ = "the data fork cannot be read: " + problem_;
        resource_ = {be32(file + 20), extent_record(file + 86), be32(file + 36)};
        member.problem = problem_;
        length_ = member.data_length;
        return true;
    }

    Geometry geometry_;
    Overflow overflow_, resource_overflow_;
    btree::Folders folders_;
    // The data fork of the member listed last, and where its resource fork lies.
    std::vector<Extent> fork_;
    uint64_t length_ = 0;
    std::string problem_;
    struct {
        uint32_t id = 0;
        ExtentRecord first{};
        uint32_t length = 0;
    } resource_;
};

int bid(const Source &, const uint8_t *head, size_t length) {
    if (length < kMdbOffset + kMdbLength) return 0;
    const uint8_t *mdb = head + kMdbOffset;
    if (be16(mdb) != kSignature) return 0;
    const uint32_t block_size = be32(mdb + 20);
    if (block_size == 0 || block_size % 512 != 0 || be16(mdb + 18) == 0) return 0;
    return 90;
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    return std::make_unique<HfsVolume>(std::move(source));
}

}  // namespace

const Format &hfs_format() {
    static const Format format{"HFS volume", bid, open};
    return format;
}

}  // namespace containers
