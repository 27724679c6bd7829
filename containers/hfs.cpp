// HFS volumes: the master directory block at 1024, the catalog B*-tree that
// names every file and folder, and the extents overflow B*-tree that holds a
// fork's extents past the three its catalog record keeps.  Also the HFS side
// of ISO 9660 / HFS hybrid CDs, whose HFS volume starts at the image's start.
//
// The catalog's leaf nodes are walked in their chain, twice: once at open for
// the folders (few, kept as id -> parent and name), then member by member for
// the files, so a CD's catalog is never held whole.  Every node index, record
// offset and extent is checked against the tree and the volume; a node met
// twice in a chain is a loop and ends the walk with an error.
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
constexpr uint32_t kRootId = 2, kExtentsFileId = 3, kCatalogFileId = 4;
constexpr uint8_t kLeafNode = 0xFF, kHeaderNode = 1;
constexpr uint8_t kFolderRecord = 1, kFileRecord = 2;
// Deeper than any Finder allowed; a longer parent chain is a loop.
constexpr int kMaxFolderDepth = 256;

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

// One B*-tree file read through its extents: nodes by index, records in a node.
class BTree {
public:
    BTree(std::shared_ptr<const Source> file, const char *what) : file_(std::move(file)), what_(what) {
        uint8_t head[14 + 32];
        read_exact(*file_, 0, head, sizeof head, Grade::kFatal, what_);
        if (head[8] != kHeaderNode) fail("has no header node");
        const uint8_t *h = head + 14;
        first_leaf_ = be32(h + 10);
        node_size_ = be16(h + 18);
        if (node_size_ < 512 || node_size_ > 32768 || (node_size_ & (node_size_ - 1)) != 0) fail("has a bad node size");
        node_count_ = static_cast<uint32_t>(std::min<uint64_t>(be32(h + 22), file_->size() / node_size_));
    }

    uint32_t first_leaf() const { return first_leaf_; }
    uint32_t node_count() const { return node_count_; }

    // Reads leaf node `index` into `node`; returns its record count.
    size_t read_leaf(uint32_t index, std::vector<uint8_t> &node) const {
        if (index == 0 || index >= node_count_) fail("links to a node outside the tree");
        node.resize(node_size_);
        read_exact(*file_, uint64_t{index} * node_size_, node.data(), node_size_, Grade::kFatal, what_);
        if (node[8] != kLeafNode) fail("links to a node that is not a leaf");
        const size_t count = be16(&node[10]);
        if (14 + 2 * (count + 1) > node_size_) fail("has a node with more records than fit");
        return count;
    }

    // Record `i` of `node` (`count` records), or an empty span when its
    // offsets are out of order or outside the node.
    static std::pair<const uint8_t *, size_t> record(const std::vector<uint8_t> &node, size_t count, size_t i) {
        const size_t end_of_records = node.size() - 2 * (count + 1);
        const size_t start = be16(&node[node.size() - 2 * (i + 1)]);
        const size_t stop = be16(&node[node.size() - 2 * (i + 2)]);
        if (start < 14 || stop <= start || stop > end_of_records) return {nullptr, 0};
        return {node.data() + start, stop - start};
    }

    // The next leaf after `node`, 0 at the end; `seen` marks the chain so far.
    uint32_t next_leaf(const std::vector<uint8_t> &node, std::vector<bool> &seen) const {
        const uint32_t next = be32(node.data());
        if (next == 0) return 0;
        if (next >= node_count_) fail("links to a node outside the tree");
        if (seen[next]) fail("has leaf nodes that form a loop");
        seen[next] = true;
        return next;
    }

    [[noreturn]] void fail(const char *problem) const { throw Error(Grade::kFatal, std::string(what_) + " " + problem); }

private:
    std::shared_ptr<const Source> file_;
    const char *what_;
    uint32_t first_leaf_ = 0, node_count_ = 0;
    size_t node_size_ = 512;
};

// Calls `visit(key, key_length, data, data_length)` for each record of every
// leaf of `tree`, in the chain's order.
template <typename Visit>
void each_leaf_record(const BTree &tree, Visit visit) {
    std::vector<bool> seen(tree.node_count());
    std::vector<uint8_t> node;
    uint32_t index = tree.first_leaf();
    if (index == 0) return;
    if (index < seen.size()) seen[index] = true;
    while (index != 0) {
        const size_t count = tree.read_leaf(index, node);
        for (size_t i = 0; i < count; ++i) {
            auto [rec, length] = BTree::record(node, count, i);
            if (rec == nullptr) continue;
            const size_t key_length = size_t{rec[0]} + 1;
            const size_t data_at = (key_length + 1) & ~size_t{1};
            if (data_at >= length) continue;
            visit(rec, key_length, rec + data_at, length - data_at);
        }
        index = tree.next_leaf(node, seen);
    }
}

struct Folder {
    uint32_t parent;
    std::string name;
};

// The catalog key's parent id and name; false when the key is malformed.
bool catalog_key(const uint8_t *key, size_t key_length, uint32_t &parent, std::string &name) {
    if (key_length < 7) return false;
    const size_t name_length = key[6];
    if (7 + name_length > key_length) return false;
    parent = be32(key + 2);
    name = disk::mac_roman(key + 7, name_length);
    return true;
}

