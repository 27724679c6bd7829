// The B*-tree files of HFS and HFS Plus volumes (catalog, extents overflow):
// one node format for both, a header node at index 0 that says where the
// leaves begin, leaves chained forward, records addressed by offsets from
// the node's end.  The two differ in the key's length field: one byte in
// HFS, two in HFS Plus (which also needs no padding after the key).
//
// Every node index, record offset and link is checked against the tree; a
// leaf met twice in the chain is a loop and ends the walk with an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "containers/container.h"

namespace containers::btree {

enum class Keys { kHfs, kHfsPlus };

struct Record {
    const uint8_t *key;  // from its length field
    size_t key_length;   // the length field included
    const uint8_t *data;
    size_t data_length;
};

class Tree {
public:
    // The tree stored in `file` (the B-tree file read through its extents);
    // throws Error (kFatal) naming `what` when its header node is unsound.
    Tree(std::shared_ptr<const Source> file, const char *what, Keys keys);

    uint32_t first_leaf() const { return first_leaf_; }
    uint32_t node_count() const { return node_count_; }
    // The header's key comparison byte (0xBC: binary, as case-sensitive HFSX).
    uint8_t key_compare() const { return key_compare_; }

    // Reads leaf node `index` into `node`; returns its record count.
    size_t read_leaf(uint32_t index, std::vector<uint8_t> &node) const;
    // Record `i` of a node of `count` records; false when its offsets or its
    // key do not fit the node.
    bool record(const std::vector<uint8_t> &node, size_t count, size_t i, Record &out) const;
    // The leaf after `node`, 0 at the end; `seen` marks the chain so far.
    uint32_t next_leaf(const std::vector<uint8_t> &node, std::vector<bool> &seen) const;

    [[noreturn]] void fail(const char *problem) const;

private:
    std::shared_ptr<const Source> file_;
    const char *what_;
    Keys keys_;
    uint32_t first_leaf_ = 0, node_count_ = 0;
    size_t node_size_ = 512;
    uint8_t key_compare_ = 0;
};

// The records of every leaf, in the chain's order, one at a time: holds one
// node, so a catalog of any size is walked in the memory of one node.
class LeafWalk {
public:
    explicit LeafWalk(const Tree &tree);
    // The next record, or false at the end.  Throws Error (kFatal) when the
    // chain leaves the tree or loops.
    bool next(Record &record);

private:
    const Tree &tree_;
    std::vector<bool> seen_;
    std::vector<uint8_t> node_;
    uint32_t leaf_ = 0;
    size_t records_ = 0, record_ = 0;
    bool loaded_ = false;
};

// The folders of an HFS or HFS Plus catalog, by their ids.
struct Folder {
    uint32_t parent;
    std::string name;
};
using Folders = std::unordered_map<uint32_t, Folder>;

// The folder names from the root (id 2, not named) down to folder `id`.  A
// chain that breaks or loops ends where it does, with a warning for the
// member; `hidden`, when given, names folders whose members are not listed:
// the path is then null.
std::unique_ptr<std::vector<std::string>> folder_path(const Folders &folders, uint32_t id, std::string &warning,
                                                      const std::function<bool(uint32_t)> &hidden = {});

// A volume whose files are the leaf records of a catalog tree (HFS, HFS
// Plus): opened as its extents-overflow tree, then its catalog (whose
// extents may continue in the first), then the catalog's folders; listed
// file by file, the damage met at open told once after every file.
class CatalogVolume : public Container {
public:
    bool next(Member &member) final;

protected:
    // Called by the volume's constructor; the catalog is made once the
    // extents tree is read.  Without the extents tree
    // (`extents_tree` throws, or gives null when the volume has none), the
    // forks that need it cannot be read, the others can: its damage is
    // noted.  Damage in the folders is met again, and told, by the walk.
    void open_trees(const std::function<std::unique_ptr<Tree>()> &extents_tree,
                    const std::function<std::unique_ptr<Tree>()> &catalog);

    virtual void load_overflow(const Tree &tree) = 0;
    virtual void load_folders() = 0;
    // The member of catalog record `r`; false for a record that is no file.
    virtual bool file_member(const Record &r, Member &member) = 0;

    std::unique_ptr<Tree> catalog_;
    std::vector<std::string> damage_;  // found at open, told at the walk's end

private:
    std::unique_ptr<LeafWalk> walk_;  // over the catalog's leaves, member by member
};

}  // namespace containers::btree
