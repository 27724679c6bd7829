// mwconv on containers that independent programs made: BinHex and MacBinary
// files written by hfsutils, archives by zip and bsdtar with the Finder's
// AppleDouble companions beside their files, and crafted hostile ones.  Every
// document inside converts to the bytes the bare document gives, and
// --identify's SHA-256 is that of what the tool extracts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/apple_builder.h"
#include "tests/support/corpus.h"
#include "tests/support/hfsplus_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;
using nlohmann::json;

#ifdef MWCONV_HAVE_LIBARCHIVE
constexpr bool kArchives = true;
#else
constexpr bool kArchives = false;  // a build without libarchive reads no zip or tar
#endif

bool have(const char *tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

// Runs `command` in `dir` with its own HOME (hfsutils keeps its current
// volume there); its standard output.
std::string sh(const ScratchDir &dir, const std::string &command) {
    const std::string out = dir.file("sh.out");
    const std::string full = "cd '" + dir.path() + "' && HOME='" + dir.path() + "' && export HOME && (" + command + ") >'" + out + "' 2>&1";
    EXPECT_EQ(std::system(full.c_str()), 0) << command << "\n" << read_file(out);
    return read_file(out);
}

std::string sha256(const ScratchDir &dir, const std::string &command) { return sh(dir, command + " | sha256sum").substr(0, 64); }

std::vector<json> lines_of(const std::string &out) {
    std::vector<json> objects;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) objects.push_back(json::parse(line));
    return objects;
}

int64_t mtime_of(const std::string &path) {
    using namespace std::chrono;
    const auto t = fs::last_write_time(path);
    return duration_cast<seconds>(file_clock::to_sys(t).time_since_epoch()).count();
}

std::string memo() {
    Mw5Builder doc;
    doc.text(Area::Header, "Letters\r").text(Area::Main, "Dear Ann,\rThe memo, at last.\r");
    return doc.build();
}

// 2000-02-04 01:00 UTC (seconds from 2000-01-01 UTC, AppleDouble's clock).
constexpr uint32_t kModified2000 = 34 * 86400 + 3600;
constexpr int64_t kModifiedUnix = 946684800 + kModified2000;

TEST(CliContainers, BinHexAndMacBinaryFromHfsutils) {
    if (!have("hformat") || !have("hcopy")) GTEST_SKIP() << "hfsutils is not installed";
    ScratchDir dir;
    const std::string bare = dir.write("bare", memo());
    sh(dir, "dd if=/dev/zero of=disk.img bs=1024 count=800 2>/dev/null && hformat -l Test disk.img && hmount disk.img && "
            "hcopy -r bare ':Caf\x8e Memo' && hattrib -t WORD -c MACA ':Caf\x8e Memo' && "
            "hcopy -b ':Caf\x8e Memo' memo.hqx && hcopy -m ':Caf\x8e Memo' memo.bin && hcopy -r ':Caf\x8e Memo' extracted && humount");
    const std::string expected = run_mwconv(dir, "'" + bare + "'").out;
    ASSERT_FALSE(expected.empty());
    for (const char *name : {"memo.hqx", "memo.bin"}) {
        const RunResult r = run_mwconv(dir, "'" + dir.file(name) + "'");
        EXPECT_EQ(r.status, 0) << name << r.err;
        EXPECT_EQ(r.out, expected) << name;
    }
    // In a batch a wrapped document is named after its wrapper, dated by it.
    ASSERT_EQ(run_mwconv(dir, "-q -o '" + dir.file("out") + "/' '" + dir.file("memo.hqx") + "' '" + dir.file("memo.bin") + "'").status, 0);
    EXPECT_EQ(read_file(dir.file("out/memo.hqx.txt")), expected);
    EXPECT_EQ(read_file(dir.file("out/memo.bin.txt")), expected);
    const std::string bin = read_file(dir.file("memo.bin"));
    const auto *h = reinterpret_cast<const unsigned char *>(bin.data());
    const int64_t modified = (int64_t{h[95]} << 24 | h[96] << 16 | h[97] << 8 | h[98]) - 2082844800;
    EXPECT_EQ(mtime_of(dir.file("out/memo.bin.txt")), modified);

    const RunResult id = run_mwconv(dir, "--identify --json '" + dir.file("memo.hqx") + "' '" + dir.file("memo.bin") + "'");
    ASSERT_EQ(id.status, 0) << id.err;
    const std::string extracted = sha256(dir, "cat extracted");
    for (const json &j : lines_of(id.out)) {
        if (j.contains("member")) {  // the BinHex file; the MacBinary one the plug-in reads as it stands
            EXPECT_EQ(j["member"], "Caf\xc3\xa9 Memo");
            EXPECT_EQ(j["type"], "WORD");
            EXPECT_EQ(j["sha256"], extracted);
            EXPECT_EQ(j["generation"], "MacWrite 4.6/5");
        } else {
            EXPECT_EQ(j["macbinary"]["creator"], "MACA");
        }
    }

    // One character changed in the encoded data fork: its CRC fails.
    std::string hqx = read_file(dir.file("memo.hqx"));
    const size_t at = hqx.find(":") + 100;  // past the header, inside the data fork
    ASSERT_LT(at, hqx.size());
    hqx[at] = hqx[at] == 'A' ? 'B' : 'A';
    const RunResult bad = run_mwconv(dir, "'" + dir.write("bad.hqx", hqx) + "'");
    EXPECT_EQ(bad.status, 3);
    EXPECT_NE(bad.err.find("CRC does not match"), std::string::npos) << bad.err;
    EXPECT_TRUE(bad.out.empty());
}

