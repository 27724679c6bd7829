// HFS Plus and HFSX volumes: the volume header at 1024, the catalog B-tree
// that names every file and folder in UTF-16 (decomposed; composed here for
// output paths), and the extents overflow B-tree that holds a fork's extents
// past the eight its catalog record keeps.  Also an HFS Plus volume embedded
// in an HFS wrapper (the form Mac OS 8.1 to 9 gave hard disks, so that older
// systems saw one "Where have all my files gone?" file).
//
// Hard links are files of type 'hlnk' and creator 'hfs+' whose BSD info
// names an inode: the file "iNode<number>" in the volume's hidden folder
// "\0\0\0\0HFS+ Private Data" holds the forks and the Finder info, and is
// listed under each link's name, never under its own.
//
// The catalog's leaves are walked twice, as for HFS: at open for the folders
// (few, kept as id -> parent and name) and the inodes, then member by member.
// Forks are 64-bit, so of any size the volume holds.  Damage loses only what
// lies past it, as in HFS: the files listed before a bad node stand, a
// damaged extents tree leaves the forks it held unreadable, a catalog whose
// extents stop short is read as far as they go, and the damage ends the walk
// as an error after the members it left.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <tuple>
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

inline uint64_t be64(const uint8_t *p) { return uint64_t{be32(p)} << 32 | be32(p + 4); }

constexpr uint64_t kHeaderOffset = 1024;
constexpr size_t kHeaderLength = 512;
constexpr uint16_t kPlus = 0x482B, kHfsx = 0x4858, kHfs = 0x4244;
constexpr uint32_t kRootId = 2, kExtentsFileId = 3, kCatalogFileId = 4;
constexpr uint16_t kFolderRecord = 1, kFileRecord = 2;
constexpr size_t kFolderLength = 88, kFileLength = 248, kForkLength = 80;
constexpr uint8_t kDataFork = 0x00, kResourceFork = 0xFF;
// The hidden folders of hard links: files' inodes, and (Mac OS X 10.5 and
// later) folders' inodes.
const std::string kPrivateData = std::string(4, '\0') + "HFS+ Private Data";
const std::string kPrivateFolders = ".HFS+ Private Directory Data\r";

struct ExtentRecord {
    std::array<uint32_t, 8> start{}, count{};
};

ExtentRecord extent_record(const uint8_t *p) {
    ExtentRecord r;
    for (int i = 0; i < 8; ++i) r.start[i] = be32(p + 8 * i), r.count[i] = be32(p + 8 * i + 4);
    return r;
}

struct Fork {
    uint64_t length = 0;
    ExtentRecord first;
};

Fork fork_data(const uint8_t *p) { return Fork{be64(p), extent_record(p + 16)}; }

struct Geometry {
    std::shared_ptr<const Source> source;
    uint32_t block_size = 0, block_count = 0;
};

// A fork's extents past its first eight, keyed by file, fork type and the
// fork's block where each record starts.
using Overflow = std::map<std::tuple<uint32_t, uint8_t, uint32_t>, ExtentRecord>;