class HfsVolume final : public Container {
public:
    explicit HfsVolume(std::shared_ptr<const Source> source) {
        geometry_.source = std::move(source);
        uint8_t mdb[kMdbLength];
        read_exact(*geometry_.source, kMdbOffset, mdb, sizeof mdb, Grade::kFatal, "the HFS master directory block");
        if (be16(mdb) != kSignature) throw Error(Grade::kFatal, "not an HFS volume");
        if (be16(mdb + 124) == kPlusSignature)
            throw Error(Grade::kFatal, "an HFS Plus volume (inside an HFS wrapper): mwconv reads HFS volumes only");
        geometry_.block_count = be16(mdb + 18);
        geometry_.block_size = be32(mdb + 20);
        geometry_.first_block = uint64_t{be16(mdb + 28)} * 512;
        if (geometry_.block_size == 0 || geometry_.block_size % 512 != 0)
            throw Error(Grade::kFatal, "the HFS volume has a bad allocation block size");

        // The extents tree first (its own extents are all in the MDB), then
        // the catalog, whose extents may continue in it.  Without the
        // extents tree, the forks that need it cannot be read; the others can.
        try {
            load_overflow(BTree(btree_file(kExtentsFileId, extent_record(mdb + 134), be32(mdb + 130), "the extents tree"),
                                "the extents tree"));
        } catch (const Error &e) {
            damage_.push_back(e.what());
        }
        catalog_ = std::make_unique<BTree>(
            btree_file(kCatalogFileId, extent_record(mdb + 150), be32(mdb + 146), "the catalog"), "the catalog");
        try {
            load_folders();
        } catch (const Error &) {
            // The walk over the files meets the same damage at the same
            // place and reports it; the folders before it are kept.
        }
        seen_.assign(catalog_->node_count(), false);
        leaf_ = catalog_->first_leaf();
        if (leaf_ != 0 && leaf_ < seen_.size()) seen_[leaf_] = true;
    }

    bool next(Member &member) override {
        for (;;) {
            if (record_ == records_) {
                if (leaf_ == 0) return damaged_end();
                if (loaded_) leaf_ = catalog_->next_leaf(node_, seen_);
                if (leaf_ == 0) return damaged_end();
                records_ = catalog_->read_leaf(leaf_, node_);
                record_ = 0;
                loaded_ = true;
                continue;
            }
            auto [rec, length] = BTree::record(node_, records_, record_++);
            if (rec != nullptr && file_member(rec, length, member)) return true;
        }
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
    // The end of the catalog's walk: false, or the damage met on the way
    // (told once, after every file that could be listed).
    bool damaged_end() {
        if (damage_.empty()) return false;
        std::string told;
        for (const std::string &d : damage_) told += (told.empty() ? "" : "; ") + d;
        damage_.clear();
        throw Error(Grade::kFatal, told);
    }

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

    void load_overflow(const BTree &tree) {
        each_leaf_record(tree, [&](const uint8_t *key, size_t key_length, const uint8_t *data, size_t length) {
            // Fork type 0 for data forks, 0xFF for resource forks.
            if (key_length < 8 || length < 12 || (key[1] != 0 && key[1] != 0xFF)) return;
            (key[1] == 0 ? overflow_ : resource_overflow_)[{be32(key + 2), be16(key + 6)}] = extent_record(data);
        });
    }

    void load_folders() {
        each_leaf_record(*catalog_, [&](const uint8_t *key, size_t key_length, const uint8_t *data, size_t length) {
            uint32_t parent;
            std::string name;
            if (data[0] != kFolderRecord || length < 70 || !catalog_key(key, key_length, parent, name)) return;
            folders_[be32(data + 6)] = Folder{parent, std::move(name)};
        });
    }

    // The folder names from the root down to folder `id`; a warning when the
    // chain breaks or loops (the member is then listed where the chain broke).
    std::vector<std::string> folder_path(uint32_t id, std::string &warning) const {
        std::vector<std::string> path;
        for (int depth = 0; id != kRootId; ++depth) {
            const auto folder = folders_.find(id);
            if (folder == folders_.end() || depth == kMaxFolderDepth) {
                warning = folder == folders_.end() ? "its folder is missing from the catalog"
                                                   : "its folders form a loop in the catalog";
                break;
            }
            path.push_back(folder->second.name);
            id = folder->second.parent;
        }
        std::reverse(path.begin(), path.end());
        return path;
    }

    bool file_member(const uint8_t *rec, size_t length, Member &member) {
        const size_t key_length = size_t{rec[0]} + 1;
        const size_t data_at = (key_length + 1) & ~size_t{1};
        if (data_at + 102 > length) return false;
        const uint8_t *file = rec + data_at;
        uint32_t parent;
        std::string name;
        if (file[0] != kFileRecord || !catalog_key(rec, key_length, parent, name)) return false;
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
    std::unique_ptr<BTree> catalog_;
    std::unordered_map<uint32_t, Folder> folders_;
    std::vector<std::string> damage_;  // found at open, told at the walk's end
    // The walk over the catalog's leaves.
    std::vector<bool> seen_;
    std::vector<uint8_t> node_;
    uint32_t leaf_ = 0;
    size_t records_ = 0, record_ = 0;
    bool loaded_ = false;
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
