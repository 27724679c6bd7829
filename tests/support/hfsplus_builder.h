// Builds HFS Plus and HFSX volumes for the container tests and fuzz seeds,
// from the published layout (nothing in Debian writes HFS Plus): a volume
// header, an allocation bitmap, an extents overflow B-tree and a catalog
// B-tree (an index node over its leaves when it has several), files with
// both forks placed in the extents the test asks for, hard links through the
// private folder, and the HFS wrapper and GPT disk around a volume.  Every
// volume the tests trust is also read by 7-Zip.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/disk_builder.h"

namespace testing_support {

// UTF-16 code units of a UTF-8 string (names in the tests are in the BMP).
inline std::vector<uint16_t> utf16_units(const std::string &utf8) {
    std::vector<uint16_t> out;
    for (size_t i = 0; i < utf8.size();) {
        const uint8_t c = static_cast<uint8_t>(utf8[i]);
        if (c < 0x80) {
            out.push_back(c), i += 1;
        } else if (c < 0xE0) {
            out.push_back(static_cast<uint16_t>((c & 0x1F) << 6 | (utf8[i + 1] & 0x3F))), i += 2;
        } else {
            out.push_back(static_cast<uint16_t>((c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F))),
                i += 3;
        }
    }
    return out;
}

struct HfsPlusFile {
    std::string folder;  // "" for the root, else a folder's name (one level)
    std::string name;    // UTF-8, stored as given (give decomposed names decomposed)
    std::string type_creator = "TEXTttxt";
    std::string data, resource;
    uint32_t created = 0, modified = 0;
    // Allocation blocks the data fork takes one at a time, each followed by
    // a block left free: more than eight spill into the extents tree.
    bool fragmented = false;
    // A hard link to the inode of this number (no forks of its own).
    uint32_t link_to = 0;
    uint32_t inode = 0;  // a file in the private folder, named iNode<inode>
};

class HfsPlusBuilder {
public:
    static constexpr uint32_t kBlock = 4096, kNode = 4096;

    explicit HfsPlusBuilder(bool hfsx = false) : hfsx_(hfsx) {}
    HfsPlusBuilder &add(HfsPlusFile f) {
        files_.push_back(std::move(f));
        return *this;
    }
    // A catalog leaf holds at most this many records (several leaves and an
    // index node with few files).
    HfsPlusBuilder &leaf_records(size_t n) {
        leaf_records_ = n;
        return *this;
    }
    // A volume of `total` allocation blocks (512 unless told; the one-block
    // bitmap maps 32768 at most) whose files start at block `first_data`
    // (64 unless told: room for a catalog of some 60 nodes).
    HfsPlusBuilder &blocks(uint32_t total, uint32_t first_data) {
        total_blocks_ = total;
        first_data_block_ = first_data;
        return *this;
    }

    std::string build() {
        assign_ids();
        if (total_blocks_ > kBlock * 8) return {};
        image_.assign(size_t{total_blocks_} * kBlock, '\0');
        next_block_ = first_data_block_;
        std::vector<Record> catalog = catalog_records();
        const std::string extents_tree = tree(extents_, 10, false);
        const std::string catalog_tree = tree(catalog, 516, true);
        const uint32_t catalog_block = kExtentsBlock + static_cast<uint32_t>(extents_tree.size() / kBlock);
        if (catalog_block + catalog_tree.size() / kBlock > first_data_block_ || next_block_ > total_blocks_)
            return {};  // too many records or bytes for the volume
        place(kExtentsBlock, extents_tree);
        place(catalog_block, catalog_tree);
        header(static_cast<uint32_t>(extents_tree.size()), catalog_block, static_cast<uint32_t>(catalog_tree.size()));
        return image_;
    }

private:
    static constexpr uint32_t kAllocationBlock = 1, kExtentsBlock = 2;
    struct Record {
        uint32_t parent;
        std::vector<uint16_t> name;
        std::string key, data;
    };