// Docs/Memo with its companion beside it (Docs/._Memo) or in __MACOSX, and
// a file that is no document.
void make_tree(const ScratchDir &dir, const std::string &root, bool macosx) {
    const std::string companion = AppleBuilder(AppleBuilder::kDouble, 2).finder("WORD", "MACA").dates(1000, kModified2000).build();
    fs::create_directories(dir.file(root + "/Docs"));
    dir.write(root + "/Docs/Memo", memo());
    dir.write(root + "/Docs/picture.dat", std::string(600, 'p'));
    if (macosx) {
        fs::create_directories(dir.file(root + "/__MACOSX/Docs"));
        dir.write(root + "/__MACOSX/Docs/._Memo", companion);
    } else {
        dir.write(root + "/Docs/._Memo", companion);
    }
}

TEST(CliContainers, ArchivesWithTheirFinderCompanions) {
    if (!kArchives) GTEST_SKIP() << "built without libarchive";
    if (!have("zip") || !have("bsdtar") || !have("unzip")) GTEST_SKIP() << "zip, unzip or bsdtar is not installed";
    ScratchDir dir;
    make_tree(dir, "mac", true);
    make_tree(dir, "beside", false);
    sh(dir, "cd mac && zip -qrX ../a.zip Docs __MACOSX");
    sh(dir, "cd beside && bsdtar -czf ../b.tar.gz Docs && bsdtar --format 7zip -cf ../c.7z Docs && "
            "bsdtar --format cpio -cf ../d.cpio Docs && bsdtar --format iso9660 -cf ../e.iso Docs && bsdtar -cjf ../f.tar.bz2 Docs");
    const std::string expected = run_mwconv(dir, "'" + dir.file("mac/Docs/Memo") + "'").out;
    const std::vector<std::string> archives = {"a.zip", "b.tar.gz", "c.7z", "d.cpio", "e.iso", "f.tar.bz2"};
    std::string inputs;
    for (const std::string &a : archives) inputs += " '" + dir.file(a) + "'";
    const RunResult r = run_mwconv(dir, "-o '" + dir.file("out") + "/'" + inputs);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("6 converted, 0 not MacWrite, 0 failed, 6 other files in 6 containers"), std::string::npos) << r.err;
    for (const std::string &a : archives) {
        const std::string out = dir.file("out/" + a + "/Docs/Memo.txt");
        EXPECT_EQ(read_file(out), expected) << a;
        EXPECT_EQ(mtime_of(out), kModifiedUnix) << a;
    }
    for (const auto &entry : fs::recursive_directory_iterator(dir.file("out"))) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.find("._") == std::string::npos && name != "__MACOSX") << entry.path();  // never listed alone
    }

    const RunResult id = run_mwconv(dir, "--identify --json '" + dir.file("a.zip") + "'");
    ASSERT_EQ(id.status, 0) << id.err;
    const std::vector<json> members = lines_of(id.out);
    ASSERT_EQ(members.size(), 2u) << id.out;
    for (const json &j : members) {
        const std::string path = j["member"];
        EXPECT_EQ(j["sha256"], sha256(dir, "unzip -p a.zip '" + path + "'")) << path;
        EXPECT_EQ(j["macwrite"], path == "Docs/Memo");
        if (path == "Docs/Memo") {
            EXPECT_EQ(j["creator"], "MACA");
            EXPECT_EQ(j["modified"], "2000-02-04T01:00:00");
        }
    }

    ASSERT_EQ(run_mwconv(dir, "-q -t docx -o '" + dir.file("docx") + "/' '" + dir.file("a.zip") + "'").status, 0);
    EXPECT_NE(sh(dir, "unzip -p docx/a.zip/Docs/Memo.docx docProps/core.xml").find("<dcterms:modified xsi:type=\"dcterms:W3CDTF\">2000-02-04T01:00:00Z"),
              std::string::npos);
    ASSERT_EQ(run_mwconv(dir, "-q -t odt -o '" + dir.file("odt") + "/' '" + dir.file("a.zip") + "'").status, 0);
    EXPECT_NE(sh(dir, "unzip -p odt/a.zip/Docs/Memo.odt meta.xml").find("<dc:date>2000-02-04T01:00:00Z</dc:date>"), std::string::npos);
}

