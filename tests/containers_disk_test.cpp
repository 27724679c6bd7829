// Disk images read through the container interface: HFS volumes written by
// hfsutils (an independent writer), wrapped by the test builders in DiskCopy
// 4.2 images and partition maps, MFS volumes, the real DiskCopy floppy of the
// corpus, damaged and hostile images, and the wrappers that are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "containers/formats.h"
#include "containers/source.h"
#include "containers/walk.h"
#include "host/macbinary.h"
#include "tests/support/corpus.h"
#include "tests/support/disk_builder.h"
#include "tests/support/hfsplus_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"

namespace {

using namespace containers;
using namespace testing_support;
namespace fs = std::filesystem;

struct Listed {
    Member member;
    std::string data;      // the data fork, when it could be read
    std::string resource;  // the resource fork, from the volumes that give it
};

std::string joined(const std::vector<std::string> &path) {
    std::string out;
    for (const auto &e : path) out += (out.empty() ? "" : "/") + e;
    return out;
}

std::shared_ptr<const Source> source_of(const std::string &bytes) {
    return containers::bytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

const Format *best_format(const Source &source) {
    std::vector<uint8_t> head(kHead);
    head.resize(source.read_at(0, head.data(), head.size()));
    const Format *best = nullptr;
    int best_bid = 0;
    for (const Format *f : {&diskcopy_format(), &partition_map_format(), &mfs_format(), &hfs_format(), &hfsplus_format(),
                            &gpt_format(), &refused_format()}) {
        const int bid = f->bid(source, head.data(), head.size());
        if (bid > best_bid) best = f, best_bid = bid;
    }
    return best;
}

// Every member of the image in `bytes` by path, read through the format
// that bids highest, which must be `expected`.
std::map<std::string, Listed> list(std::shared_ptr<const Source> source, const Format &expected) {
    const Format *format = best_format(*source);
    EXPECT_EQ(format, &expected) << (format != nullptr ? format->name : "no format");
    std::map<std::string, Listed> out;
    if (format == nullptr) return out;
    auto container = format->open(source);
    Member m;
    while (container->next(m)) {
        Listed l{m, {}, {}};
        if (m.problem.empty()) {
            if (m.resource_length != 0 && m.warning.empty()) {
                auto resource = container->resource();
                l.resource.resize(resource->size());
                EXPECT_EQ(resource->read_at(0, l.resource.data(), l.resource.size()), l.resource.size());
            }
            auto data = container->data();
            l.data.resize(data->size());
            EXPECT_EQ(data->read_at(0, l.data.data(), l.data.size()), l.data.size());
        }
        out[joined(m.path)] = l;
    }
    return out;
}

std::map<std::string, Listed> list(const std::string &bytes, const Format &expected) {
    return list(source_of(bytes), expected);
}

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string memo(const std::string &text) { return Mw5Builder().text(Area::Main, text + "\r").build(); }

// A MacBinary II file of a MacWrite document, created and modified at the
// given Macintosh times, for `hcopy -m`.
std::string macbinary(const std::string &data, uint32_t created, uint32_t modified) {
    auto header = kavrel::macbinary::make_header("Doc", "WORD", "MACA", static_cast<uint32_t>(data.size()), modified);
    std::string h(header.begin(), header.end());
    put32(h, 91, created);
    put32(h, 95, modified);
    put16(h, 124, kavrel::macbinary::header_crc(reinterpret_cast<const uint8_t *>(h.data())));
    std::string out = h + data;
    out.resize(128 + (data.size() + 127) / 128 * 128, '\0');
    return out;
}

constexpr uint32_t kMacEpoch = 2082844800;
constexpr uint32_t kCreated = kMacEpoch + 575000000, kModified = kMacEpoch + 600000000;  // 1988, 1989

// An HFS volume made by hfsutils: folders (one named with a '/' and one in
// Mac OS Roman), MacWrite documents with their Finder dates, and a file
// written into a fragmented volume so that its extents overflow the catalog
// record into the extents tree.  Each file's data fork as `hcopy -r` gives it.
struct HfsFixture {
    ScratchDir dir;
    std::string image;
    std::map<std::string, std::string> forks;  // member path -> bytes hcopy -r extracted

    bool build(int kilobytes) {
        Hfsutils h(dir.path());
        image = dir.file("disk.img");
        if (!h.format(image, kilobytes, "Test Disk")) return false;
        const std::string cafe = "Caf\x8E";  // Mac OS Roman e-acute
        bool ok = h.run("hmkdir :Letters") && h.run("hmkdir ':Letters:Old/Stuff'") && h.run("hmkdir ':" + cafe + "'");
        const std::vector<std::pair<std::string, std::string>> docs = {
            {":Letters:Memo to Ann", "Letters/Memo to Ann"},
            {":Letters:Old/Stuff:Budget", "Letters/Old/Stuff/Budget"},
            {":" + cafe + ":Menu " + cafe, "Café/Menu Café"},
            {":Top", "Top"}};
        for (size_t i = 0; i < docs.size(); ++i) {
            dir.write("doc.bin", macbinary(memo("Document " + std::to_string(i)), kCreated, kModified));
            ok = ok && h.run("hcopy -m doc.bin '" + docs[i].first + "'");
        }
        dir.write("small", std::string(1024, 's'));
        for (int i = 0; i < 40 && ok; ++i) ok = h.run("hcopy -r small :f" + std::to_string(i));
        // A filler leaves 16K free after the small files; deleting every
        // other one makes holes that the next file must be spread over.
        const std::string free = h.out("hvol | sed -n 's/.* has \\([0-9]*\\) bytes free/\\1/p'");
        ok = ok && h.run("head -c " + std::to_string(std::atol(free.c_str()) - 16384) + " /dev/zero > filler") &&
             h.run("hcopy -r filler :Filler");
        for (int i = 0; i < 40 && ok; i += 2) ok = h.run("hdel :f" + std::to_string(i));
        std::string scattered;
        for (int i = 0; i < 30000; ++i) scattered += static_cast<char>(i * 7919 >> 3);
        dir.write("scattered", scattered);
        ok = ok && h.run("hcopy -r scattered :Scattered");
        for (const auto &[mac, path] : docs) {
            ok = ok && h.run("hcopy -r '" + mac + "' out.bin");
            forks[path] = slurp(dir.file("out.bin"));
        }
        ok = ok && h.run("hcopy -r :Scattered out.bin");
        forks["Scattered"] = slurp(dir.file("out.bin"));
        return h.run("humount") && ok;
    }
};

#define REQUIRE_HFSUTILS() REQUIRE_PROGRAM("hformat")

void expect_hfs_members(const std::map<std::string, Listed> &members, const HfsFixture &f) {
    for (const auto &[path, fork] : f.forks) {
        const auto m = members.find(path);
        ASSERT_NE(m, members.end()) << path;
        EXPECT_EQ(m->second.member.problem, "") << path;
        EXPECT_EQ(m->second.data, fork) << path;
    }
    const Member &memo = members.at("Letters/Old/Stuff/Budget").member;
    EXPECT_EQ(memo.type, "WORD");
    EXPECT_EQ(memo.creator, "MACA");
    EXPECT_EQ(memo.created, int64_t{kCreated} - kMacEpoch);
    EXPECT_EQ(memo.modified, int64_t{kModified} - kMacEpoch);
    EXPECT_EQ(members.size(), f.forks.size() + 21);  // and the filler and 20 small files left
}

TEST(HfsImage, FloppyFoldersNamesDatesAndForksAsHfsutilsWroteThem) {
    REQUIRE_HFSUTILS();
    HfsFixture f;
    ASSERT_TRUE(f.build(1440));
    const std::string raw = slurp(f.image);
    expect_hfs_members(list(raw, hfs_format()), f);
    // The same volume in a DiskCopy 4.2 image: its members directly under it.
    expect_hfs_members(list(diskcopy42(raw), diskcopy_format()), f);
}

TEST(HfsImage, HardDiskInAPartitionMapOneAndSeveralPartitions) {
    REQUIRE_HFSUTILS();
    HfsFixture f;
    ASSERT_TRUE(f.build(20 * 1024));
    const std::string volume = slurp(f.image);
    expect_hfs_members(list(partitioned_disk({{"MacOS", "Apple_HFS", volume}}), partition_map_format()), f);
    // As on CDs whose map counts in 2048-byte blocks.
    expect_hfs_members(list(partitioned_disk({{"CD", "Apple_HFS", volume}}, 2048), partition_map_format()), f);

    const std::string two = partitioned_disk({{"Work", "Apple_HFS", volume},
                                              {"Driver", "Apple_Driver43", std::string(16 * 512, '\0')},
                                              {"Archive", "Apple_HFS", volume}});
    const auto members = list(two, partition_map_format());
    EXPECT_EQ(members.size(), 2 * (f.forks.size() + 21));
    EXPECT_EQ(members.at("Archive/Letters/Memo to Ann").data, f.forks.at("Letters/Memo to Ann"));
    EXPECT_EQ(members.at("Work/Scattered").data, f.forks.at("Scattered"));
}

TEST(DiskCopyImage, BadChecksumIsAWarningOnEveryMember) {
    const std::string volume = mfs_volume({{"Memo", "WORDMACA", memo("Hello"), kCreated, kModified}});
    std::string image = diskcopy42(volume);
    image[72] ^= 1;
    const auto members = list(image, diskcopy_format());
    ASSERT_EQ(members.size(), 1u);
    EXPECT_NE(members.at("Memo").member.warning.find("checksum"), std::string::npos);
    EXPECT_EQ(members.at("Memo").data, memo("Hello"));
}

TEST(MfsImage, MembersAndDamagedBlockChains) {
    const std::string big(5000, 'b');  // five blocks
    std::string volume = mfs_volume({{"Memo \x8E", "WORDMACA", memo("Hello"), kCreated, kModified},
                                     {"Big", "TEXTttxt", big},
                                     {"Looped", "TEXTttxt", big},
                                     {"Short", "TEXTttxt", big}});
    // Blocks: Memo 2, Big 3-7, Looped 8-12, Short 13-17.
    set_mfs_map(volume, 10, 8);  // Looped's third block leads back to its first
    set_mfs_map(volume, 14, 1);  // Short's chain ends after two blocks
    const auto members = list(volume, mfs_format());
    ASSERT_EQ(members.size(), 4u);
    const Member &m = members.at("Memo é").member;
    EXPECT_EQ(m.type + m.creator, "WORDMACA");
    EXPECT_EQ(m.created, int64_t{kCreated} - kMacEpoch);
    EXPECT_EQ(m.modified, int64_t{kModified} - kMacEpoch);
    EXPECT_EQ(members.at("Memo é").data, memo("Hello"));
    EXPECT_EQ(members.at("Big").data, big);
    EXPECT_NE(members.at("Looped").member.problem.find("loop"), std::string::npos);
    EXPECT_NE(members.at("Short").member.problem.find("ends before"), std::string::npos);
    // A fork claimed longer than the volume.
    put32(volume, 4 * 512 + 24, 0xFFFFFFF0);
    EXPECT_NE(list(volume, mfs_format()).at("Memo é").member.problem, "");
}

// The catalog's location in an hfsutils volume: the byte offset of its
// first node, and the node size.
size_t catalog_at(const std::string &image) {
    const size_t block_size = get32(image, 1024 + 20), first = get16(image, 1024 + 28) * 512;
    return first + get16(image, 1024 + 150) * block_size;
}

void expect_fatal(const std::string &image, const Format &format, const std::string &words) {
    try {
        list(image, format);
        ADD_FAILURE() << "no error, expected: " << words;
    } catch (const Error &e) {
        EXPECT_EQ(e.grade, Grade::kFatal);
        EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
}

// An hfsutils floppy to damage, and where its catalog lies.
class HfsDamage : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_HFSUTILS();
        ASSERT_TRUE(f.build(1440));
        raw = slurp(f.image);
        catalog = catalog_at(raw);
        first_leaf = get32(raw, catalog + 14 + 10);
    }
    HfsFixture f;
    std::string raw;
    size_t catalog = 0;
    uint32_t first_leaf = 0;
};

TEST_F(HfsDamage, HostileCatalogsEndWithAnErrorNeverAHang) {

    std::string loop = raw;  // the first leaf links to itself
    put32(loop, catalog + first_leaf * 512, first_leaf);
    expect_fatal(loop, hfs_format(), "loop");

    std::string outside = raw;  // and past the tree
    put32(outside, catalog + first_leaf * 512, 0x7FFFFFFF);
    expect_fatal(outside, hfs_format(), "outside the tree");

    std::string huge = raw;  // node and record counts far beyond the file
    put32(huge, catalog + 14 + 22, 0xFFFFFFFF);
    put16(huge, catalog + first_leaf * 512 + 10, 0xFFFF);
    expect_fatal(huge, hfs_format(), "more records than fit");

    // Cut after the catalog: the volume lists, the forks past the end are
    // member problems.
    const auto cut = list(source_of(raw.substr(0, catalog + 64 * 1024)), hfs_format());
    EXPECT_NE(cut.at("Scattered").member.problem.find("past the end"), std::string::npos);
}

// The walk over the image in `bytes`, as mwconv makes it: every member by
// path, and the problem of the leaf that ends it, if any.
struct Walked {
    std::map<std::string, Listed> members;
    std::string ending;    // the last leaf's problem when it ends a container
    bool damaged = false;  // and whether members came before it
};

Walked walk(const std::string &bytes) {
    const auto source = source_of(bytes);
    const Format *format = best_format(*source);
    Walked w;
    if (format == nullptr) return w;
    Walker walker(source, *format);
    for (Leaf leaf; walker.next(leaf);) {
        if (leaf.damaged || (leaf.data == nullptr && leaf.member.type.empty())) {
            w.ending = leaf.member.problem;
            w.damaged = leaf.damaged;
            continue;
        }
        Listed l{leaf.member, {}, {}};
        if (leaf.data) {
            l.data.resize(leaf.data->size());
            leaf.data->read_at(0, l.data.data(), l.data.size());
        }
        w.members[joined(leaf.path)] = l;
    }
    return w;
}

TEST_F(HfsDamage, DamageLosesOnlyWhatLiesPastIt) {
    const uint32_t last_leaf = get32(raw, catalog + 14 + 14);
    ASSERT_NE(first_leaf, last_leaf);

    // The catalog's last leaf links back to its first: every file was
    // listed once before the loop showed.
    std::string loop = raw;
    put32(loop, catalog + last_leaf * 512, first_leaf);
    Walked w = walk(loop);
    EXPECT_TRUE(w.damaged);
    EXPECT_NE(w.ending.find("damaged HFS volume: the catalog has leaf nodes that form a loop"), std::string::npos) << w.ending;
    expect_hfs_members(w.members, f);

    // An extents tree that links outside itself: only the fork that needs
    // it is lost, and says so.
    std::string extents = raw;
    const size_t block_size = get32(raw, 1024 + 20), first = get16(raw, 1024 + 28) * 512;
    put32(extents, first + get16(raw, 1024 + 134) * block_size + 14 + 10, 0x7FFFFFFF);
    w = walk(extents);
    EXPECT_TRUE(w.damaged);
    EXPECT_NE(w.ending.find("the extents tree links to a node outside the tree"), std::string::npos) << w.ending;
    EXPECT_NE(w.members.at("Scattered").member.problem.find("do not cover"), std::string::npos);
    EXPECT_EQ(w.members.at("Letters/Old/Stuff/Budget").data, f.forks.at("Letters/Old/Stuff/Budget"));

    // A partition map that counts an entry it lacks: the partitions before
    // it stand.
    std::string disk = partitioned_disk({{"Work", "Apple_HFS", raw}});
    put32(disk, 512 + 4, get32(disk, 512 + 4) + 1);
    w = walk(disk);
    EXPECT_TRUE(w.damaged);
    EXPECT_NE(w.ending.find("the partition map counts"), std::string::npos) << w.ending;
    expect_hfs_members(w.members, f);
}

TEST(MfsImage, DamagedDirectoryGivesTheFilesItStillLists) {
    std::string volume = mfs_volume({{"One", "WORDMACA", memo("One")}, {"Two", "WORDMACA", memo("Two")}});
    std::string counted = volume;  // the volume counts three files
    put16(counted, 1024 + 12, 3);
    Walked w = walk(counted);
    EXPECT_TRUE(w.damaged);
    EXPECT_NE(w.ending.find("lists 2 of the 3 files"), std::string::npos) << w.ending;
    EXPECT_EQ(w.members.at("Two").data, memo("Two"));
    // The second directory sector cut off by the image's end, the first's
    // files before it read.
    volume.resize(5 * 512);
    w = walk(volume);
    EXPECT_TRUE(w.damaged);
    EXPECT_NE(w.ending.find("past the end of the image"), std::string::npos) << w.ending;
    EXPECT_EQ(w.members.size(), 2u);
}

TEST(RefusedImage, WrappersAndVolumesWeDoNotReadAreNamed) {
    std::string udif(4096, '\0');
    udif.replace(udif.size() - 512, 4, "koly");
    expect_fatal(udif, refused_format(), "UDIF");

    std::string dart(4 + 2 * 40 + 40 * 20960, '\0');
    dart[0] = 2, dart[1] = 1;
    put16(dart, 2, 800);
    for (int i = 0; i < 40; ++i) put16(dart, 4 + 2 * i, 0xFFFF);
    expect_fatal(dart, refused_format(), "DART");

    // NDIF, as it travels: MacBinary with a 'bcem' resource.
    std::string ndif(128 + 256, '\0');
    ndif[1] = 4;
    ndif.replace(2, 4, "Disk");
    put32(ndif, 87, 256);
    put32(ndif, 128 + 4, 16);       // map at 16
    put16(ndif, 128 + 16 + 24, 28); // types at 28 in the map
    put16(ndif, 128 + 16 + 28, 0);  // one type
    ndif.replace(128 + 16 + 30, 4, "bcem");
    expect_fatal(ndif, refused_format(), "NDIF");
}

TEST(CorpusImage, DiskCopyMfsFloppyHoldsTheBareDocuments) {
    const fs::path image = corpus_dir() / "containers" / "MacWrite 4.5.image";
    if (!fs::exists(image)) GTEST_SKIP() << "no corpus at " << corpus_dir() << ": the real disk image is not checked";
    std::string error;
    const auto members = list(open_file_source(image.string(), error), diskcopy_format());
    for (const char *name : {"Sample Memo", "About MacWrite"}) {
        const auto m = members.find(name);
        ASSERT_NE(m, members.end()) << name;
        EXPECT_EQ(m->second.member.type + m->second.member.creator, "WORDMACA");
        std::string bare_name = std::string("DiskCopyReader__MW45disk__") + name;
        std::replace(bare_name.begin(), bare_name.end(), ' ', '_');
        EXPECT_EQ(m->second.data, slurp((corpus_dir() / "macwrite5" / bare_name).string())) << name;
    }
    // The Finder's folder records place the system files.
    EXPECT_TRUE(members.count("System Folder/System"));
}

// An HFS Plus volume with what the format can hold: folders, a decomposed
// name, both forks, a data fork in more than eight extents (the rest in the
// extents tree), a catalog of several leaves under an index node, and a hard
// link through the private folder.
struct HfsPlusFixture {
    std::string big, memo_doc = memo("Plus");
    std::string build(bool hfsx = false) {
        for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i) + "\n";
        HfsPlusBuilder b(hfsx);
        b.add({"Letters", "Memo to Ann", "WORDMACA", memo_doc, "resource fork", kCreated, kModified});
        HfsPlusFile scattered{"", "Scattered", "TEXTttxt", big, std::string(9000, 'r')};
        scattered.fragmented = true;
        b.add(scattered);
        b.add({"Letters", "Cafe\xCC\x81", "TEXTttxt", "decomposed", ""});
        HfsPlusFile inode{"", "", "WORDMACA", memo("Linked"), "", kCreated, kModified};
        inode.inode = 42;
        b.add(inode);
        HfsPlusFile link{"Letters", "Link", "", "", ""};
        link.link_to = 42;
        b.add(link);
        for (int i = 0; i < 12; ++i) b.add({"Many", "File " + std::to_string(i), "TEXTttxt", std::to_string(i), ""});
        return b.leaf_records(5).build();
    }
};

