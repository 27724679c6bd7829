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
#include "tests/support/disk_builder.h"
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

// Archives written byte by byte, so that a name holds exactly the bytes a
// test gives it and the zip's UTF-8 flag is set or not as asked.
uint32_t crc32_of(const std::string &bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void put_le(std::string &out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
}

struct Entry {
    std::string name, data;
    bool utf8_flag = false;
};

// A stored zip, as MS-DOS made it (names in CP437 unless flagged).
std::string stored_zip(const std::vector<Entry> &entries) {
    std::string local, central;
    for (const Entry &e : entries) {
        std::string common;
        put_le(common, 20, 2);                          // version needed
        put_le(common, e.utf8_flag ? 0x800 : 0, 2);     // flags
        put_le(common, 0, 2);                           // stored
        put_le(common, 0, 2);                           // time
        put_le(common, 0x21, 2);                        // 1980-01-01
        put_le(common, crc32_of(e.data), 4);
        put_le(common, static_cast<uint32_t>(e.data.size()), 4);
        put_le(common, static_cast<uint32_t>(e.data.size()), 4);
        put_le(common, static_cast<uint32_t>(e.name.size()), 2);
        put_le(common, 0, 2);                           // no extra field
        std::string c;
        put_le(c, 0x02014b50, 4);
        put_le(c, 20, 2);                               // made by MS-DOS
        c += common;
        put_le(c, 0, 2 + 2 + 2);                        // comment, disk, internal attributes
        put_le(c, 0, 4);                                // external attributes
        put_le(c, static_cast<uint32_t>(local.size()), 4);
        central += c + e.name;
        std::string l;
        put_le(l, 0x04034b50, 4);
        local += l + common + e.name + e.data;
    }
    std::string end;
    put_le(end, 0x06054b50, 4);
    put_le(end, 0, 4);
    put_le(end, static_cast<uint32_t>(entries.size()), 2);
    put_le(end, static_cast<uint32_t>(entries.size()), 2);
    put_le(end, static_cast<uint32_t>(central.size()), 4);
    put_le(end, static_cast<uint32_t>(local.size()), 4);
    put_le(end, 0, 2);
    return local + central + end;
}

std::string tar_block(const std::string &name, size_t size, char type) {
    std::string h(512, '\0');
    h.replace(0, std::min<size_t>(name.size(), 100), name.substr(0, 100));
    auto octal = [&h](size_t at, size_t width, uint64_t v) {
        char text[24];
        std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(v));
        h.replace(at, width - 1, text);
    };
    octal(100, 8, 0644);
    octal(108, 8, 0);
    octal(116, 8, 0);
    octal(124, 12, size);
    octal(136, 12, 946684800);
    h[156] = type;
    h.replace(257, 8, std::string("ustar\0" "00", 8));
    h.replace(148, 8, "        ");
    unsigned sum = 0;
    for (unsigned char c : h) sum += c;
    octal(148, 7, sum);
    return h;
}

std::string padded(std::string data) { return data + std::string((512 - data.size() % 512) % 512, '\0'); }

// A tar whose names are the bytes given, or UTF-8 in a pax record before
// each member when `pax`.
std::string tar_of(const std::vector<Entry> &entries, bool pax) {
    std::string tar;
    for (const Entry &e : entries) {
        if (pax) {
            std::string record = " path=" + e.name + "\n";
            std::string n = std::to_string(record.size());
            n = std::to_string(record.size() + n.size());
            record = n + record;
            tar += tar_block("PaxHeader", record.size(), 'x') + padded(record);
        }
        tar += tar_block(pax ? "pax-name" : e.name, e.data.size(), '0') + padded(e.data);
    }
    return tar + std::string(1024, '\0');
}

// Runs mwconv under an environment of its own (`environment` is put before
// the command as the shell reads it).
RunResult run_in(const ScratchDir &dir, const std::string &environment, const std::string &args) {
    const std::string out = dir.file("run.out"), err = dir.file("run.err");
    const std::string cmd = "env -u LANG -u LANGUAGE -u LC_ALL -u LC_CTYPE " + environment + " '" + MWCONV_BINARY + "' " + args +
                            " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(cmd.c_str());
    return RunResult{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
}

TEST(CliContainers, AccentedNamesInZipsAndTarsInEveryLocale) {
    if (!kArchives) GTEST_SKIP() << "built without libarchive";
    ScratchDir dir;
    const std::string doc = memo();
    const std::string expected = run_mwconv(dir, "'" + dir.write("bare", doc) + "'").out;
    ASSERT_FALSE(expected.empty());
    const std::string nfc = "M\xc3\xa9mo", nfd = "Me\xcc\x81mo";
    struct Case {
        std::string file, archive, name;  // the name the output takes
        bool note;                        // whether mwconv says how it read a name that is not UTF-8
    };
    const std::vector<Case> cases = {
        {"nfc.zip", stored_zip({{nfc, doc, true}, {"plain", doc}}), nfc, false},
        {"nfd.zip", stored_zip({{nfd, doc, true}, {"plain", doc}}), nfc, false},
        // macOS's Archive Utility writes UTF-8 without the flag: kept as it
        // stands, where flagged and pax names come composed.
        {"unflagged.zip", stored_zip({{nfd, doc}, {"plain", doc}}), nfd, false},
        {"cp437.zip", stored_zip({{"M\x82mo", doc}, {"plain", doc}}), nfc, true},
        // A zip says nothing of Mac OS Roman: its names are read as CP437.
        {"macroman.zip", stored_zip({{"M\x8emo", doc}, {"plain", doc}}), "M\xc3\x84mo", true},
        {"nfc.tar", tar_of({{nfc, doc}, {"plain", doc}}, true), nfc, false},
        {"nfd.tar", tar_of({{nfd, doc}, {"plain", doc}}, true), nfc, false},
        {"ustar.tar", tar_of({{nfc, doc}, {"plain", doc}}, false), nfc, false},
        {"macroman.tar", tar_of({{"M\x8emo", doc}, {"plain", doc}}, false), nfc, true},
        {"cp437.tar", tar_of({{"M\x82mo", doc}, {"plain", doc}}, false), "M\xc3\x87mo", true},
    };
    for (const char *environment : {"", "LC_ALL=C.UTF-8", "LANG=C.UTF-8"}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.file + " " + environment);
            const std::string input = dir.write(c.file, c.archive);
            const std::string out = dir.file("out" + std::string(environment).substr(0, 2));
            const RunResult r = run_in(dir, environment, "-o '" + out + "/' '" + input + "'");
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(read_file(out + "/" + c.file + "/" + c.name + ".txt"), expected) << r.err;
            EXPECT_EQ(read_file(out + "/" + c.file + "/plain.txt"), expected);
            EXPECT_EQ(r.err.find("not UTF-8") != std::string::npos, c.note) << r.err;
            const RunResult id = run_in(dir, environment, "--identify --json '" + input + "'");
            const std::vector<json> members = lines_of(id.out);
            ASSERT_EQ(members.size(), 2u) << id.out;
            EXPECT_EQ(members[0]["member"], c.name);
            EXPECT_EQ(members[0]["macwrite"], true);
        }
    }
    // A file whose name is no name at all is told, never passed over.
    const std::string nameless = dir.write("nameless.tar", tar_of({{".", doc}, {"plain", doc}}, false));
    const RunResult r = run_mwconv(dir, "-o '" + dir.file("nameless") + "/' '" + nameless + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("nameless.tar/(entry 1): its name cannot be read"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir.file("nameless/nameless.tar/plain.txt")), expected);
}