    void assign_ids() {
        folder_ids_.clear();
        uint32_t id = 16;
        for (const auto &f : files_) {
            const std::string folder = f.inode != 0 ? private_name() : f.folder;
            if (!folder.empty() && folder_ids_.count(folder) == 0) folder_ids_[folder] = id++;
        }
        next_id_ = id;
    }
    static std::string private_name() { return std::string(4, '\0') + "HFS+ Private Data"; }

    static std::string uni_str(const std::vector<uint16_t> &units) {
        std::string s(2 + 2 * units.size(), '\0');
        put16(s, 0, static_cast<uint32_t>(units.size()));
        for (size_t i = 0; i < units.size(); ++i) put16(s, 2 + 2 * i, units[i]);
        return s;
    }
    static Record keyed(uint32_t parent, const std::string &name, std::string data) {
        Record r{parent, utf16_units(name), "", std::move(data)};
        r.key.assign(6, '\0');
        put32(r.key, 2, parent);
        r.key += uni_str(r.name);
        put16(r.key, 0, static_cast<uint32_t>(r.key.size() - 2));
        return r;
    }
    static std::string thread(uint16_t type, uint32_t parent, const std::string &name) {
        std::string t(8, '\0');
        put16(t, 0, type);
        put32(t, 4, parent);
        return t + uni_str(utf16_units(name));
    }
    std::string folder_record(uint32_t id) const {
        std::string r(88, '\0');
        put16(r, 0, 1);
        put32(r, 8, id);
        return r;
    }

    // The data and resource forks' blocks, written into the image.
    std::string fork(uint32_t file_id, uint8_t type, const std::string &bytes, bool fragmented) {
        std::string f(80, '\0');
        put64(f, 0, bytes.size());
        const uint32_t blocks = static_cast<uint32_t>((bytes.size() + kBlock - 1) / kBlock);
        put32(f, 12, blocks);
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        if (fragmented) {
            for (uint32_t b = 0; b < blocks; ++b) runs.push_back({next_block_ + 2 * b, 1});
            next_block_ += 2 * blocks;
        } else if (blocks > 0) {
            runs.push_back({next_block_, blocks});
            next_block_ += blocks;
        }
        uint32_t at = 0;
        for (const auto &[start, count] : runs) {
            const size_t from = size_t{at} * kBlock;
            image_.replace(size_t{start} * kBlock, std::min<size_t>(count * kBlock, bytes.size() - from),
                           bytes.substr(from, size_t{count} * kBlock));
            at += count;
        }
        for (size_t i = 0; i < runs.size() && i < 8; ++i) {
            put32(f, 16 + 8 * i, runs[i].first);
            put32(f, 20 + 8 * i, runs[i].second);
        }
        // Past the first eight: overflow records of eight extents each, keyed
        // by the fork's block where each starts.
        uint32_t fork_block = 0;
        for (size_t i = 0; i < 8 && i < runs.size(); ++i) fork_block += runs[i].second;
        for (size_t i = 8; i < runs.size(); i += 8) {
            Record r{0, {}, std::string(12, '\0'), std::string(64, '\0')};
            put16(r.key, 0, 10);
            r.key[2] = static_cast<char>(type);
            put32(r.key, 4, file_id);
            put32(r.key, 8, fork_block);
            for (size_t j = 0; j < 8 && i + j < runs.size(); ++j) {
                put32(r.data, 8 * j, runs[i + j].first);
                put32(r.data, 8 * j + 4, runs[i + j].second);
                fork_block += runs[i + j].second;
            }
            extents_.push_back(r);
        }
        return f;
    }