void expect_hfsplus_members(const std::map<std::string, Listed> &members, const HfsPlusFixture &f,
                            const std::string &prefix = "") {
    // The inode is listed under its link only; two volumes, twice as many.
    ASSERT_EQ(members.size(), prefix.empty() ? 16u : 32u);
    const Listed &memo_member = members.at(prefix + "Letters/Memo to Ann");
    EXPECT_EQ(memo_member.member.type + memo_member.member.creator, "WORDMACA");
    EXPECT_EQ(memo_member.member.created, int64_t{kCreated} - kMacEpoch);
    EXPECT_EQ(memo_member.member.modified, int64_t{kModified} - kMacEpoch);
    EXPECT_EQ(memo_member.data, f.memo_doc);
    EXPECT_EQ(memo_member.resource, "resource fork");
    EXPECT_EQ(members.at(prefix + "Scattered").data, f.big);
    EXPECT_EQ(members.at(prefix + "Scattered").resource, std::string(9000, 'r'));
    EXPECT_EQ(members.at(prefix + "Letters/Caf\xC3\xA9").data, "decomposed");  // composed to NFC
    const Listed &link = members.at(prefix + "Letters/Link");
    EXPECT_EQ(link.member.type + link.member.creator, "WORDMACA");
    EXPECT_EQ(link.data, memo("Linked"));
    EXPECT_EQ(members.at(prefix + "Many/File 11").data, "11");
}

