// UDIF, NDIF and DART images: the real ones of the corpus against 7-Zip and the
// disk a DART image was made from, images built from the formats' public
// descriptions (checked with 7-Zip where it reads them) around HFS volumes
// that hfsutils writes, and hostile chunk tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <vector>

#include "containers/formats.h"
#include "containers/source.h"
#include "containers/walk.h"
#include "host/macbinary.h"
#include "tests/support/corpus.h"
#include "tests/support/apple_builder.h"
#include "tests/support/binhex_builder.h"
#include "tests/support/dart_builder.h"
#include "tests/support/lzfse_builder.h"
#include "tests/support/disk_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/ndif_builder.h"
#include "tests/support/run.h"
#include "tests/support/udif_builder.h"

namespace {

using namespace containers;
using namespace testing_support;
namespace fs = std::filesystem;

std::string slurp(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::shared_ptr<const Source> source_of(const std::string &bytes) {
    return containers::bytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::string read_all(const Source &s) {
    std::string out(static_cast<size_t>(s.size()), '\0');
    out.resize(s.read_at(0, out.data(), out.size()));
    return out;
}

// Every leaf of a walk: its shown path, and its data or "!" and the problem.
std::map<std::string, std::string> walk(std::shared_ptr<const Source> source) {
    std::map<std::string, std::string> out;
    const Format *format = recognise(*source);
    if (format == nullptr) return out;
    Walker walker(source, *format);
    Leaf leaf;
    while (walker.next(leaf)) {
        std::string data = "!" + leaf.member.problem;
        if (leaf.data != nullptr) {
            try {
                data = read_all(*leaf.data);
            } catch (const Error &e) {
                data = std::string("!") + e.what();
            }
        }
        out[leaf.shown] = data;
    }
    return out;
}

// An 800K HFS volume by hfsutils with a MacWrite document and a file of 30000
// bytes, and each data fork as `hcopy -r` gives it.
struct Volume {
    ScratchDir dir;
    std::string image;
    std::map<std::string, std::string> forks;

    bool build() {
        Hfsutils h(dir.path());
        const std::string path = dir.file("disk.img");
        if (!h.format(path, 800, "Test Disk")) return false;
        std::string big;
        for (int i = 0; i < 30000; ++i) big += static_cast<char>(i * 7919 >> 5);
        dir.write("memo", Mw5Builder().text(Area::Main, "A memo on a disk image\r").build());
        dir.write("big", big);
        bool ok = h.run("hmkdir :Letters") && h.run("hcopy -r memo ':Letters:Memo'") && h.run("hcopy -r big :Big");
        ok = ok && h.run("humount");
        image = slurp(path);
        forks = {{"Letters/Memo", slurp(dir.file("memo"))}, {"Big", big}};
        return ok;
    }
};

const std::vector<UdifMethod> kEveryMethod = {UdifMethod::kRaw,   UdifMethod::kZero, UdifMethod::kZlib,
                                              UdifMethod::kBzip2, UdifMethod::kAdc,  UdifMethod::kLzma};

TEST(UdifImage, EveryChunkMethodAroundAPartitionedHfsDiskAs7ZipReadsIt) {
    REQUIRE_PROGRAM("hformat");
    REQUIRE_PROGRAM("7z");
    Volume v;
    ASSERT_TRUE(v.build());
    // The disk split into three partitions as hdiutil does: the driver
    // descriptor, the map, the volume.
    const std::string disk = partitioned_disk({{"disk image", "Apple_HFS", v.image}});
    const std::string image = udif_image({{"Driver Descriptor Map (DDM : 0)", disk.substr(0, 512)},
                                          {"Apple (Apple_partition_map : 1)", disk.substr(512, 63 * 512)},
                                          {"disk image (Apple_HFS : 2)", disk.substr(64 * 512)}},
                                         kEveryMethod, 16);
    // The builder's chunks are what 7-Zip reads: each partition as built.
    ScratchDir out;
    const std::string dmg = out.write("disk.dmg", image);
    bool ok = false;
    run_command("cd '" + out.path() + "' && 7z x -tdmg -y -ox '" + dmg + "' >/dev/null 2>&1", &ok);
    ASSERT_TRUE(ok);
    std::string joined;
    for (const char *name : {"0.ddm", "1.Apple_partition_map", "2.hfs"}) {
        ASSERT_TRUE(fs::exists(out.file(std::string("x/") + name))) << name;
        joined += slurp(out.file(std::string("x/") + name));
    }
    ASSERT_EQ(joined, disk);

    const auto members = walk(source_of(image));
    for (const auto &[path, fork] : v.forks) {
        ASSERT_TRUE(members.count(path)) << path;
        EXPECT_EQ(members.at(path), fork) << path;
    }
}

TEST(UdifImage, CorpusImagesGiveThePartitionsThat7ZipGives) {
    const fs::path folder = corpus_dir() / "containers2";
    if (!fs::exists(folder)) GTEST_SKIP() << "no corpus at " << corpus_dir() << ": the real images are not checked";
    REQUIRE_PROGRAM("7z");
    for (const char *kind : {"raw", "zlib", "bz2", "adc", "lzfse"}) {
        const fs::path dmg = folder / (std::string("node-udif__compression-") + kind + ".dmg");
        ScratchDir out;
        bool ok = false;
        run_command("7z x -y -o'" + out.path() + "' '" + dmg.string() + "' >/dev/null 2>&1", &ok);
        std::map<std::string, std::string> expected;  // by the partition's number
        for (const auto &e : fs::directory_iterator(out.path()))
            expected[e.path().filename().string().substr(0, 1)] = slurp(e.path());
        const auto members = walk(source_of(slurp(dmg)));
        ASSERT_EQ(members.size(), 5u) << kind;
        for (const auto &[name, data] : members) {
            // "Windows_FAT_16 : 2" and 7-Zip's "2.Windows_FAT_16"
            const std::string number = name.substr(name.size() - 2, 1);
            EXPECT_EQ(data, expected[number]) << kind << ": " << name;
        }
    }
}

// An image of `disk` in zlib chunks whose block table `patch` changes.
std::string patched_udif(const std::string &disk, const std::function<void(std::string &)> &patch) {
    UdifHooks hooks;
    hooks.patch = patch;
    return udif_image({{"disk image (Apple_HFS : 0)", disk}}, {UdifMethod::kZlib}, 16, hooks);
}

std::string open_error(const std::string &image) {
    try {
        walk(source_of(image));
        auto container = udif_format().open(source_of(image));
        Member m;
        std::string problems;
        while (container->next(m)) {
            if (!m.problem.empty()) problems += m.problem;
            else read_all(*container->data());
        }
        return problems;
    } catch (const Error &e) {
        return e.what();
    }
}

TEST(UdifImage, HostileTablesEndWithAnErrorNeverAHangOrABomb) {
    // A disk of zeros but for its last sector.
    std::string disk(64 * 512, '\0');
    disk.back() = 'z';
    constexpr size_t kFirstChunk = 204;
    // A chunk whose bytes lie past the image.
    EXPECT_NE(open_error(patched_udif(disk, [](std::string &t) { put64(t, kFirstChunk + 24, 1u << 30); })).find("past the end"),
              std::string::npos);
    // Two chunks over the same sectors.
    EXPECT_NE(open_error(patched_udif(disk, [](std::string &t) { put64(t, kFirstChunk + 40 + 8, 0); })).find("overlap"),
              std::string::npos);
    // A chunk past its partition, and a partition of a terabyte on a disk
    // of 64 sectors.
    EXPECT_NE(open_error(patched_udif(disk, [](std::string &t) { put64(t, kFirstChunk + 8, 1u << 20); })).find("past its partition"),
              std::string::npos);
    EXPECT_NE(open_error(patched_udif(disk, [](std::string &t) {
                  put64(t, 16, uint64_t{1} << 31);
                  put64(t, kFirstChunk + 16, uint64_t{1} << 31);
              })).find("past the end of the disk"),
              std::string::npos);
    // A compressed chunk of 128 MiB on a disk that has room for it: more
    // than is decoded at once.
    std::string huge = patched_udif(disk, [](std::string &t) {
        put64(t, 16, uint64_t{1} << 18);
        put64(t, kFirstChunk + 16, uint64_t{1} << 18);
        put32(t, 200, 1);  // that chunk alone
    });
    put64(huge, huge.size() - 512 + 492, uint64_t{1} << 19);
    EXPECT_NE(open_error(huge).find("more than"), std::string::npos) << open_error(huge);
    // More entries than the table holds.
    EXPECT_NE(open_error(patched_udif(disk, [](std::string &t) { put32(t, 200, 0x7FFFFFFF); })).find("cut short"),
              std::string::npos);
    // A chunk that decodes to less than it declares.
    EXPECT_NE(open_error(patched_udif(disk, [](std::string &t) { put64(t, kFirstChunk + 32, 8); })).find("zlib"),
              std::string::npos);
    // A property list that is not one.
    std::string image = udif_image({{"disk", disk}}, {UdifMethod::kRaw});
    image.replace(image.find("<plist"), 6, "<xlist");
    EXPECT_NE(open_error(image).find("property list"), std::string::npos);
}

TEST(UdifImage, ABombDecodesNoFurtherThanItsChunkDeclares) {
    // A sector whose zlib chunk holds a megabyte.
    const std::string disk(512, 'a');
    UdifHooks hooks;
    hooks.pack = [](UdifMethod m, const std::string &) { return udif_compress(m, std::string(1 << 20, 'a')); };
    const auto members = walk(source_of(udif_image({{"disk", disk}}, {UdifMethod::kZlib}, 16, hooks)));
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members.begin()->second, disk);
}

// What an image whose one chunk of `sectors` holds `stream` gives.
std::string lzfse_sector(const std::string &stream, size_t sectors = 1) {
    UdifHooks hooks;
    hooks.pack = [&](UdifMethod, const std::string &) { return stream; };
    const auto members =
        walk(source_of(udif_image({{"disk", std::string(512 * sectors, '\0')}}, {UdifMethod::kLzfse}, sectors, hooks)));
    return members.size() == 1 ? members.begin()->second : "no member";
}

TEST(UdifImage, HandBuiltLzfseBlocksOfEveryKindDecodeAs7ZipDecodesThem) {
    const LzfseSample s = lzfse_sample(false);
    ASSERT_EQ(s.plain.size(), 512u);
    EXPECT_EQ(lzfse_sector(s.stream), s.plain);
    // The same bytes in a stored block and a block of plain tables.
    EXPECT_EQ(lzfse_sector(lzfse_sample(true).stream), s.plain);
    // Matches over the end of the window.
    const LzfseSample longer = lzvn_long_sample();
    EXPECT_EQ(lzfse_sector(longer.stream, longer.plain.size() / 512), longer.plain);
    REQUIRE_PROGRAM("7z");
    UdifHooks hooks;
    hooks.pack = [&](UdifMethod, const std::string &) { return s.stream; };
    ScratchDir out;
    const std::string dmg = out.write("sample.dmg", udif_image({{"disk", std::string(512, '\0')}}, {UdifMethod::kLzfse}, 1, hooks));
    run_command("cd '" + out.path() + "' && 7z x -tdmg -y -ox '" + dmg + "' >/dev/null 2>&1");
    ASSERT_TRUE(fs::exists(out.file("x")));
    ASSERT_EQ(std::distance(fs::directory_iterator(out.file("x")), {}), 1);
    EXPECT_EQ(slurp(fs::directory_iterator(out.file("x"))->path()), s.plain);
}

TEST(UdifImage, DamagedLzfseStreamsAreMemberErrorsNamingTheProblem) {
    const LzfseSample s = lzfse_sample(true);
    const auto error = [](const std::string &stream) {
        const std::string got = lzfse_sector(stream);
        EXPECT_EQ(got.rfind("!", 0), 0u) << "decoded: " << got.substr(0, 40);
        return got;
    };
    std::string bad_tag = s.stream;
    bad_tag[3] = '?';
    EXPECT_NE(error(bad_tag).find("unknown tag (0x3F787662)"), std::string::npos);
    EXPECT_NE(error(s.stream.substr(0, 300)).find("cut short"), std::string::npos);
    EXPECT_NE(error(s.stream.substr(0, s.stream.size() - 4)).find("without its end block"), std::string::npos);
    EXPECT_NE(error(lzfse_sample(true, 127).stream).find("distance table's counts add up to 255, not 256"), std::string::npos);
    // One literal, then a match 1000 bytes back.
    const std::string reach = std::string("\xE1" "a" "\x07\xE8\x03", 5) + std::string("\x06\0\0\0\0\0\0\0", 8);
    EXPECT_NE(error("bvxn" + le32(4) + le32(static_cast<uint32_t>(reach.size())) + reach + "bvx$").find("before the start"),
              std::string::npos);
}

TEST(DartImage, BuiltFastAndStoredImagesHoldTheVolume) {
    REQUIRE_PROGRAM("hformat");
    Volume v;
    ASSERT_TRUE(v.build());
    for (bool fast : {true, false}) {
        const auto members = walk(source_of(dart_image(v.image, fast)));
        for (const auto &[path, fork] : v.forks) {
            ASSERT_TRUE(members.count(path)) << path;
            EXPECT_EQ(members.at(path), fork) << path;
        }
    }
}

TEST(DartImage, CorpusFastAndBestImagesHoldTheDiskTheyWereMadeFrom) {
    const fs::path zip = corpus_dir() / "containers2" / "CiderPress2__dart__test1.zip";
    if (!fs::exists(zip)) GTEST_SKIP() << "no corpus at " << corpus_dir() << ": the real images are not checked";
    std::string error;
    auto source = open_file_source(zip.string(), error);
    if (recognise(*source) == nullptr) GTEST_SKIP() << "built without libarchive: the zip is not read";
    // The zip holds the source disk, a floppy with a fast and a best image
    // of it, and the best image again: each DART image's files are the
    // source disk's.
    std::map<std::string, std::map<std::string, std::string>> disks;
    for (const auto &[path, data] : walk(source)) {
        std::string disk = path.substr(0, path.find('/'));
        std::string rest = path.substr(disk.size() + 1);
        if (disk == "test1-images.img" && rest.rfind("test1-", 0) == 0) {
            disk += "/" + rest.substr(0, rest.find('/'));
            rest = rest.substr(rest.find('/') + 1);
        }
        disks[disk][rest] = data;
    }
    const auto &source_disk = disks["test1-source.img"];
    ASSERT_GE(source_disk.size(), 10u);
    for (const char *image : {"test1-images.img/test1-fast", "test1-images.img/test1-best", "test1-best"})
        EXPECT_EQ(disks[image], source_disk) << image;

    // The bare image's companion (__MACOSX/._test1-best) gives it its Finder
    // information and resource fork, as unar pairs them.
    REQUIRE_PROGRAM("unar");
    ScratchDir dir;
    bool ok = false;
    run_command("cd '" + dir.path() + "' && unar -q -o out '" + zip.string() + "'", &ok);
    ASSERT_TRUE(ok);
    const std::string unar_rsrc = slurp(dir.file("out/CiderPress2__dart__test1/test1-best.rsrc"));  // AppleDouble
    auto archive = libarchive_format().open(source);
    Member m;
    while (archive->next(m) && m.path != std::vector<std::string>{"test1-best"}) {
    }
    ASSERT_EQ(m.path, std::vector<std::string>{"test1-best"});
    EXPECT_EQ(m.type + m.creator, "DMd3DART");
    ASSERT_GT(m.resource_length, 0u);
    ASSERT_GE(unar_rsrc.size(), m.resource_length);
    EXPECT_EQ(read_all(*archive->resource()), unar_rsrc.substr(unar_rsrc.size() - m.resource_length));
}

TEST(DartImage, DamagedChunksAreMemberErrorsNeverAHang) {
    REQUIRE_PROGRAM("hformat");
    Volume v;
    ASSERT_TRUE(v.build());
    // The "best" method over bytes that are not LZHUF, and a fast image whose
    // counts are zero.
    std::string best = dart_image(v.image, false);
    best[0] = 1;
    const auto garbled = walk(source_of(best));
    ASSERT_FALSE(garbled.empty());
    std::string fast = dart_image(v.image, true);
    std::fill(fast.begin() + 84, fast.end(), '\0');
    const auto zeros = walk(source_of(fast));
    ASSERT_EQ(zeros.size(), 1u);
    EXPECT_NE(zeros.begin()->second.find("count of zero"), std::string::npos) << zeros.begin()->second;
}

}  // namespace

namespace {

// A MacBinary II file of both forks.
std::string macbinary(const std::string &type, const std::string &data, const std::string &resource) {
    auto h = kavrel::macbinary::make_header("Disk.img", type.c_str(), "dCpy", static_cast<uint32_t>(data.size()), 0);
    std::string out(h.begin(), h.end());
    put32(out, 87, static_cast<uint32_t>(resource.size()));
    put16(out, 124, kavrel::macbinary::header_crc(reinterpret_cast<const uint8_t *>(out.data())));
    auto padded = [](std::string s) {
        s.resize((s.size() + 127) / 128 * 128, '\0');
        return s;
    };
    return out + padded(data) + padded(resource);
}

TEST(NdifImage, EveryWrapperGivesTheVolumeNotAChanceReadingOfItsFirstChunk) {
    REQUIRE_PROGRAM("hformat");
    Volume v;
    ASSERT_TRUE(v.build());
    // The first chunk raw: the data fork starts with the disk's boot blocks
    // and volume header, as in the Disk Copy 6.3.3 image that was read as a
    // bare volume.
    const auto [data, resource] = ndif_image(v.image, {0x02, 0x00, 0x83});
    ASSERT_EQ(data.compare(1024, 2, "BD"), 0);
    const std::vector<std::pair<std::string, std::string>> wrapped = {
        {"MacBinary", macbinary("rohd", data, resource)},
        {"BinHex", binhex("Disk.img", "dimgdCpy", data, resource)},
        {"AppleSingle", AppleBuilder(AppleBuilder::kSingle, 2).name("Disk.img").finder("rohd", "dCpy").data(data).resource(resource).build()}};
    for (const auto &[wrapper, bytes] : wrapped) {
        const auto members = walk(source_of(bytes));
        for (const auto &[path, fork] : v.forks) {
            ASSERT_TRUE(members.count("Disk.img/" + path)) << wrapper << ": " << path;
            EXPECT_EQ(members.at("Disk.img/" + path), fork) << wrapper << ": " << path;
        }
    }
}

TEST(NdifImage, OnAnHfsVolumeItsResourceForkIsReadThroughTheVolume) {
    REQUIRE_PROGRAM("hformat");
    Volume v;
    ASSERT_TRUE(v.build());
    const auto [data, resource] = ndif_image(v.image, {0x02, 0x00, 0x83});
    // The image with both forks on a 1440K floppy, through MacBinary.
    ScratchDir dir;
    dir.write("disk.bin", macbinary("rohd", data, resource));
    Hfsutils h(dir.path());
    ASSERT_TRUE(h.format(dir.file("floppy.img"), 1440, "Images") && h.run("hcopy -m disk.bin ':Disk.img'") &&
                h.run("humount"));
    const auto members = walk(source_of(slurp(dir.file("floppy.img"))));
    for (const auto &[path, fork] : v.forks) {
        ASSERT_TRUE(members.count("Disk.img/" + path)) << path;
        EXPECT_EQ(members.at("Disk.img/" + path), fork) << path;
    }
}

// The Finder's "Compress" and many downloads keep the resource fork in an
// AppleDouble companion beside the data fork ("._NAME", or under __MACOSX),
// before or after it: the archive gives it as the member's resource fork.
TEST(NdifImage, InAZipTheAppleDoubleCompanionCarriesTheChunkTable) {
    REQUIRE_PROGRAM("hformat");
    REQUIRE_PROGRAM("7z");
    Volume v;
    ASSERT_TRUE(v.build());
    const auto [data, resource] = ndif_image(v.image, {0x02, 0x00, 0x83});
    ScratchDir dir;
    dir.write("data", data);
    dir.write("companion", AppleBuilder(AppleBuilder::kDouble, 2).finder("rohd", "dCpy").resource(resource).build());
    bool ok = false;
    run_command("cd '" + dir.path() + "' && /usr/bin/python3 -c \"import zipfile\n"
                "with zipfile.ZipFile('images.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
                " for name, file in (('._Disk.img', 'companion'), ('Disk.img', 'data'), ('Old/Disk.img', 'data'),"
                " ('__MACOSX/Old/._Disk.img', 'companion')): z.write(file, name)\"", &ok);
    ASSERT_TRUE(ok);
    // 7-Zip gives back the forks as they went in.
    run_command("cd '" + dir.path() + "' && 7z x -y -oout images.zip", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(slurp(dir.file("out/Old/Disk.img")), data);
    EXPECT_EQ(slurp(dir.file("out/__MACOSX/Old/._Disk.img")), slurp(dir.file("companion")));
    std::string error;
    const auto zip = open_file_source(dir.file("images.zip"), error);
    if (recognise(*zip) == nullptr) GTEST_SKIP() << "built without libarchive: the zip is not read";
    const auto members = walk(zip);
    for (const char *image : {"Disk.img/", "Old/Disk.img/"})
        for (const auto &[path, fork] : v.forks) {
            ASSERT_TRUE(members.count(image + path)) << image << path;
            EXPECT_TRUE(members.at(image + path) == fork) << image << path;
        }
}

TEST(NdifImage, RefusedAndHostileChunksAreNamed) {
    REQUIRE_PROGRAM("hformat");
    Volume v;
    ASSERT_TRUE(v.build());
    // KenCode: refused by name on the members that need it.
    auto [data, resource] = ndif_image(v.image, {0x80});
    std::string all;
    for (const auto &[path, text] : walk(source_of(macbinary("rohd", data, resource)))) all += text;
    EXPECT_NE(all.find("KenCode"), std::string::npos) << all;
    // A chunk past the disk's end.
    auto [data2, resource2] = ndif_image(v.image, {0x02});
    std::string past = resource2;
    put32(past, 256 + 4 + 128 + 12, 0x00FFFF02);
    all.clear();
    for (const auto &[path, text] : walk(source_of(macbinary("rohd", data2, past)))) all += text;
    EXPECT_NE(all.find("past the disk"), std::string::npos) << all;
}

}  // namespace

namespace {

TEST(DiskImagesCli, ADocumentInEveryImageConvertsAsTheBareDocument) {
    REQUIRE_PROGRAM("hformat");
    REQUIRE_PROGRAM("zip");
    Volume v;
    ASSERT_TRUE(v.build());
    ScratchDir dir;
    const std::string bare = dir.write("Memo", v.forks.at("Letters/Memo"));
    const RunResult expected = run_mwconv(dir, "-q -o '" + dir.file("Memo.txt") + "' '" + bare + "'");
    ASSERT_EQ(expected.status, 0) << expected.err;
    // A zlib .dmg of a partitioned disk inside a zip, NDIF in MacBinary, DART.
    const std::string disk = partitioned_disk({{"disk image", "Apple_HFS", v.image}});
    dir.write("disk.dmg", udif_image({{"disk image (Apple_HFS : 0)", disk}}, {UdifMethod::kZlib}));
    bool ok = false;
    run_command("cd '" + dir.path() + "' && zip -q images.zip disk.dmg", &ok);
    ASSERT_TRUE(ok);
    const auto [data, resource] = ndif_image(v.image, {0x02, 0x00, 0x83});
    dir.write("disk.bin", macbinary("rohd", data, resource));
    dir.write("disk.dart", dart_image(v.image, true));
    // NDIF unzipped on disk: the chunk table in the AppleDouble companion,
    // beside the image or under __MACOSX (compressed from the first chunk,
    // so that the data fork alone reads as nothing).
    const auto [packed, table] = ndif_image(v.image, {0x83, 0x02});
    const std::string companion = AppleBuilder(AppleBuilder::kDouble, 2).finder("rohd", "dCpy").resource(table).build();
    for (const char *folder : {"unzipped/Old", "unzipped/__MACOSX/Old"}) std::filesystem::create_directories(dir.file(folder));
    dir.write("unzipped/Disk.img", packed);
    dir.write("unzipped/._Disk.img", companion);
    dir.write("unzipped/Old/Disk.img", packed);
    dir.write("unzipped/__MACOSX/Old/._Disk.img", companion);
    std::string inputs;
    for (const char *name : {"images.zip", "disk.bin", "disk.dart", "unzipped"}) inputs += " '" + dir.file(name) + "'";
    const RunResult r = run_mwconv(dir, "-q -o '" + dir.file("out") + "/'" + inputs);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string text = slurp(dir.file("Memo.txt"));
    for (const char *out : {"out/images.zip/disk.dmg/Letters/Memo.txt", "out/disk.bin/Letters/Memo.txt",
                            "out/disk.dart/Letters/Memo.txt", "out/Disk.img/Letters/Memo.txt",
                            "out/Old/Disk.img/Letters/Memo.txt"})
        EXPECT_EQ(slurp(dir.file(out)), text) << out;
}

}  // namespace
