// Compact Pro archives: the real archive of the corpus against its maker's
// MD5 list, archives of the test builder against unar (an independent
// reader), damaged and hostile archives, and MacWrite documents in Compact
// Pro inside BinHex and MacBinary converted by mwconv.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "containers/formats.h"
#include "containers/source.h"
#include "host/macbinary.h"
#include "tests/support/binhex_builder.h"
#include "tests/support/corpus.h"
#include "tests/support/cpt_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"
#include "tests/support/tools.h"

namespace {

using namespace testing_support;
using namespace containers;
namespace fs = std::filesystem;

struct Listed {
    Member member;
    std::string data, resource, error;
};

std::string all_of(const Source &source) {
    std::string out;
    char buffer[65536];
    for (size_t got; (got = source.read_at(out.size(), buffer, sizeof buffer)) > 0;) out.append(buffer, got);
    return out;
}

std::map<std::string, Listed> list(std::shared_ptr<const Source> source) {
    auto archive = compact_pro_format().open(source);
    std::map<std::string, Listed> out;
    Member m;
    while (archive->next(m)) {
        std::string path;
        for (const auto &p : m.path) path += (path.empty() ? "" : "/") + p;
        Listed l{m, "", "", ""};
        try {
            l.resource = all_of(*archive->resource());
            l.data = all_of(*archive->data());
        } catch (const Error &e) {
            EXPECT_EQ(e.grade, Grade::kMember);
            l.error = e.what();
        }
        out[path] = l;
    }
    return out;
}

std::map<std::string, Listed> list(const std::string &bytes) {
    return list(containers::bytes(std::vector<uint8_t>(bytes.begin(), bytes.end())));
}

std::string memo() { return Mw5Builder().text(Area::Main, "Compact memo\r").build(); }

constexpr uint32_t kModified = 2840140800u;  // 1994-01-01 00:00:00

// Folders, both forks, runs and escapes, LZH over several blocks.
std::vector<CptEntry> sample() {
    std::string escapes;
    std::mt19937 random(7);
    for (int i = 0; i < 150000; ++i) {
        const unsigned r = random() % 10;
        escapes += r < 3 ? '\x81' : r < 5 ? '\x82' : r < 7 ? 'a' : static_cast<char>(random());
    }
    return {cpt_folder("Letters", {cpt_file("Memo", "WORDMACA", memo(), "rsrc \x81\x82 fork", kModified, true),
                                   cpt_file("Plain", "TEXTttxt", std::string(1000, 'z') + "\x81\x82\x81\x81\x81 end",
                                            std::string(300, '\x81')),
                                   cpt_folder("Inner", {cpt_file("Escapes", "BINAXXXX", escapes, "", 0, true)})}),
            cpt_file("Empty", "TEXTttxt", "", "")};
}

TEST(CompactPro, CorpusArchiveEqualsItsMakersList) {
    const fs::path archive = corpus_dir() / "containers2" / "peeler__testfile.compact_pro_133.cpt";
    const fs::path sums = corpus_dir() / "containers2" / "peeler__compact_pro.md5sums.txt";
    if (!fs::exists(archive)) GTEST_SKIP() << "no corpus at " << corpus_dir() << ": the real archive is not checked";
    std::string error;
    const auto members = list(open_file_source(archive.string(), error));
    std::ifstream in(sums);
    ScratchDir dir;
    size_t checked = 0;
    for (std::string md5, path; in >> md5 >> path; ++checked) {
        const auto m = members.find(path.substr(2));  // "./"
        ASSERT_NE(m, members.end()) << path;
        EXPECT_EQ(m->second.error, "") << path;
        dir.write("member", m->second.data);
        EXPECT_EQ(run_command("md5sum < '" + dir.file("member") + "'").substr(0, 32), md5) << path;
    }
    EXPECT_EQ(checked, 27u);
    EXPECT_EQ(members.size(), checked);
}

TEST(CompactPro, BuiltArchivesAsUnarReadsThem) {
    REQUIRE_PROGRAM("unar");
    ScratchDir dir;
    const std::string archive = compact_pro(sample());
    dir.write("a.cpt", archive);
    bool ok = false;
    const std::string said = run_command("cd '" + dir.path() + "' && unar -q -o out a.cpt 2>&1", &ok);
    ASSERT_TRUE(ok) << "unar could not read the built archive: " << said;
    const std::shared_ptr<const Source> source = containers::bytes(std::vector<uint8_t>(archive.begin(), archive.end()));
    EXPECT_EQ(recognise(*source), &compact_pro_format());
    const auto members = list(source);
    ASSERT_EQ(members.size(), 4u);
    for (const auto &[path, m] : members) {
        EXPECT_EQ(m.error, "") << path;
        EXPECT_EQ(m.data, read_file(dir.file("out/a/" + path))) << path;
        // unar writes a resource fork as an AppleDouble file: the fork ends it.
        const std::string double_file = read_file(dir.file("out/a/" + path + ".rsrc"));
        if (!m.resource.empty() && double_file.size() >= m.resource.size()) {
            EXPECT_EQ(m.resource, double_file.substr(double_file.size() - m.resource.size())) << path;
        } else {
            EXPECT_EQ(m.resource, "") << path;
        }
    }
    const Member &memo_member = members.at("Letters/Memo").member;
    EXPECT_EQ(memo_member.type + memo_member.creator, "WORDMACA");
    EXPECT_EQ(memo_member.modified, int64_t{kModified} - 2082844800);
    EXPECT_EQ(members.at("Letters/Memo").data, memo());
}

TEST(CompactPro, DamagedAndHostileArchives) {
    const std::string archive = compact_pro(sample());
    const size_t directory = get32(archive, 4);

    std::string bad_directory = archive;  // a name changed: the directory's CRC fails
    bad_directory[directory + 8] ^= 1;
    EXPECT_THROW(compact_pro_format().open(containers::bytes({bad_directory.begin(), bad_directory.end()})), Error);

    // A byte of a fork changed: that member alone is lost, with the CRC named.
    std::string bad_fork = archive;
    bad_fork[8 + 40] ^= 0x10;
    const auto damaged = list(bad_fork);
    EXPECT_NE(damaged.at("Letters/Memo").error, "");
    EXPECT_EQ(damaged.at("Letters/Plain").error, "");

    // The directory cut short ends the archive with an error.
    EXPECT_THROW(list(archive.substr(0, directory + 20)), Error);

    // A fork that claims far more than it holds stops at what it holds; a
    // fork placed past the end is a problem of its member.
    const CptEntry bomb = cpt_file("Bomb", "TEXTttxt", std::string(100, 'b'), "");
    auto rewritten = [&](size_t field, uint32_t value) {
        std::string a = compact_pro({bomb});
        const size_t top = get32(a, 4);
        put32(a, top + 7 + 1 + 4 + field, value);
        put32(a, top, cpt_crc(0xFFFFFFFFu, a.substr(top + 4)));
        return list(a).at("Bomb");
    };
    EXPECT_NE(rewritten(33, 0x7FFFFFFF).error.find("ends before"), std::string::npos);
    EXPECT_NE(rewritten(1, 0x7FFFFFFF).member.problem.find("past the end"), std::string::npos);

    // A folder that claims more entries than the archive has.
    std::string loop = compact_pro({cpt_folder("F", {bomb})});
    const size_t at = get32(loop, 4);
    put16(loop, at + 7 + 2, 500);
    put32(loop, at, cpt_crc(0xFFFFFFFFu, loop.substr(at + 4)));
    EXPECT_THROW(list(loop), Error);
}

TEST(CompactPro, DocumentsInsideBinHexAndMacBinaryConvert) {
    ScratchDir dir;
    const std::string archive = compact_pro(sample());
    const std::string bare = run_mwconv(dir, "'" + dir.write("bare", memo()) + "'").out;
    auto header = kavrel::macbinary::make_header("Docs.cpt", "PACT", "CPCT", static_cast<uint32_t>(archive.size()), 0);
    std::string mb(header.begin(), header.end());
    mb += archive;
    mb.resize(128 + (archive.size() + 127) / 128 * 128, '\0');
    dir.write("Docs.cpt.bin", mb);
    dir.write("Docs.cpt.hqx", binhex("Docs.cpt", "PACTCPCT", archive));
    for (const char *name : {"Docs.cpt.bin", "Docs.cpt.hqx"}) {
        const RunResult r = run_mwconv(dir, std::string("-o '") + dir.file("out") + "/' '" + dir.file(name) + "'");
        EXPECT_EQ(r.status, 0) << name << r.err;
        const std::string output = dir.file(std::string("out/") + name + "/Letters/Memo.txt");
        EXPECT_EQ(read_file(output), bare) << name;
        const auto t = fs::last_write_time(output);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::file_clock::to_sys(t).time_since_epoch()).count();
        EXPECT_EQ(seconds, int64_t{kModified} - 2082844800) << name;
    }
}

}  // namespace