TEST(HfsPlusImage, RawWrappedPartitionedAndOnGpt) {
    HfsPlusFixture f;
    const std::string volume = f.build();
    expect_hfsplus_members(list(volume, hfsplus_format()), f);
    expect_hfsplus_members(list(hfs_wrapper(volume), hfsplus_format()), f);
    expect_hfsplus_members(list(partitioned_disk({{"Mac HD", "Apple_HFS", volume}}), partition_map_format()), f);
    expect_hfsplus_members(list(gpt_disk({{"Mac HD", volume}}), gpt_format()), f);
    expect_hfsplus_members(list(gpt_disk({{"One", volume}, {"Two", volume}}), gpt_format()), f, "Two/");

    // A damaged primary GPT header: the backup at the disk's end is read;
    // with both damaged the disk is refused with the reason.
    std::string disk = gpt_disk({{"Mac HD", volume}});
    disk[512 + 24] ^= 1;
    expect_hfsplus_members(list(disk, gpt_format()), f);
    disk[disk.size() - 512 + 24] ^= 1;
    expect_fatal(disk, gpt_format(), "CRC");
}

TEST(HfsPlusImage, CaseSensitiveHfsxKeepsMemoAndMemoApart) {
    HfsPlusBuilder b(true);
    b.add({"", "Memo", "TEXTttxt", "upper", ""}).add({"", "memo", "TEXTttxt", "lower", ""});
    const auto members = list(b.build(), hfsplus_format());
    EXPECT_EQ(members.at("Memo").data, "upper");
    EXPECT_EQ(members.at("memo").data, "lower");
}