// The byte extents of `fork` of file `id`; when its extents do not hold it,
// `problem` says why and the extents found before are returned.
std::vector<Extent> fork_extents(const Geometry &g, const Overflow &overflow, uint32_t id, uint8_t type,
                                 const Fork &fork, std::string &problem) {
    std::vector<Extent> list;
    const uint64_t needed = (fork.length + g.block_size - 1) / g.block_size;
    uint64_t have = 0;
    const ExtentRecord *record = &fork.first;
    while (have < needed) {
        for (int i = 0; i < 8 && have < needed; ++i) {
            const uint64_t start = record->start[i], count = record->count[i];
            if (count == 0) break;
            if (start + count > g.block_count) {
                problem = "its extents lie past the end of the volume";
                return list;
            }
            const uint64_t offset = start * g.block_size, bytes = count * g.block_size;
            const uint64_t used = std::min(bytes, fork.length - have * g.block_size);
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
        const auto next = have > UINT32_MAX ? overflow.end() : overflow.find({id, type, static_cast<uint32_t>(have)});
        if (next == overflow.end() || next->second.count[0] == 0) {
            problem = "its extents do not cover its length";
            return list;
        }
        record = &next->second;
    }
    return list;
}

// The catalog key's parent id and name; false when the key is malformed.
bool catalog_key(const btree::Record &r, uint32_t &parent, std::string &name) {
    if (r.key_length < 8) return false;
    const size_t units = be16(r.key + 6);
    if (8 + 2 * units > r.key_length) return false;
    parent = be32(r.key + 2);
    name = disk::utf16_name(r.key + 8, units, true);
    return true;
}

uint16_t record_type(const btree::Record &r) { return r.data_length >= 2 ? be16(r.data) : 0; }

bool is_hard_link(const uint8_t *file) {
    return std::memcmp(file + 48, "hlnk", 4) == 0 && std::memcmp(file + 52, "hfs+", 4) == 0;
}
bool is_folder_link(const uint8_t *file) {
    return std::memcmp(file + 48, "fdrp", 4) == 0 && std::memcmp(file + 52, "MACS", 4) == 0;
}

class HfsPlusVolume final : public btree::CatalogVolume {
public:
    explicit HfsPlusVolume(std::shared_ptr<const Source> source) {
        geometry_.source = std::move(source);
        uint8_t header[kHeaderLength];
        read_exact(*geometry_.source, kHeaderOffset, header, sizeof header, Grade::kFatal, "the HFS Plus volume header");
        const uint16_t signature = be16(header);
        if (signature != kPlus && signature != kHfsx) throw Error(Grade::kFatal, "not an HFS Plus volume");
        geometry_.block_size = be32(header + 40);
        geometry_.block_count = be32(header + 44);
        if (geometry_.block_size < 512 || (geometry_.block_size & (geometry_.block_size - 1)) != 0)
            throw Error(Grade::kFatal, "the HFS Plus volume has a bad allocation block size");

        // The extents tree's own extents are all in the header.
        const Fork extents_file = fork_data(header + 192);
        open_trees(
            [&] {
                return extents_file.length == 0
                           ? nullptr
                           : std::make_unique<btree::Tree>(btree_file(kExtentsFileId, extents_file, "the extents tree"),
                                                           "the extents tree", btree::Keys::kHfsPlus);
            },
            [&] {
                return std::make_unique<btree::Tree>(btree_file(kCatalogFileId, fork_data(header + 272), "the catalog"),
                                                     "the catalog", btree::Keys::kHfsPlus);
            });
    }

    std::unique_ptr<Source> data() override { return fork(0); }
    std::unique_ptr<Source> resource() override { return fork(1); }

private:
    struct Listed {
        std::vector<Extent> extents;
        uint64_t length = 0;
        std::string problem;
    };

    std::unique_ptr<Source> fork(int which) {
        const Listed &f = forks_[which];
        if (!f.problem.empty()) throw Error(Grade::kMember, f.problem);
        return extents(geometry_.source, f.extents, f.length);
    }

    // A B-tree file through its extents; one whose extents stop short is
    // read as far as they go, and the damage noted.
    std::shared_ptr<const Source> btree_file(uint32_t id, const Fork &fork, const char *what) {
        std::string problem;
        auto list = fork_extents(geometry_, overflow_, id, kDataFork, fork, problem);
        if (!problem.empty()) {
            uint64_t reached = 0;
            for (const Extent &e : list) reached += e.length;
            if (reached == 0) throw Error(Grade::kFatal, std::string(what) + ": " + problem);
            damage_.push_back(std::string(what) + ": " + problem + "; read as far as they reach");
            return extents(geometry_.source, std::move(list), std::min<uint64_t>(reached, fork.length));
        }
        return extents(geometry_.source, std::move(list), fork.length);
    }

    void load_overflow(const btree::Tree &tree) override {
        btree::LeafWalk walk(tree);
        btree::Record r;
        while (walk.next(r)) {
            if (r.key_length < 12 || r.data_length < 64) continue;
            const uint8_t type = r.key[2];
            if (type != kDataFork && type != kResourceFork) continue;
            overflow_[{be32(r.key + 4), type, be32(r.key + 8)}] = extent_record(r.data);
        }
    }

    void load_folders() override {
        // Inodes by their number, with the folder they were met in: which
        // folder is the private one is known once the walk is done.
        std::unordered_map<uint32_t, std::pair<uint32_t, std::vector<uint8_t>>> inodes;
        btree::LeafWalk walk(*catalog_);
        btree::Record r;
        while (walk.next(r)) {
            uint32_t parent;
            std::string name;
            const uint16_t type = record_type(r);
            if ((type != kFolderRecord && type != kFileRecord) || !catalog_key(r, parent, name)) continue;
            if (type == kFolderRecord && r.data_length >= kFolderLength) {
                const uint32_t id = be32(r.data + 8);
                if (parent == kRootId && (name == kPrivateData || name == kPrivateFolders)) private_.push_back(id);
                folders_[id] = btree::Folder{parent, std::move(name)};
            } else if (type == kFileRecord && r.data_length >= kFileLength && name.rfind("iNode", 0) == 0) {
                char *end = nullptr;
                const unsigned long number = std::strtoul(name.c_str() + 5, &end, 10);
                if (end != name.c_str() + 5 && *end == '\0' && number <= UINT32_MAX)
                    inodes[static_cast<uint32_t>(number)] = {parent, std::vector<uint8_t>(r.data, r.data + kFileLength)};
            }
        }
        for (auto &[number, inode] : inodes) {
            if (is_private(inode.first)) inodes_[number] = std::move(inode.second);
        }
    }

    bool is_private(uint32_t folder) const {
        return std::find(private_.begin(), private_.end(), folder) != private_.end();
    }

    // The folder names from the root down to folder `id`; a warning when the
    // chain breaks or loops (the member is then listed where the chain broke).
    // False when the folder is one of the hidden folders of hard links.
    bool folder_path(uint32_t id, std::vector<std::string> &path, std::string &warning) const {
        auto found = btree::folder_path(folders_, id, warning, [&](uint32_t folder) { return is_private(folder); });
        if (found == nullptr) return false;
        path = std::move(*found);
        return true;
    }

    bool file_member(const btree::Record &r, Member &member) override {
        uint32_t parent;
        std::string name;
        if (record_type(r) != kFileRecord || r.data_length < kFileLength || !catalog_key(r, parent, name)) return false;
        member = Member{};
        if (!folder_path(parent, member.path, member.warning)) return false;
        member.path.push_back(std::move(name));
        const uint8_t *file = r.data;
        std::string link_problem;
        if (is_hard_link(file)) {
            const auto inode = inodes_.find(be32(file + 44));
            if (inode != inodes_.end())
                file = inode->second.data();
            else
                link_problem = "a hard link whose file is missing from the volume";
        } else if (is_folder_link(file)) {
            link_problem = "a hard link to a folder, which mwconv does not follow";
        }
        describe(file, member);
        for (auto &f : forks_) f = Listed{};
        if (!link_problem.empty()) {
            member.problem = link_problem;
            forks_[0].problem = forks_[1].problem = link_problem;
            return true;
        }
        const uint32_t id = be32(file + 8);
        list_fork(forks_[0], id, kDataFork, fork_data(file + 88), "the data fork");
        list_fork(forks_[1], id, kResourceFork, fork_data(file + 168), "the resource fork");
        member.problem = forks_[0].problem;
        if (forks_[0].problem.empty() && !forks_[1].problem.empty()) member.warning = forks_[1].problem;
        return true;
    }

    static void describe(const uint8_t *file, Member &member) {
        member.type = disk::four_cc(file + 48);
        member.creator = disk::four_cc(file + 52);
        member.finder_flags = be16(file + 56);
        member.created = disk::mac_date(be32(file + 12));
        member.modified = disk::mac_date(be32(file + 16));
        member.data_length = be64(file + 88);
        member.resource_length = be64(file + 168);
    }

    void list_fork(Listed &f, uint32_t id, uint8_t type, const Fork &fork, const char *what) {
        f.length = fork.length;
        f.extents = fork_extents(geometry_, overflow_, id, type, fork, f.problem);
        if (!f.problem.empty()) f.problem = std::string(what) + " cannot be read: " + f.problem;
    }

    Geometry geometry_;
    Overflow overflow_;
    btree::Folders folders_;
    std::vector<uint32_t> private_;
    std::unordered_map<uint32_t, std::vector<uint8_t>> inodes_;
    Listed forks_[2];  // data and resource fork of the member listed last
};

// Where an HFS wrapper keeps its embedded HFS Plus volume, as a byte range;
// false when `mdb` (the wrapper's master directory block) embeds none.
bool embedded_volume(const uint8_t *mdb, uint64_t &offset, uint64_t &length) {
    if (be16(mdb) != kHfs || be16(mdb + 124) != kPlus) return false;
    const uint32_t block_size = be32(mdb + 20);
    if (block_size == 0 || block_size % 512 != 0) return false;
    offset = uint64_t{be16(mdb + 28)} * 512 + uint64_t{be16(mdb + 126)} * block_size;
    length = uint64_t{be16(mdb + 128)} * block_size;
    return length > kHeaderOffset + kHeaderLength;
}

int bid(const Source &, const uint8_t *head, size_t length) {
    if (length < kHeaderOffset + 162) return 0;
    const uint8_t *h = head + kHeaderOffset;
    const uint16_t signature = be16(h), version = be16(h + 2);
    if ((signature == kPlus && version == 4) || (signature == kHfsx && version == 5)) return 95;
    uint64_t offset, size;
    return embedded_volume(h, offset, size) ? 95 : 0;
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    uint8_t mdb[162];
    read_exact(*source, kHeaderOffset, mdb, sizeof mdb, Grade::kFatal, "the HFS Plus volume header");
    uint64_t offset, length;
    if (embedded_volume(mdb, offset, length)) {
        // An image cut short keeps what it holds: forks past its end are the
        // problems of their members, as in a bare volume.
        if (offset + kHeaderOffset + kHeaderLength > source->size())
            throw Error(Grade::kFatal, "the HFS Plus volume inside the HFS wrapper lies past the end of the image");
        return std::make_unique<HfsPlusVolume>(range(std::move(source), offset, length));
    }
    return std::make_unique<HfsPlusVolume>(std::move(source));
}

}  // namespace

const Format &hfsplus_format() {
    static const Format format{"HFS Plus volume", bid, open};
    return format;
}

}  // namespace containers
