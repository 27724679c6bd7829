// Builds disk images for the container tests and fuzz seeds: DiskCopy 4.2
// wrappers and Apple partition maps around a volume, small MFS volumes, and
// HFS volumes through hfsutils (an independent writer).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/tools.h"

namespace testing_support {

inline void put16(std::string &b, size_t at, uint32_t v) {
    b[at] = static_cast<char>(v >> 8);
    b[at + 1] = static_cast<char>(v);
}
inline void put32(std::string &b, size_t at, uint32_t v) {
    put16(b, at, v >> 16);
    put16(b, at + 2, v);
}

inline void put64(std::string &b, size_t at, uint64_t v) {
    put32(b, at, static_cast<uint32_t>(v >> 32));
    put32(b, at + 4, static_cast<uint32_t>(v));
}
inline uint32_t get16(const std::string &b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at]) << 8 | static_cast<uint8_t>(b[at + 1]));
}
inline uint32_t get32(const std::string &b, size_t at) { return get16(b, at) << 16 | get16(b, at + 2); }

// A DiskCopy 4.2 image of `sectors` (a whole number of 512-byte sectors),
// with its data checksum and no tag bytes.
inline std::string diskcopy42(const std::string &sectors, const std::string &name = "Disk") {
    std::string image(84, '\0');
    image[0] = static_cast<char>(name.size());
    image.replace(1, name.size(), name);
    put32(image, 64, static_cast<uint32_t>(sectors.size()));
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < sectors.size(); i += 2) {
        sum += get16(sectors, i);
        sum = sum >> 1 | sum << 31;
    }
    put32(image, 72, sum);
    image[80] = 3;  // 1440K
    image[81] = 0x22;
    put16(image, 82, 0x0100);
    return image + sectors;
}

// A disk of `block`-byte blocks (512, or 2048 as on some CDs) with a driver
// descriptor block, a partition map (the map's own entry first, one entry a
// block) and the partitions after it, as `type` and `name` say each; each
// partition's bytes are its volume, a whole number of blocks.
struct PartitionSpec {
    std::string name, type, volume;
};
inline std::string partitioned_disk(const std::vector<PartitionSpec> &partitions, uint32_t block = 512) {
    const uint32_t entries = static_cast<uint32_t>(partitions.size()) + 1;
    const uint32_t map_blocks = 63;
    std::string disk((1 + map_blocks) * block, '\0');
    put16(disk, 0, 0x4552);
    put16(disk, 2, block);
    auto entry = [&](uint32_t index, uint32_t start, uint32_t count, const std::string &name, const std::string &type) {
        const size_t at = index * block;
        put16(disk, at, 0x504D);
        put32(disk, at + 4, entries);
        put32(disk, at + 8, start);
        put32(disk, at + 12, count);
        disk.replace(at + 16, name.size(), name);
        disk.replace(at + 48, type.size(), type);
        put32(disk, at + 84, count);
    };
    entry(1, 1, map_blocks, "Apple", "Apple_partition_map");
    for (size_t i = 0; i < partitions.size(); ++i) {
        const uint32_t start = static_cast<uint32_t>(disk.size() / block);
        const uint32_t count = static_cast<uint32_t>(partitions[i].volume.size() / block);
        entry(static_cast<uint32_t>(i + 2), start, count, partitions[i].name, partitions[i].type);
        disk += partitions[i].volume;
    }
    put32(disk, 4, static_cast<uint32_t>(disk.size() / block));
    return disk;
}

// A 400K MFS volume with 1024-byte allocation blocks holding `files` (name,
// type and creator as 8 characters, data fork), each fork in consecutive
// blocks.  The directory starts at sector 4, 12 sectors long; blocks at 16.
struct MfsFile {
    std::string name, type_creator, data;
    uint32_t created = 0, modified = 0;
};
inline constexpr size_t kMfsBlocks = 391, kMfsBlockSize = 1024, kMfsFirstBlock = 16 * 512;

inline void set_mfs_map(std::string &image, uint32_t block, uint32_t value) {
    const size_t i = block - 2, at = 1024 + 64 + i * 3 / 2;
    const uint32_t pair = get16(image, at);
    put16(image, at, i % 2 == 0 ? (pair & 0x000F) | value << 4 : (pair & 0xF000) | value);
}

inline std::string mfs_volume(const std::vector<MfsFile> &files) {
    std::string image(400 * 1024, '\0');
    put16(image, 1024, 0xD2D7);
    put16(image, 1024 + 12, static_cast<uint32_t>(files.size()));
    put16(image, 1024 + 14, 4);
    put16(image, 1024 + 16, 12);
    put16(image, 1024 + 18, kMfsBlocks);
    put32(image, 1024 + 20, kMfsBlockSize);
    put16(image, 1024 + 28, 16);
    image[1024 + 36] = 4;
    image.replace(1024 + 37, 4, "Test");
    uint32_t block = 2;
    size_t at = 4 * 512;
    for (size_t n = 0; n < files.size(); ++n) {
        const MfsFile &f = files[n];
        const uint32_t blocks = static_cast<uint32_t>((f.data.size() + kMfsBlockSize - 1) / kMfsBlockSize);
        if ((at % 512) + 51 + f.name.size() > 512) at = (at / 512 + 1) * 512;
        image[at] = static_cast<char>(0x80);
        image.replace(at + 2, 8, f.type_creator);
        put32(image, at + 18, static_cast<uint32_t>(n + 1));
        put16(image, at + 22, blocks == 0 ? 0 : block);
        put32(image, at + 24, static_cast<uint32_t>(f.data.size()));
        put32(image, at + 28, blocks * kMfsBlockSize);
        put32(image, at + 42, f.created);
        put32(image, at + 46, f.modified);
        image[at + 50] = static_cast<char>(f.name.size());
        image.replace(at + 51, f.name.size(), f.name);
        at += (51 + f.name.size() + 1) & ~size_t{1};
        image.replace(kMfsFirstBlock + (block - 2) * kMfsBlockSize, f.data.size(), f.data);
        for (uint32_t b = 0; b < blocks; ++b, ++block) set_mfs_map(image, block, b + 1 == blocks ? 1 : block + 1);
    }
    return image;
}

// hfsutils in a folder of its own: it keeps its current volume in
// $HOME/.hcwd, and reads and writes dates in local time, so each command runs
// with that folder as HOME and TZ=UTC.
class Hfsutils {
public:
    explicit Hfsutils(std::string dir) : dir_(std::move(dir)) {}
    bool run(const std::string &command) const {
        bool ok = false;
        run_command(environment() + command + " 2>&1", &ok);
        return ok;
    }
    // A blank HFS volume of `kilobytes`, mounted as the current volume.
    bool format(const std::string &image, int kilobytes, const std::string &label) const {
        return run("truncate -s " + std::to_string(kilobytes) + "K '" + image + "' && hformat -l '" + label + "' '" +
                   image + "' >/dev/null && hmount '" + image + "' >/dev/null");
    }
    std::string out(const std::string &command) const {
        return run_command(environment() + command);
    }

private:
    std::string environment() const { return "cd '" + dir_ + "' && export HOME='" + dir_ + "' TZ=UTC && "; }
    std::string dir_;
};

}  // namespace testing_support