    std::string file_record(const HfsPlusFile &f, uint32_t id) {
        std::string r(248, '\0');
        put16(r, 0, 2);
        put32(r, 8, id);
        put32(r, 12, f.created);
        put32(r, 16, f.modified);
        r.replace(48, 8, f.link_to != 0 ? std::string("hlnkhfs+") : f.type_creator);
        if (f.link_to != 0) put32(r, 44, f.link_to);
        r.replace(88, 80, fork(id, 0x00, f.data, f.fragmented));
        r.replace(168, 80, fork(id, 0xFF, f.resource, false));
        return r;
    }

    std::vector<Record> catalog_records() {
        std::vector<Record> records;
        records.push_back(keyed(1, "Test", folder_record(2)));
        records.push_back(keyed(2, "", thread(3, 1, "Test")));
        for (const auto &[name, id] : folder_ids_) {
            records.push_back(keyed(2, name, folder_record(id)));
            records.push_back(keyed(id, "", thread(3, 2, name)));
        }
        for (const auto &f : files_) {
            const uint32_t id = next_id_++;
            const std::string folder = f.inode != 0 ? private_name() : f.folder;
            const uint32_t parent = folder.empty() ? 2 : folder_ids_.at(folder);
            const std::string name = f.inode != 0 ? "iNode" + std::to_string(f.inode) : f.name;
            records.push_back(keyed(parent, name, file_record(f, id)));
            records.push_back(keyed(id, "", thread(4, parent, name)));
        }
        std::sort(extents_.begin(), extents_.end(), [](const Record &a, const Record &b) { return a.key < b.key; });
        std::sort(records.begin(), records.end(), [&](const Record &a, const Record &b) {
            return std::make_tuple(a.parent, folded(a.name)) < std::make_tuple(b.parent, folded(b.name));
        });
        return records;
    }
    // The catalog's order: HFS Plus folds case (ASCII is enough here), HFSX
    // compares the units as they are.
    std::vector<uint16_t> folded(std::vector<uint16_t> name) const {
        if (!hfsx_)
            for (auto &u : name)
                if (u >= 'A' && u <= 'Z') u = static_cast<uint16_t>(u + 32);
        return name;
    }

    // Node `records` laid out in a node of kind `kind` and `height`.
    static std::string node(int8_t kind, uint8_t height, const std::vector<std::string> &records, uint32_t next) {
        std::string n(kNode, '\0');
        put32(n, 0, next);
        n[8] = static_cast<char>(kind);
        n[9] = static_cast<char>(height);
        put16(n, 10, static_cast<uint32_t>(records.size()));
        size_t at = 14;
        for (size_t i = 0; i < records.size(); ++i) {
            put16(n, kNode - 2 * (i + 1), static_cast<uint32_t>(at));
            n.replace(at, records[i].size(), records[i]);
            at += records[i].size();
        }
        put16(n, kNode - 2 * (records.size() + 1), static_cast<uint32_t>(at));
        return n;
    }

