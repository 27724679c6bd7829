// Writes the disk image that bench/dmg.sh measures: a zlib UDIF .dmg, in
// chunks of 1 MiB as hdiutil makes them, of a GPT disk with one HFS Plus
// volume holding DOCUMENTS MacWrite documents (the SEED files, copied round)
// in 20 folders and MEGABYTES files of 1 MiB of other bytes (random: as
// applications and pictures, they hardly compress).
//
//   make_dmg DOCUMENTS MEGABYTES FILE SEED...
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/hfsplus_builder.h"
#include "tests/support/udif_builder.h"

namespace {

using namespace testing_support;

constexpr long kFolders = 20;
constexpr uint32_t kFirstDataBlock = 256;  // room for the catalog of some thousands of files

std::string slurp(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// 1 MiB of bytes from a xorshift generator: the same on every run.
std::string noise(uint64_t &state) {
    std::string bytes(size_t{1} << 20, '\0');
    for (size_t i = 0; i < bytes.size(); i += 8) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        for (size_t b = 0; b < 8; ++b) bytes[i + b] = static_cast<char>(state >> (8 * b));
    }
    return bytes;
}

uint32_t blocks_of(const std::string &bytes) {
    return static_cast<uint32_t>((bytes.size() + HfsPlusBuilder::kBlock - 1) / HfsPlusBuilder::kBlock);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_dmg DOCUMENTS MEGABYTES FILE SEED...\n");
        return 1;
    }
    const long documents = std::atol(argv[1]), megabytes = std::atol(argv[2]);
    std::vector<std::string> seeds;
    for (int i = 4; i < argc; ++i) seeds.push_back(slurp(argv[i]));
    HfsPlusBuilder volume;
    uint32_t blocks = kFirstDataBlock + 16;
    for (long i = 0; i < documents; ++i) {
        HfsPlusFile f;
        f.folder = "Folder " + std::to_string(i % kFolders + 1);
        f.name = "Document " + std::to_string(i);
        f.type_creator = "WORDMACA";
        f.data = seeds[static_cast<size_t>(i) % seeds.size()];
        f.created = f.modified = 0xB0000000u + static_cast<uint32_t>(i);
        blocks += blocks_of(f.data);
        volume.add(std::move(f));
    }
    uint64_t state = 0x9E3779B97F4A7C15u;
    for (long i = 1; i <= megabytes; ++i) {
        HfsPlusFile f;
        f.name = "Other " + std::to_string(i);
        f.type_creator = "APPLaust";
        f.data = noise(state);
        blocks += blocks_of(f.data);
        volume.add(std::move(f));
    }
    const std::string hfs = volume.blocks(blocks, kFirstDataBlock).build();
    if (hfs.empty()) {
        std::fprintf(stderr, "make_dmg: too many files or bytes for one volume of the builder\n");
        return 1;
    }
    const std::string disk = gpt_disk({{"disk image", hfs}});
    const std::string dmg = udif_image({{"disk image (GUID_partition_scheme : 0)", disk}}, {UdifMethod::kZlib}, 2048);
    std::FILE *f = std::fopen(argv[3], "wb");
    if (f == nullptr || std::fwrite(dmg.data(), 1, dmg.size(), f) != dmg.size() || std::fclose(f) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
