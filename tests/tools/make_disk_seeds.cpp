// Writes fuzzing seeds of the disk image formats into DIR: an MFS volume, an
// HFS volume (when hfsutils is installed), each also in a DiskCopy 4.2 image
// and behind a partition map, HFS Plus volumes (raw, wrapped, on a GPT disk),
// a Compact Pro archive, DART, UDIF and NDIF images, LZFSE streams, and the
// refused wrappers.  Volumes are cut
// after their directories, where a fuzzer's inputs end:
//   make_disk_seeds DIR
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/cpt_builder.h"
#include "tests/support/dart_builder.h"
#include "tests/support/disk_builder.h"
#include "tests/support/hfsplus_builder.h"
#include "tests/support/lzfse_builder.h"
#include "tests/support/mw5_builder.h"
#ifdef MWCONV_HAVE_UDIF
#include "tests/support/ndif_builder.h"
#include "tests/support/udif_builder.h"
#endif

namespace {

using namespace testing_support;

constexpr size_t kCut = 16 * 1024;
constexpr size_t kSeedLength = 64 * 1024;  // the fuzzers' longest input

void write(const std::string &dir, const std::string &name, const std::string &bytes) {
    std::FILE *f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A small HFS volume with a folder and a document, or "" without hfsutils.
std::string hfs_volume(const std::string &dir) {
    // Absolute: hfsutils runs in this folder, and the image is named from there.
    const std::string work = std::filesystem::absolute(dir + "/hfs-work").string();
    std::filesystem::create_directories(work);
    Hfsutils h(work);
    write(work, "doc", Mw5Builder().text(Area::Main, "Seed\r").build());
    std::string volume;
    if (h.format(work + "/v.img", 800, "Seed") && h.run("hmkdir :Folder") && h.run("hcopy -r doc :Folder:Memo") &&
        h.run("hattrib -t WORD -c MACA :Folder:Memo") && h.run("humount")) {
        std::FILE *f = std::fopen((work + "/v.img").c_str(), "rb");
        volume.resize(kCut);
        volume.resize(std::fread(volume.data(), 1, kCut, f));
        std::fclose(f);
    }
    std::filesystem::remove_all(work);
    return volume;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_disk_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string doc = Mw5Builder().text(Area::Main, "Seed\r").build();
    const std::string mfs = mfs_volume({{"Memo", "WORDMACA", doc, 1, 2}, {"Notes", "TEXTttxt", std::string(1500, 'n')}}).substr(0, kCut);
    write(dir, "mfs.img", mfs);
    write(dir, "mfs.image", diskcopy42(mfs));
    const std::string hfs = hfs_volume(dir);
    if (!hfs.empty()) {
        write(dir, "hfs.img", hfs);
        write(dir, "hfs.image", diskcopy42(hfs));
        std::string floppy = hfs;
        floppy.resize(800 * 1024, '\0');
        write(dir, "hfs.dart", dart_image(floppy, true));
#ifdef MWCONV_HAVE_UDIF
        write(dir, "hfs.dmg", udif_image({{"disk image (Apple_HFS : 0)", hfs}},
                                         {UdifMethod::kRaw, UdifMethod::kZero, UdifMethod::kZlib, UdifMethod::kBzip2,
                                          UdifMethod::kAdc, UdifMethod::kLzma}, 4));
        // The NDIF target's input: the resource fork's length in two bytes,
        // the resource fork, the data fork.
        const auto [ndif_data, ndif_resource] = ndif_image(hfs, {0x02, 0x00, 0x83}, 8);
        write(dir, "hfs.ndif", std::string{static_cast<char>(ndif_resource.size() >> 8),
                                           static_cast<char>(ndif_resource.size())} + ndif_resource + ndif_data);
#endif
        write(dir, "hfs-partitioned.img", partitioned_disk({{"MacOS", "Apple_HFS", hfs}}));
    }
    // HFS Plus: raw, wrapped, partitioned and on a GPT disk; cut after the
    // catalog, which the builder places before the forks.
    HfsPlusBuilder plus;
    plus.add({"Letters", "Memo", "WORDMACA", doc, "rsrc", 1, 2});
    HfsPlusFile scattered{"", "Scattered", "TEXTttxt", std::string(40000, 's'), "", 0, 0};
    scattered.fragmented = true;
    plus.add(scattered);
    const std::string volume = plus.build();
    write(dir, "hfsplus.img", volume.substr(0, kSeedLength));
    write(dir, "hfsplus-wrapped.img", hfs_wrapper(volume).substr(0, kSeedLength));
    write(dir, "hfsplus-gpt.img", gpt_disk({{"Mac HD", volume}}).substr(0, kSeedLength));
    write(dir, "memo.cpt", compact_pro({cpt_folder("Letters", {cpt_file("Memo", "WORDMACA", doc, "rsrc", 1, true),
                                                               cpt_file("Plain", "TEXTttxt", std::string(300, 'p'), "")})}));
    std::string udif(1024, '\0');
    udif.replace(512, 4, "koly");
    write(dir, "udif.dmg", udif);
    // Bare LZFSE streams for its decoder: every kind of block.
    write(dir, "stored-plain.lzfse", lzfse_sample(true).stream);
    write(dir, "lzvn-packed.lzfse", lzfse_sample(false).stream);
    std::string dart(4 + 80 + 64, '\0');
    dart[1] = 1;
    put16(dart, 2, 800);
    put16(dart, 4, 64);
    write(dir, "dart.image", dart);
    return 0;
}
