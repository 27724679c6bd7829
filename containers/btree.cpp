#include "containers/btree.h"

#include <algorithm>
#include <string>

#include "containers/disk_volume.h"
#include "containers/source.h"

namespace containers::btree {

namespace {

using disk::be16;
using disk::be32;

constexpr uint8_t kLeafNode = 0xFF, kHeaderNode = 1;
constexpr size_t kDescriptor = 14;

}  // namespace

Tree::Tree(std::shared_ptr<const Source> file, const char *what, Keys keys)
    : file_(std::move(file)), what_(what), keys_(keys) {
    uint8_t head[kDescriptor + 42];
    read_exact(*file_, 0, head, sizeof head, Grade::kFatal, what_);
    if (head[8] != kHeaderNode) fail("has no header node");
    const uint8_t *h = head + kDescriptor;
    first_leaf_ = be32(h + 10);
    node_size_ = be16(h + 18);
    key_compare_ = h[37];
    if (node_size_ < 512 || node_size_ > 32768 || (node_size_ & (node_size_ - 1)) != 0) fail("has a bad node size");
    node_count_ = static_cast<uint32_t>(std::min<uint64_t>(be32(h + 22), file_->size() / node_size_));
}

void Tree::fail(const char *problem) const { throw Error(Grade::kFatal, std::string(what_) + " " + problem); }

size_t Tree::read_leaf(uint32_t index, std::vector<uint8_t> &node) const {
    if (index == 0 || index >= node_count_) fail("links to a node outside the tree");
    node.resize(node_size_);
    read_exact(*file_, uint64_t{index} * node_size_, node.data(), node_size_, Grade::kFatal, what_);
    if (node[8] != kLeafNode) fail("links to a node that is not a leaf");
    const size_t count = be16(&node[10]);
    if (kDescriptor + 2 * (count + 1) > node_size_) fail("has a node with more records than fit");
    return count;
}

bool Tree::record(const std::vector<uint8_t> &node, size_t count, size_t i, Record &out) const {
    const size_t end_of_records = node.size() - 2 * (count + 1);
    const size_t start = be16(&node[node.size() - 2 * (i + 1)]);
    const size_t stop = be16(&node[node.size() - 2 * (i + 2)]);
    if (start < kDescriptor || stop <= start || stop > end_of_records) return false;
    const uint8_t *rec = node.data() + start;
    const size_t length = stop - start;
    size_t data_at;
    if (keys_ == Keys::kHfs) {
        out.key_length = size_t{rec[0]} + 1;
        data_at = (out.key_length + 1) & ~size_t{1};
    } else {
        if (length < 2) return false;
        out.key_length = size_t{be16(rec)} + 2;
        data_at = out.key_length;
    }
    if (data_at >= length) return false;
    out.key = rec;
    out.data = rec + data_at;
    out.data_length = length - data_at;
    return true;
}

uint32_t Tree::next_leaf(const std::vector<uint8_t> &node, std::vector<bool> &seen) const {
    const uint32_t next = be32(node.data());
    if (next == 0) return 0;
    if (next >= node_count_) fail("links to a node outside the tree");
    if (seen[next]) fail("has leaf nodes that form a loop");
    seen[next] = true;
    return next;
}

LeafWalk::LeafWalk(const Tree &tree) : tree_(tree), seen_(tree.node_count()), leaf_(tree.first_leaf()) {
    if (leaf_ != 0 && leaf_ < seen_.size()) seen_[leaf_] = true;
}

bool LeafWalk::next(Record &record) {
    for (;;) {
        if (record_ == records_) {
            if (leaf_ == 0) return false;
            if (loaded_) leaf_ = tree_.next_leaf(node_, seen_);
            if (leaf_ == 0) return false;
            records_ = tree_.read_leaf(leaf_, node_);
            record_ = 0;
            loaded_ = true;
            continue;
        }
        if (tree_.record(node_, records_, record_++, record)) return true;
    }
}

std::unique_ptr<std::vector<std::string>> folder_path(const Folders &folders, uint32_t id, std::string &warning,
                                                      const std::function<bool(uint32_t)> &hidden) {
    constexpr uint32_t kRootId = 2;
    constexpr int kMaxDepth = 256;  // deeper than any Finder allowed: a longer chain is a loop
    auto path = std::make_unique<std::vector<std::string>>();
    for (int depth = 0; id != kRootId; ++depth) {
        if (hidden && hidden(id)) return nullptr;
        const auto folder = folders.find(id);
        if (folder == folders.end() || depth == kMaxDepth) {
            warning = folder == folders.end() ? "its folder is missing from the catalog" : "its folders form a loop in the catalog";
            break;
        }
        path->push_back(folder->second.name);
        id = folder->second.parent;
    }
    std::reverse(path->begin(), path->end());
    return path;
}

void CatalogVolume::open_trees(const std::function<std::unique_ptr<Tree>()> &extents_tree,
                               const std::function<std::unique_ptr<Tree>()> &catalog) {
    try {
        if (const std::unique_ptr<Tree> tree = extents_tree()) load_overflow(*tree);
    } catch (const Error &e) {
        damage_.push_back(e.what());
    }
    catalog_ = catalog();
    try {
        load_folders();
    } catch (const Error &) {
        // The walk over the files meets the same damage at the same place
        // and reports it; the folders before it are kept.
    }
    walk_ = std::make_unique<LeafWalk>(*catalog_);
}

bool CatalogVolume::next(Member &member) {
    Record r;
    while (walk_->next(r)) {
        if (file_member(r, member)) return true;
    }
    return disk::walk_end(damage_);
}

}  // namespace containers::btree