// 7-Zip reads the builder's volumes as we do: every data and resource fork.
TEST(HfsPlusImage, SevenZipExtractsTheSameForks) {
    REQUIRE_PROGRAM("7z");
    HfsPlusFixture f;
    ScratchDir dir;
    const std::string image = dir.write("plus.img", f.build(true));
    bool ok = false;
    run_command("cd '" + dir.path() + "' && 7z x -y -oout plus.img >/dev/null 2>&1", &ok);
    ASSERT_TRUE(ok) << "7z could not read the built volume";
    for (const auto &[path, m] : list(slurp(image), hfsplus_format())) {
        if (path == "Letters/Link" || path.find("Caf") != std::string::npos) continue;  // 7-Zip shows the link bare
        EXPECT_EQ(m.data, slurp(dir.file("out/Test/" + path))) << path;
        if (!m.resource.empty()) {
            EXPECT_EQ(m.resource, slurp(dir.file("out/Test/" + path + ":rsrc"))) << path;
        }
    }
    EXPECT_EQ(slurp(dir.file("out/Test/[HFS+ Private Data]/iNode42")), memo("Linked"));
}

TEST(HfsPlusImage, HostileVolumesEndWithAnErrorNeverAHang) {
    HfsPlusFixture f;
    const std::string volume = f.build();
    const uint32_t block = get32(volume, 1024 + 40);
    const size_t catalog = size_t{get32(volume, 1024 + 272 + 16)} * block;
    const size_t node = get16(volume, catalog + 14 + 18);
    const uint32_t first_leaf = get32(volume, catalog + 14 + 10);

    std::string loop = volume;  // the first leaf links to itself
    put32(loop, catalog + first_leaf * node, first_leaf);
    expect_fatal(loop, hfsplus_format(), "loop");
    std::string outside = volume;
    put32(outside, catalog + first_leaf * node, 0x7FFFFFFF);
    expect_fatal(outside, hfsplus_format(), "outside the tree");
    std::string huge = volume;  // record count beyond the node
    put16(huge, catalog + first_leaf * node + 10, 0xFFFF);
    expect_fatal(huge, hfsplus_format(), "more records than fit");

    // The extents tree lost: the scattered fork's extents no longer cover it;
    // its other members still read.
    std::string no_overflow = volume;
    put32(no_overflow, get32(volume, 1024 + 192 + 16) * block + 14 + 10, 0);
    const auto members = list(no_overflow, hfsplus_format());
    EXPECT_NE(members.at("Scattered").member.problem.find("do not cover"), std::string::npos);
    EXPECT_EQ(members.at("Letters/Memo to Ann").data, f.memo_doc);

    // The extents tree damaged: every file is still listed, the forks that
    // need the tree are problems, and the damage ends the walk.
    std::string broken = volume;
    broken[get32(volume, 1024 + 192 + 16) * block + 8] = 0;  // its header node is no header
    auto container = hfsplus_format().open(source_of(broken));
    std::map<std::string, std::string> problems;
    Member m;
    try {
        while (container->next(m)) problems[joined(m.path)] = m.problem;
        ADD_FAILURE() << "the damage is not told";
    } catch (const Error &e) {
        EXPECT_NE(std::string(e.what()).find("the extents tree has no header node"), std::string::npos) << e.what();
    }
    EXPECT_EQ(problems.size(), 16u);
    EXPECT_NE(problems["Scattered"], "");
    EXPECT_EQ(problems["Letters/Memo to Ann"], "");

    // A fork claimed past the volume's end, and the volume cut short.
    const auto cut = list(source_of(volume.substr(0, 80 * block)), hfsplus_format());
    EXPECT_NE(cut.at("Scattered").member.problem.find("past the end"), std::string::npos);
    std::string huge_fork = volume;
    for (size_t at = catalog; at + 8 < catalog + 64 * node; ++at) {
        if (get32(huge_fork, at) == uint64_t{f.big.size()} && get32(huge_fork, at - 4) == 0) put32(huge_fork, at - 4, 0xFFFF);
    }
    EXPECT_NE(list(huge_fork, hfsplus_format()).at("Scattered").member.problem, "");
}