TEST(CliContainers, FolderCompanionsDateTheirDocuments) {
    ScratchDir dir;
    make_tree(dir, "tree", true);
    ASSERT_EQ(run_mwconv(dir, "-q -o '" + dir.file("out") + "/' '" + dir.file("tree") + "'").status, 0);
    EXPECT_EQ(mtime_of(dir.file("out/Docs/Memo.txt")), kModifiedUnix);
}

TEST(CliContainers, OneDocumentToAFileSeveralNeedAFolder) {
    ScratchDir dir;
    const std::string single = dir.write("memo.as", AppleBuilder(AppleBuilder::kSingle, 2).name("Memo").data(memo()).build());
    const std::string out = dir.file("memo.txt");
    ASSERT_EQ(run_mwconv(dir, "-o '" + out + "' '" + single + "'").status, 0);
    EXPECT_EQ(read_file(out), run_mwconv(dir, "'" + dir.write("bare", memo()) + "'").out);
    if (!kArchives || !have("zip")) GTEST_SKIP() << "zip is not installed, or this build reads no zip";
    make_tree(dir, "tree", false);
    sh(dir, "cd tree && zip -qr ../two.zip Docs");
    const RunResult r = run_mwconv(dir, "-o '" + dir.file("x.txt") + "' '" + dir.file("two.zip") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("-o FOLDER/"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("x.txt")));
}