    // A B-tree file: header node, leaves (node 1 on), and an index node over
    // them when there are several.
    std::string tree(const std::vector<Record> &records, uint16_t max_key, bool catalog) const {
        std::vector<std::vector<const Record *>> leaves;
        size_t bytes = 0;
        for (const Record &r : records) {
            const size_t size = r.key.size() + r.data.size() + 2;
            if (leaves.empty() || (catalog && leaves.back().size() == leaf_records_) || bytes + size > kNode - 20)
                leaves.push_back({}), bytes = 0;
            leaves.back().push_back(&r);
            bytes += size;
        }
        const uint32_t leaf_count = static_cast<uint32_t>(leaves.size());
        const uint32_t total = 1 + leaf_count + (leaf_count > 1 ? 1 : 0);
        std::string file;
        std::string h(106, '\0');
        put16(h, 0, leaf_count == 0 ? 0 : leaf_count > 1 ? 2 : 1);
        put32(h, 2, leaf_count == 0 ? 0 : leaf_count > 1 ? total - 1 : 1);
        put32(h, 6, static_cast<uint32_t>(records.size()));
        put32(h, 10, leaf_count == 0 ? 0 : 1);
        put32(h, 14, leaf_count);
        put16(h, 18, kNode);
        put16(h, 20, max_key);
        put32(h, 22, total + 1);
        put32(h, 26, 1);
        h[37] = static_cast<char>(catalog ? (hfsx_ ? 0xBC : 0xCF) : 0);
        put32(h, 38, catalog ? 6 : 2);
        std::string map(kNode - 256, '\0');
        for (uint32_t i = 0; i < total; ++i) map[i / 8] = static_cast<char>(map[i / 8] | 0x80 >> (i % 8));
        file += node(1, 0, {h, std::string(128, '\0'), map}, 0);
        for (uint32_t i = 0; i < leaf_count; ++i) {
            std::vector<std::string> recs;
            for (const Record *r : leaves[i]) recs.push_back(r->key + r->data);
            std::string n = node(-1, 1, recs, i + 1 < leaf_count ? i + 2 : 0);
            put32(n, 4, i);  // back link
            file += n;
        }
        if (leaf_count > 1) {
            std::vector<std::string> pointers;
            for (uint32_t i = 0; i < leaf_count; ++i) {
                std::string p = leaves[i].front()->key + std::string(4, '\0');
                put32(p, p.size() - 4, i + 1);
                pointers.push_back(p);
            }
            file += node(0, 2, pointers, 0);
        }
        file.resize(size_t{total + 1} * kNode, '\0');
        return file;
    }

    void place(uint32_t block, const std::string &bytes) { image_.replace(size_t{block} * kBlock, bytes.size(), bytes); }

    static std::string fork_at(uint32_t block, uint32_t length) {
        std::string f(80, '\0');
        put64(f, 0, length);
        const uint32_t blocks = (length + kBlock - 1) / kBlock;
        put32(f, 12, blocks);
        put32(f, 16, block);
        put32(f, 20, blocks);
        return f;
    }

    void header(uint32_t extents_length, uint32_t catalog_block, uint32_t catalog_length) {
        // Every block up to the last one used is marked in the bitmap.
        std::string bitmap(kBlock, '\0');
        for (uint32_t b = 0; b < next_block_; ++b) bitmap[b / 8] = static_cast<char>(bitmap[b / 8] | 0x80 >> (b % 8));
        place(kAllocationBlock, bitmap);
        std::string h(512, '\0');
        put16(h, 0, hfsx_ ? 0x4858 : 0x482B);
        put16(h, 2, hfsx_ ? 5 : 4);
        put32(h, 4, 0x100);  // cleanly unmounted
        h.replace(8, 4, "10.0");
        put32(h, 32, static_cast<uint32_t>(files_.size()));
        put32(h, 36, static_cast<uint32_t>(folder_ids_.size()));
        put32(h, 40, kBlock);
        put32(h, 44, total_blocks_);
        put32(h, 48, total_blocks_ - next_block_);
        put32(h, 52, next_block_);
        put32(h, 56, kBlock);
        put32(h, 60, kBlock);
        put32(h, 64, next_id_);
        h.replace(112, 80, fork_at(kAllocationBlock, kBlock));
        h.replace(192, 80, fork_at(kExtentsBlock, extents_length));
        h.replace(272, 80, fork_at(catalog_block, catalog_length));
        image_.replace(1024, 512, h);
    }