// The corpus's GPT disks with HFS Plus volumes (one journaled) come inside
// UDIF images: 7-Zip gives their pieces, joined here into the raw disk, and
// the files it extracts from the volumes, which ours must equal.
TEST(CorpusImage, GptDisksWithHfsPlusVolumesAsSevenZipReadsThem) {
    REQUIRE_PROGRAM("7z");
    const fs::path dir2 = corpus_dir() / "containers2";
    if (!fs::exists(dir2)) GTEST_SKIP() << "no corpus at " << corpus_dir() << ": the real disks are not checked";
    for (const std::string name : {"hdi-mac__test-disk-image-hfsp", "hdi-mac__test-disk-image-hfsp-j"}) {
        ScratchDir dir;
        const std::string dmg = (dir2 / (name + ".dmg")).string();
        bool ok = false;
        run_command("cd '" + dir.path() + "' && 7z x -y -tdmg -opieces '" + dmg + "' >/dev/null 2>&1 && 7z x -y -ofiles '" +
                        dmg + "' >/dev/null 2>&1 && ls pieces | sort -n | (cd pieces && xargs -d '\\n' cat) > disk.img",
                    &ok);
        ASSERT_TRUE(ok) << name;
        const auto members = list(slurp(dir.file("disk.img")), gpt_format());
        // Three text files, and the journal's two files on the journaled one.
        EXPECT_EQ(members.size(), name.back() == 'j' ? 5u : 3u) << name;
        for (const auto &[path, m] : members)
            EXPECT_EQ(m.data, slurp(dir.file("files/" + name.substr(9) + "/" + path))) << name << ": " << path;
    }
}

}  // namespace