TEST(CliContainers, HostileArchivesStayInsideTheOutputFolder) {
    if (!kArchives) GTEST_SKIP() << "built without libarchive";
    if (!have("bsdtar") || !have("zip")) GTEST_SKIP() << "bsdtar or zip is not installed";
    ScratchDir dir;
    dir.write("doc", memo());
    fs::create_directories(dir.file("in"));
    fs::create_symlink(dir.path(), dir.file("link"));
    // Names that climb out, an absolute one, a link and a file through it.
    sh(dir, "bsdtar -cPf in/escape.tar -s ',^doc$,../../climbed,' doc && "
            "bsdtar -rPf in/escape.tar -s ',^doc$," + dir.file("absolute") + ",' doc && "
            "bsdtar -rPf in/escape.tar link && bsdtar -rPf in/escape.tar -s ',^doc$,link/through,' doc && "
            "bsdtar --format zip -cPf in/escape.zip -s ',^doc$,../zipclimbed,' doc");
    // Zips in zips, deeper than mwconv opens.
    sh(dir, "cp doc d0 && for i in 1 2 3 4 5 6 7 8 9 10; do zip -q d$i.zip d$((i-1))* && rm d$((i-1))*; done && mv d10.zip in/deep.zip");
    // A tar whose one member claims 4 GB, in a gzip of a few hundred bytes.
    sh(dir, "truncate -s 4G huge && (bsdtar -cf - huge | head -c 20480 | gzip -9 > in/bomb.tar.gz) ; rm huge");
    const auto before = std::chrono::steady_clock::now();
    const RunResult r = run_mwconv(dir, "-o '" + dir.file("out") + "/' '" + dir.file("in") + "'");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("nested deeper than 8"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("claims 4294967296 bytes"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"..\" cannot be a file name"), std::string::npos) << r.err;
    // Everything written lies under out/, none of it a link.
    for (const auto &entry : fs::directory_iterator(dir.path()))
        EXPECT_TRUE(std::set<std::string>({"doc", "in", "link", "out", "run.out", "run.err", "sh.out", ".hcwd"})
                        .count(entry.path().filename().string()))
            << entry.path();
    EXPECT_FALSE(fs::exists(dir.file("../climbed.txt")));
    size_t documents = 0;
    for (const auto &entry : fs::recursive_directory_iterator(dir.file("out"))) {
        EXPECT_FALSE(entry.is_symlink()) << entry.path();
        if (entry.is_regular_file()) ++documents;
    }
    EXPECT_EQ(documents, 4u);  // the climbing, absolute and linked names, written inside
}

}  // namespace

namespace {

// An HFS floppy made by hfsutils, with a folder and a Mac OS Roman name, and
// the real DiskCopy floppy of the corpus: `mwconv -o out/ IMAGE` writes every
// document under the image's name, folders mirrored, as the bare document
// converts; a warning about the whole image is told once.
TEST(CliContainers, DiskImagesConvertLikeFoldersOfTheirDocuments) {
    if (!have("hformat") || !have("hcopy")) GTEST_SKIP() << "hfsutils is not installed";
    ScratchDir dir;
    const std::string bare = dir.write("bare", memo());
    sh(dir, "dd if=/dev/zero of='System Disk.image' bs=1024 count=1440 2>/dev/null && hformat -l Disk 'System Disk.image' && "
            "hmount 'System Disk.image' && hmkdir :Letters && hcopy -r bare ':Letters:Memo to Ann' && "
            "hattrib -t WORD -c MACA ':Letters:Memo to Ann' && hcopy -r bare ':Caf\x8e' && "
            "hcopy -r bare ':..' && echo plain > plain && hcopy -r plain ':Icon\x01' && humount");
    const std::string expected = run_mwconv(dir, "'" + bare + "'").out;
    const RunResult r = run_mwconv(dir, "-o '" + dir.file("out") + "/' '" + dir.file("System Disk.image") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("out/System Disk.image/Letters/Memo to Ann.txt")), expected);
    EXPECT_EQ(read_file(dir.file("out/System Disk.image/Caf\xc3\xa9.txt")), expected);
    // A name no file can take is changed and told, where an output takes it.
    EXPECT_NE(r.err.find("/..: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Icon"), std::string::npos) << r.err;

    const fs::path image = corpus_dir() / "containers" / "MacWrite 4.5.image";
    if (!fs::exists(image)) GTEST_SKIP() << "no corpus at " << corpus_dir() << ": the real disk image is not checked";
    const RunResult real = run_mwconv(dir, "-o '" + dir.file("real") + "/' '" + image.string() + "'");
    EXPECT_EQ(real.status, 0) << real.err;
    size_t warnings = 0;
    for (size_t at = 0; (at = real.err.find("checksum", at)) != std::string::npos; ++at) ++warnings;
    EXPECT_EQ(warnings, 1u) << real.err;
    for (const char *name : {"Sample Memo", "About MacWrite"}) {
        std::string bare_name = std::string("DiskCopyReader__MW45disk__") + name;
        std::replace(bare_name.begin(), bare_name.end(), ' ', '_');
        const std::string alone = run_mwconv(dir, "'" + (corpus_dir() / "macwrite5" / bare_name).string() + "'").out;
        ASSERT_FALSE(alone.empty()) << bare_name;
        EXPECT_EQ(read_file(dir.file("real/MacWrite 4.5.image/" + std::string(name) + ".txt")), alone) << name;
    }
}


