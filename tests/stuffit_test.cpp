// StuffIt archives: the real archives against unar, an independent reader;
// archives of both generations built from the layouts, with method 2 made by
// Debian's compress; refused methods, damage and self-extracting archives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "containers/formats.h"
#include "containers/source.h"
#include "containers/stuffit.h"
#include "tests/support/corpus.h"
#include "tests/support/example_document.h"
#include "tests/support/run.h"
#include "tests/support/sit_builder.h"

namespace {

using namespace testing_support;
using namespace containers;
namespace fs = std::filesystem;

bool have(const char *tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

std::string all_of(const Source &source) {
    std::string out(static_cast<size_t>(source.size()), '\0');
    size_t done = 0;
    while (done < out.size()) {
        const size_t got = source.read_at(done, out.data() + done, out.size() - done);
        if (got == 0) break;
        done += got;
    }
    out.resize(done);
    return out;
}

std::shared_ptr<const Source> source_of(const std::string &bytes) {
    return containers::bytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::string joined(const Member &m) {
    std::string path;
    for (const auto &part : m.path) path += (path.empty() ? "" : "/") + part;
    return path;
}

struct Listed {
    Member member;
    std::string data, resource, data_error;
};

// Every member with both forks read (a fork that fails gives its message).
std::vector<Listed> list(const std::string &archive) {
    auto container = open_stuffit(source_of(archive));
    std::vector<Listed> out;
    Member m;
    while (container->next(m)) {
        Listed l{m, "", "", ""};
        try {
            l.data = all_of(*container->data());
        } catch (const Error &e) {
            EXPECT_EQ(e.grade, Grade::kMember);
            l.data_error = e.what();
        }
        try {
            l.resource = all_of(*container->resource());
        } catch (const Error &) {
        }
        out.push_back(l);
    }
    return out;
}

// Text that compresses, then noise that makes compress clear its table.
std::string mixed_bytes(size_t text_bytes, size_t noise_bytes) {
    std::string s;
    for (unsigned i = 0; s.size() < text_bytes; ++i) s += "Memo " + std::to_string(i % 97) + " to Ann, \x90 ";
    uint32_t x = 12345;
    for (size_t i = 0; i < noise_bytes; ++i) {
        x = x * 1103515245u + 12345u;
        s += static_cast<char>(x >> 24);
    }
    s += std::string(700, 'z') + s.substr(0, text_bytes);
    return s;
}

TEST(StuffItCorpus, EveryForkEqualsWhatUnarExtracts) {
    const fs::path dir = corpus_dir() / "containers";
    if (!fs::exists(dir / "ResEdit-2.1-1.sit")) GTEST_SKIP() << "no corpus at " << dir;
    if (!have("unar")) GTEST_SKIP() << "unar is not installed";
    int forks = 0;
    for (const char *name : {"Disk_Copy_(v4.2).sit", "ResEdit-2.1-1.sit"}) {
        ScratchDir out;
        const std::string cmd = "unar -q -o '" + out.path() + "' '" + (dir / name).string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << name;
        for (const auto &l : list(read_file((dir / name).string()))) {
            SCOPED_TRACE(joined(l.member));
            EXPECT_EQ(l.member.problem, "");
            EXPECT_EQ(l.data_error, "");
            // unar turns a name's carriage return into an underscore-free
            // escape on some versions; compare forks of names it kept.
            const fs::path file = fs::path(out.path()) / joined(l.member);
            if (l.member.data_length > 0) {
                EXPECT_EQ(l.data, read_file(file.string()));
                ++forks;
            }
            if (l.member.resource_length > 0 && fs::exists(file.string() + ".rsrc")) {
                // unar writes the resource fork as an AppleDouble file: the fork ends it.
                const std::string apple_double = read_file(file.string() + ".rsrc");
                ASSERT_GE(apple_double.size(), l.resource.size());
                EXPECT_EQ(l.resource.size(), l.member.resource_length);
                EXPECT_EQ(apple_double.substr(apple_double.size() - l.resource.size()), l.resource);
                ++forks;
            }
        }
    }
    EXPECT_GE(forks, 4);  // methods 13 and 15, data and resource forks
}

// What mwconv --identify --json reports: the SHA-256 of each data fork that
// unar extracts.
TEST(StuffItCorpus, IdentifyHashesTheForksUnarExtracts) {
    const fs::path dir = corpus_dir() / "containers";
    if (!fs::exists(dir / "ResEdit-2.1-1.sit")) GTEST_SKIP() << "no corpus at " << dir;
    if (!have("unar") || !have("sha256sum")) GTEST_SKIP() << "unar or sha256sum is not installed";
    int hashed = 0;
    for (const char *name : {"Disk_Copy_(v4.2).sit", "ResEdit-2.1-1.sit"}) {
        ScratchDir out;
        const std::string archive = (dir / name).string();
        ASSERT_EQ(std::system(("unar -q -o '" + out.path() + "/x' '" + archive + "' >/dev/null 2>&1").c_str()), 0);
        const RunResult identify = run_mwconv(out, "--identify --json '" + archive + "'");
        ASSERT_EQ(identify.status, 0) << identify.err;
        for (const auto &file : fs::recursive_directory_iterator(out.path() + "/x")) {
            if (!file.is_regular_file() || file.path().extension() == ".rsrc") continue;  // AppleDouble
            const std::string sum = out.file("sum");
            std::system(("sha256sum '" + file.path().string() + "' > '" + sum + "'").c_str());
            const std::string hash = read_file(sum).substr(0, 64);
            EXPECT_NE(identify.out.find("\"sha256\":\"" + hash + "\""), std::string::npos) << file.path();
            ++hashed;
        }
    }
    EXPECT_GE(hashed, 1);
}

SitFolder sample(const std::string &scratch) {
    SitFolder root;
    SitFile memo{"Memo to Ann", "WORD", "MACA", 0x0100, 2882000000u, 2882003600u, sit_lzw(mixed_bytes(90000, 60000), scratch),
                 sit_rle90(std::string(600, 'r') + "resource"), false};
    SitFile plain{"Plain \xa5 notes", "TEXT", "ttxt", 0, 2800000000u, 2800000001u, sit_stored("stored bytes\r"), {}, false};
    SitFile runs{"Runs", "TEXT", "ttxt", 0, 0, 0, sit_rle90(std::string(1000, '\x90') + "abc" + std::string(3, 'c')), {}, false};
    SitFolder letters{"Letters", {memo}, {SitFolder{"Old/Drafts", {runs}, {}}}};
    root.folders.push_back(letters);
    root.files.push_back(plain);
    return root;
}

class StuffItBuilt : public ::testing::TestWithParam<bool> {
protected:
    std::string build(const SitFolder &root) const { return GetParam() ? sit5_archive(root) : classic_archive(root); }
};

TEST_P(StuffItBuilt, MethodsZeroToTwoWithFoldersAndFinderInfo) {
    if (!have("compress")) GTEST_SKIP() << "compress (ncompress) is not installed";
    ScratchDir scratch;
    const SitFolder root = sample(scratch.path());
    const std::string archive = build(root);
    const auto listed = list(archive);
    ASSERT_EQ(listed.size(), 3u);
    const SitFile &memo = root.folders[0].files[0];
    EXPECT_EQ(joined(listed[0].member), "Letters/Old/Drafts/Runs");
    EXPECT_EQ(listed[0].data, root.folders[0].folders[0].files[0].data.plain);
    EXPECT_EQ(joined(listed[1].member), "Letters/Memo to Ann");
    EXPECT_EQ(listed[1].member.type, "WORD");
    EXPECT_EQ(listed[1].member.creator, "MACA");
    EXPECT_EQ(listed[1].member.finder_flags, 0x0100);
    EXPECT_EQ(listed[1].member.modified, int64_t{2882003600} - 2082844800);
    EXPECT_EQ(listed[1].member.data_length, memo.data.plain.size());
    EXPECT_EQ(listed[1].data, memo.data.plain);
    EXPECT_EQ(listed[1].resource, memo.resource.plain);
    EXPECT_EQ(joined(listed[2].member), "Plain \xe2\x80\xa2 notes");  // Mac OS Roman 0xA5 is a bullet
    EXPECT_EQ(listed[2].data, "stored bytes\r");

    // Reads in any order give the same bytes (the decoder starts again).
    auto container = open_stuffit(source_of(archive));
    Member m;
    container->next(m);
    container->next(m);
    auto data = container->data();
    std::string backwards(memo.data.plain.size(), '\0');
    for (size_t at = backwards.size(); at > 0;) {
        const size_t from = at > 40000 ? at - 40000 : 0;
        ASSERT_EQ(data->read_at(from, backwards.data() + from, at - from), at - from);
        at = from;
    }
    EXPECT_EQ(backwards, memo.data.plain);

    // The builder's archives are StuffIt archives to an independent reader too.
    if (!have("unar")) return;
    ScratchDir out;
    const std::string path = scratch.write("built.sit", archive);
    ASSERT_EQ(std::system(("unar -q -o '" + out.path() + "' '" + path + "' >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(read_file(out.path() + "/built/Letters/Memo to Ann"), memo.data.plain);
}

TEST_P(StuffItBuilt, RefusedMethodsAndEncryptionLoseTheirEntryAlone) {
    SitFolder root;
    for (int method : {3, 5, 8, 14}) root.files.push_back({"m" + std::to_string(method), "TEXT", "ttxt", 0, 0, 0, {method, "xx", "plain"}, {}, false});
    SitFile secret{"secret", "TEXT", "ttxt", 0, 0, 0, sit_stored("hidden"), {}, true};
    root.files.push_back(secret);
    root.files.push_back({"last", "TEXT", "ttxt", 0, 0, 0, sit_stored("still here"), {}, false});
    const auto listed = list(build(root));
    ASSERT_EQ(listed.size(), 6u);
    const char *names[] = {"Huffman", "LZAH", "Miller-Wegman", "installer"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(listed[i].member.problem.find("method " + std::to_string(root.files[i].data.method) + " (" + names[i] + ")"),
                  std::string::npos)
            << listed[i].member.problem;
        EXPECT_EQ(listed[i].data_error, listed[i].member.problem);
    }
    EXPECT_NE(listed[4].member.problem.find("encrypted"), std::string::npos);
    EXPECT_EQ(listed[5].member.problem, "");
    EXPECT_EQ(listed[5].data, "still here");
}

TEST_P(StuffItBuilt, DamageFailsItsForkOrEndsTheArchive) {
    SitFolder root;
    root.files.push_back({"first", "TEXT", "ttxt", 0, 0, 0, sit_rle90("first fork, run: " + std::string(40, '!')), {}, false});
    root.files.push_back({"second", "TEXT", "ttxt", 0, 0, 0, sit_stored("second fork"), {}, false});
    const std::string archive = build(root);

    // A flipped byte in a fork: a CRC error for that member, the next reads.
    std::string flipped = archive;
    const size_t at = flipped.find("first fork");
    flipped[at] ^= 0x20;
    auto listed = list(flipped);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_NE(listed[0].data_error.find("CRC"), std::string::npos);
    EXPECT_EQ(listed[1].data, "second fork");

    // Cut short: the last member's fork is missing, the first still reads.
    listed = list(archive.substr(0, archive.size() - 4));
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].data_error, "");
    EXPECT_NE(listed[1].member.problem.find("past the end"), std::string::npos);

    // A damaged entry header ends the archive after the members before it.
    std::string bad = archive;
    bad[archive.find("second") - (GetParam() ? 48 : 3) + 9] ^= 0x01;
    auto container = open_stuffit(source_of(bad));
    Member m;
    ASSERT_TRUE(container->next(m));
    EXPECT_THROW(
        {
            try {
                container->next(m);
            } catch (const Error &e) {
                EXPECT_EQ(e.grade, Grade::kFatal);
                throw;
            }
        },
        Error);
}

TEST_P(StuffItBuilt, FoundAtTheStartOrInsideASelfExtractingProgram) {
    SitFolder root;
    root.files.push_back({"doc", "WORD", "MACA", 0, 0, 0, sit_stored("inside"), {}, false});
    const std::string archive = build(root);
    const std::string program = std::string("MZ") + std::string(70000, '\x4e') + archive;
    for (const std::string *bytes : {&archive, &program}) {
        const auto source = source_of(*bytes);
        std::vector<uint8_t> head(std::min<size_t>(kHead, bytes->size()));
        source->read_at(0, head.data(), head.size());
        EXPECT_EQ(stuffit_format().bid(*source, head.data(), head.size()), bytes == &archive ? 100 : 20);
        auto container = stuffit_format().open(source);
        Member m;
        ASSERT_TRUE(container->next(m));
        EXPECT_EQ(all_of(*container->data()), "inside");
    }
    const auto text = source_of(std::string(5000, 'S') + "SIT!");
    EXPECT_EQ(stuffit_format().bid(*text, reinterpret_cast<const uint8_t *>("SSSS"), 4), 0);
}

INSTANTIATE_TEST_SUITE_P(Generations, StuffItBuilt, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "StuffIt5" : "Classic"; });

TEST(StuffItLinks, AFolderLinkedToItselfEndsWithAnError) {
    SitFolder root;
    root.folders.push_back({"loop", {{"a", "TEXT", "ttxt", 0, 0, 0, sit_stored("a"), {}, false}}, {}});
    std::string archive = sit5_archive(root);
    // The folder's first child becomes the folder itself.
    const size_t folder = 114;
    for (int i = 0; i < 4; ++i) archive[folder + 34 + i] = archive[88 + i];
    std::string header = archive.substr(folder, 48 + 4);
    header[32] = header[33] = 0;
    const uint16_t crc = sit_crc16(header);
    archive[folder + 32] = static_cast<char>(crc >> 8);
    archive[folder + 33] = static_cast<char>(crc);
    auto container = open_stuffit(source_of(archive));
    Member m;
    EXPECT_THROW(while (container->next(m)) {}, Error);
}

// hfsutils, with its own HOME: the archive into an HFS floppy, then out as
// BinHex and MacBinary.
bool wrap_with_hfsutils(const ScratchDir &dir, const std::string &archive) {
    const std::string env = "cd '" + dir.path() + "' && HOME='" + dir.path() + "' ";
    const std::string cmd = env + "dd if=/dev/zero of=disk bs=1k count=1440 2>/dev/null && " + env +
                            "hformat -l Wrap disk >/dev/null && " + env + "hcopy -r '" + archive + "' :Archive.sit && " +
                            env + "hattrib -t SIT! -c SIT! :Archive.sit && " + env + "hcopy -b :Archive.sit wrapped.hqx && " +
                            env + "hcopy -m :Archive.sit wrapped.bin && " + env + "humount >/dev/null";
    return std::system(cmd.c_str()) == 0;
}

TEST(StuffItThroughMwconv, WrappedArchivesConvertTheDocumentAsBare) {
    if (!have("compress") || !have("hformat")) GTEST_SKIP() << "compress (ncompress) or hfsutils is not installed";
    ScratchDir dir;
    const std::string document = example_document();
    const std::string bare = dir.write("Memo", document);
    ASSERT_EQ(run_mwconv(dir, "-o '" + dir.file("bare.txt") + "' '" + bare + "'").status, 0);
    const std::string expected = read_file(dir.file("bare.txt"));
    ASSERT_FALSE(expected.empty());
    for (bool sit5 : {false, true}) {
        SitFolder root;
        root.folders.push_back({"Letters", {{"Memo", "WORD", "MACA", 0, 2882000000u, 2882003600u,
                                              sit_lzw(document, dir.path()), {}, false}}, {}});
        const std::string archive = dir.write("archive.sit", sit5 ? sit5_archive(root) : classic_archive(root));
        ASSERT_TRUE(wrap_with_hfsutils(dir, archive));
        for (const char *wrapped : {"wrapped.hqx", "wrapped.bin"}) {
            SCOPED_TRACE(std::string(wrapped) + (sit5 ? " (StuffIt 5)" : " (classic)"));
            const std::string out = dir.file(std::string("out-") + (sit5 ? "5-" : "1-") + wrapped);
            const RunResult r = run_mwconv(dir, "-o '" + out + "/' '" + dir.file(wrapped) + "'");
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(read_file(out + "/" + wrapped + "/Letters/Memo.txt"), expected);
        }
    }
}

TEST(StuffItThroughMwconv, ARefusedMethodLosesItsEntryAlone) {
    ScratchDir dir;
    const std::string document = example_document();
    ASSERT_EQ(run_mwconv(dir, "-o '" + dir.file("bare.txt") + "' '" + dir.write("Memo", document) + "'").status, 0);
    SitFolder root;
    root.files.push_back({"Packed", "WORD", "MACA", 0, 0, 0, {8, "xxxx", std::string(5000, 'x')}, {}, false});
    root.files.push_back({"Memo", "WORD", "MACA", 0, 0, 0, sit_rle90(document), {}, false});
    const std::string archive = dir.write("mixed.sit", classic_archive(root));
    const RunResult r = run_mwconv(dir, "-o '" + dir.file("out") + "/' '" + archive + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("mixed.sit/Packed: compressed with StuffIt method 8 (Miller-Wegman)"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir.file("out/mixed.sit/Memo.txt")), read_file(dir.file("bare.txt")));
}

}  // namespace
