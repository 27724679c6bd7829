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
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"

namespace {

using namespace containers;
using namespace testing_support;
namespace fs = std::filesystem;

struct Listed {
    Member member;
    std::string data;  // the data fork, when it could be read
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
    for (const Format *f : {&diskcopy_format(), &partition_map_format(), &mfs_format(), &hfs_format(), &refused_format()}) {
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
        Listed l{m, {}};
        if (m.problem.empty()) {
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
        Listed l{leaf.member, {}};
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
    std::string plus(8192, '\0');
    plus.replace(1024, 4, "H+\0\x04", 4);
    expect_fatal(plus, refused_format(), "HFS Plus");
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

}  // namespace