    bool hfsx_;
    std::vector<HfsPlusFile> files_;
    size_t leaf_records_ = 1000;
    std::map<std::string, uint32_t> folder_ids_;
    uint32_t total_blocks_ = 512, first_data_block_ = 64;
    uint32_t next_id_ = 16, next_block_ = 64;
    std::vector<Record> extents_;
    std::string image_;
};

// An HFS wrapper around `volume`: an HFS master directory block whose
// embedded-volume extent holds it, in 4096-byte allocation blocks from
// sector 8.
inline std::string hfs_wrapper(const std::string &volume) {
    constexpr uint32_t block = 4096, first_sector = 8, embed_start = 1;
    std::string image(first_sector * 512 + (embed_start + volume.size() / block) * block, '\0');
    put16(image, 1024, 0x4244);
    put16(image, 1024 + 18, static_cast<uint32_t>(embed_start + volume.size() / block));
    put32(image, 1024 + 20, block);
    put16(image, 1024 + 28, first_sector);
    put16(image, 1024 + 124, 0x482B);
    put16(image, 1024 + 126, embed_start);
    put16(image, 1024 + 128, static_cast<uint32_t>(volume.size() / block));
    image.replace(first_sector * 512 + embed_start * block, volume.size(), volume);
    return image;
}

inline uint32_t crc32_ieee(const std::string &bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (const char ch : bytes) {
        c ^= static_cast<uint8_t>(ch);
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

inline void put32le(std::string &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
inline void put64le(std::string &b, size_t at, uint64_t v) {
    put32le(b, at, static_cast<uint32_t>(v));
    put32le(b, at + 4, static_cast<uint32_t>(v >> 32));
}

// A GPT disk of 512-byte sectors: protective MBR, primary header and table
// of 128 entries, each volume as a partition (an HFS Plus type GUID, the
// given name), and the backup table and header at the end.
struct GptSpec {
    std::string name, volume;
};
inline std::string gpt_disk(const std::vector<GptSpec> &partitions) {
    constexpr uint32_t sector = 512, entries = 128, entry_size = 128, table_sectors = entries * entry_size / sector;
    const std::string hfs_plus_type("\x00\x53\x46\x48\x00\x00\xAA\x11\xAA\x11\x00\x30\x65\x43\xEC\xAC", 16);
    std::string table(entries * entry_size, '\0');
    uint64_t lba = 2 + table_sectors;
    std::string body;
    for (size_t i = 0; i < partitions.size(); ++i) {
        const size_t at = i * entry_size;
        table.replace(at, 16, hfs_plus_type);
        table[at + 16] = static_cast<char>(i + 1);  // a unique GUID enough for a test
        put64le(table, at + 32, lba);
        put64le(table, at + 40, lba + partitions[i].volume.size() / sector - 1);
        const auto units = utf16_units(partitions[i].name);
        for (size_t u = 0; u < units.size() && u < 36; ++u) {
            table[at + 56 + 2 * u] = static_cast<char>(units[u]);
            table[at + 57 + 2 * u] = static_cast<char>(units[u] >> 8);
        }
        body += partitions[i].volume;
        lba += partitions[i].volume.size() / sector;
    }
    const uint64_t last = lba + table_sectors;  // the backup header's sector
    auto header = [&](uint64_t mine, uint64_t other, uint64_t table_lba) {
        std::string h(sector, '\0');
        h.replace(0, 8, "EFI PART");
        put32le(h, 8, 0x00010000);
        put32le(h, 12, 92);
        put64le(h, 24, mine);
        put64le(h, 32, other);
        put64le(h, 40, 2 + table_sectors);
        put64le(h, 48, lba - 1);
        put64le(h, 72, table_lba);
        put32le(h, 80, entries);
        put32le(h, 84, entry_size);
        put32le(h, 88, crc32_ieee(table));
        put32le(h, 16, crc32_ieee(h.substr(0, 92)));
        return h;
    };
    std::string mbr(sector, '\0');
    mbr[446 + 4] = static_cast<char>(0xEE);
    put32le(mbr, 446 + 8, 1);
    put32le(mbr, 446 + 12, static_cast<uint32_t>(std::min<uint64_t>(last, 0xFFFFFFFFu)));
    mbr[510] = 0x55;
    mbr[511] = static_cast<char>(0xAA);
    return mbr + header(1, last, 2) + table + body + table + header(last, 1, lba);
}

}  // namespace testing_support