// Documents on an HFS Plus volume (the corpus's real ones where present) on a
// GPT disk inside a zip convert to the bytes their bare copies give, named and
// dated by the Finder.
TEST(CliContainers, HfsPlusOnAGptDiskInAZip) {
    if (!kArchives || !have("zip")) GTEST_SKIP() << "no zip reader or writer";
    ScratchDir dir;
    std::vector<std::pair<std::string, std::string>> docs{{"Memo to Ann", memo()}};
    for (const char *name : {"Sample_Memo", "About_MacWrite"}) {
        const fs::path real = corpus_dir() / "macwrite5" / (std::string("DiskCopyReader__MW45disk__") + name);
        if (fs::exists(real)) docs.push_back({name, read_file(real.string())});
    }
    constexpr uint32_t kModified = 2840140800u;  // 1994-01-01 00:00:00
    HfsPlusBuilder volume;
    for (const auto &[name, bytes] : docs) volume.add({"Letters", name, "WORDMACA", bytes, "", kModified, kModified});
    dir.write("disk.img", gpt_disk({{"Macintosh HD", volume.build()}}));
    sh(dir, "zip -q disk.zip disk.img");
    const RunResult r = run_mwconv(dir, "-o '" + dir.file("out") + "/' '" + dir.file("disk.zip") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto &[name, bytes] : docs) {
        const std::string output = dir.file("out/disk.zip/disk.img/Letters/" + name + ".txt");
        EXPECT_EQ(read_file(output), run_mwconv(dir, "'" + dir.write("bare", bytes) + "'").out) << name;
        EXPECT_EQ(mtime_of(output), int64_t{kModified} - 2082844800) << name;
    }
}

// An ISO 9660 / HFS Plus hybrid as xorriso makes it: the Mac side gives the
// Finder's type and creator; with the Mac side damaged, the ISO 9660 side
// gives the same documents, and mwconv says so.
TEST(CliContainers, IsoHfsPlusHybridAndItsIsoSide) {
    if (!kArchives) GTEST_SKIP() << "a build without libarchive reads no ISO 9660";
    if (!have("xorriso")) GTEST_SKIP() << "xorriso is not installed";
    ScratchDir dir;
    fs::create_directories(dir.file("cd/Letters"));
    const std::string bare = dir.write("cd/Letters/Memo", memo());
    sh(dir, "touch -d '1994-01-01 00:00:00 UTC' cd/Letters/Memo && xorriso -as mkisofs -hfsplus "
            "-hfsplus-file-creator-type MACA WORD /Letters/Memo -V CD -o cd.iso cd");
    const std::string expected = run_mwconv(dir, "'" + bare + "'").out;
    const RunResult id = run_mwconv(dir, "--identify '" + dir.file("cd.iso") + "'");
    EXPECT_NE(id.out.find("Letters/Memo: type WORD, creator MACA, "), std::string::npos) << id.out;
    EXPECT_NE(id.out.find("modified 1994-01-01T00:00:00"), std::string::npos) << id.out;
    RunResult r = run_mwconv(dir, "-o '" + dir.file("out") + "/' '" + dir.file("cd.iso") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("out/cd.iso/Letters/Memo.txt")), expected);
    EXPECT_EQ(mtime_of(dir.file("out/cd.iso/Letters/Memo.txt")), 757382400);

    // The HFS Plus volume header gone: the ISO 9660 side, told once.
    sh(dir, "start=$(od -An -tu4 --endian=big -j $((3 * 512 + 8)) -N4 cd.iso) && "
            "printf XX | dd of=cd.iso bs=1 seek=$((start * 512 + 1024)) conv=notrunc 2>/dev/null");
    r = run_mwconv(dir, "-o '" + dir.file("iso") + "/' '" + dir.file("cd.iso") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("iso/cd.iso/Letters/Memo.txt")), expected);
    EXPECT_NE(r.err.find("read from its ISO 9660 side"), std::string::npos) << r.err;
}

}  // namespace