// A floppy of twelve documents whose catalog's last leaf links back to its
// first, and the same floppy in a zip beside a document: the damage is told
// with status 4, after every document the walk reached; an inventory lists
// the floppy itself, with its SHA-256, before the files in it.
TEST(CliContainers, DamagedVolumesAndContainersInsideContainers) {
    if (!have("hformat") || !have("hcopy")) GTEST_SKIP() << "hfsutils is not installed";
    ScratchDir dir;
    const std::string doc = memo();
    const std::string expected = run_mwconv(dir, "'" + dir.write("bare", doc) + "'").out;
    sh(dir, "dd if=/dev/zero of=disk.img bs=1024 count=1440 2>/dev/null && hformat -l Disk disk.img && hmount disk.img && "
            "for i in 1 2 3 4 5 6 7 8 9 10 11 12; do hcopy -r bare \":Memo $i\" && hattrib -t WORD -c MACA \":Memo $i\"; done && "
            "humount");
    std::string image = read_file(dir.file("disk.img"));
    const size_t block_size = get32(image, 1024 + 20);
    const size_t catalog = get16(image, 1024 + 28) * 512 + get16(image, 1024 + 150) * block_size;
    const uint32_t first_leaf = get32(image, catalog + 14 + 10), last_leaf = get32(image, catalog + 14 + 14);
    ASSERT_NE(first_leaf, last_leaf);
    put32(image, catalog + last_leaf * 512, first_leaf);
    const std::string looped = dir.write("looped.img", image);

    const RunResult r = run_mwconv(dir, "-o '" + dir.file("out") + "/' '" + looped + "'");
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("looped.img: damaged HFS volume: the catalog has leaf nodes that form a loop"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("12 converted, 1 damaged"), std::string::npos) << r.err;
    for (int i = 1; i <= 12; ++i) EXPECT_EQ(read_file(dir.file("out/looped.img/Memo " + std::to_string(i) + ".txt")), expected) << i;

    if (!kArchives) GTEST_SKIP() << "built without libarchive: the floppy in a zip is not checked";
    const std::string zip = dir.write("floppy.zip", stored_zip({{"Disk/looped.img", image}, {"Letter", doc}}));
    const RunResult id = run_mwconv(dir, "--identify --json '" + zip + "'");
    EXPECT_EQ(id.status, 4) << id.err;
    const std::vector<json> lines = lines_of(id.out);
    ASSERT_EQ(lines.size(), 1u + 12u + 1u + 1u) << id.out;
    EXPECT_EQ(lines[0]["member"], "Disk/looped.img");
    EXPECT_EQ(lines[0]["opens_as"], "HFS volume");
    EXPECT_EQ(lines[0]["sha256"], sha256(dir, "cat looped.img"));
    EXPECT_EQ(lines[1]["member"], "Disk/looped.img/Memo 1");
    EXPECT_EQ(lines[1]["macwrite"], true);
    EXPECT_NE(lines[13]["damaged"].get<std::string>().find("loop"), std::string::npos) << lines[13];
    EXPECT_EQ(lines[14]["member"], "Letter");
    const RunResult text = run_mwconv(dir, "--identify '" + zip + "'");
    EXPECT_NE(text.out.find("floppy.zip: Disk/looped.img: no Finder type or creator"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("; opened as HFS volume, its members below"), std::string::npos) << text.out;
    const RunResult converted = run_mwconv(dir, "-o '" + dir.file("zipped") + "/' '" + zip + "'");
    EXPECT_EQ(converted.status, 4) << converted.err;
    EXPECT_EQ(read_file(dir.file("zipped/floppy.zip/Disk/looped.img/Memo 12.txt")), expected);
    EXPECT_EQ(read_file(dir.file("zipped/floppy.zip/Letter.txt")), expected);
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
