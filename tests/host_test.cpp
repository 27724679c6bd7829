// The host library: records, tags written on change only, tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/stat.h>
#endif

#include "host/kavrel.h"
#include "host/stream_writer.h"
#include "tests/support/bytes_io.h"

namespace {

using testing_support::contents;

struct Host : ::testing::Test {
    CharAttributes ca;
    ParaFormat pf;
    TabColumns tc;
    std::FILE *in = kavrel::open_scratch_stream();
    std::FILE *out = kavrel::open_scratch_stream();
    void SetUp() override { ASSERT_EQ(init_format(in, &ca, &pf, &tc), 0); }
    void TearDown() override {
        std::fclose(in);
        std::fclose(out);
    }
    std::string written() { return contents(out); }
};

TEST_F(Host, InitFormatGivesTheDocumentedStartingValuesAndRewinds) {
    std::fputs("abc", in);
    ASSERT_EQ(init_format(in, &ca, &pf, &tc), 0);
    EXPECT_EQ(std::ftell(in), 0);
    EXPECT_EQ(ca.size, -12);
    EXPECT_EQ(pf.left_column, 0);
    EXPECT_EQ(pf.right_column, 78);
    EXPECT_EQ(pf.interline, 8);
    for (int i = 0; i < 257; ++i) EXPECT_EQ(tc.kind[i], 0);
}

TEST_F(Host, InitFormatRefusesMissingAndUnseekableStreams) {
    EXPECT_EQ(init_format(nullptr, &ca, &pf, &tc), -2);
    std::FILE *pipe = popen("true", "r");
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(init_format(pipe, &ca, &pf, &tc), -2);
    pclose(pipe);
}

TEST_F(Host, StyleTagsAreWrittenOnlyWhenTheStreamSaysOtherwise) {
    debut_gras(&ca, 1, out);
    debut_gras(&ca, 1, out);
    fin_ital(&ca, out);
    debut_ital(&ca, 1, out);
    raz_attributs(&ca, out);
    raz_attributs(&ca, out);
    EXPECT_EQ(written(), "\\#\\/\\$\\0");
    EXPECT_EQ(ca.style, 0);
}

TEST_F(Host, EachStyleOperationHasItsOwnTagPair) {
    debut_soul(&ca, 1, out);
    debut_ind(&ca, 1, out);
    debut_exp(&ca, 1, out);
    debut_relief(&ca, 1, out);
    debut_ombre(&ca, 1, out);
    fin_soul(&ca, out);
    fin_ind(&ca, out);
    fin_exp(&ca, out);
    fin_relief(&ca, out);
    fin_ombre(&ca, out);
    EXPECT_EQ(written(), "\\%\\'\\)\\1\\5\\&\\(\\*\\2\\6");
    EXPECT_EQ(ca.style_extra, 0);
}

TEST_F(Host, PoseAttributsBringsTheStreamToAStyleSetInTheRecord) {
    ca.style = KAVREL_BOLD | KAVREL_STRIKEOUT | KAVREL_CARRIED;
    ca.style_extra = KAVREL_SMALL_CAPS;
    ca.size = 14;
    pose_attributs(&ca, out);
    pose_attributs(&ca, out);
    EXPECT_EQ(written(), std::string("\\L\x0E\\#\\7\\=", 9));
}

TEST_F(Host, SizeAndFontTagsFollowChangesOnly) {
    change_corps(&ca, 12, out);
    change_corps(&ca, 12, out);
    pose_corps(&ca, 0, out);   // not a size: nothing
    EXPECT_EQ(traite_polices_mac(&ca, 0x5C, MAC2INT, out), MAC2INT);
    traite_polices_mac(&ca, 0x5C, MAC2INT, out);
    EXPECT_EQ(traite_polices_mac(&ca, 23, MAC2INT, out), SYMBOL2INT);
    EXPECT_EQ(traite_polices_mac(&ca, 13, MAC2INT, out), DINGBATS2INT);
    EXPECT_EQ(written(), std::string("\\L\x0C\\\x88\x00\\\\\x88\x00\x17\\\x88\x00\x0D", 15));
    EXPECT_EQ(ca.font, 13);
    EXPECT_EQ(ca.size, -12);  // the size field stays the host's pitch
}

TEST_F(Host, LeavingCentredAlignmentPassesThroughCentringOff) {
    change_format(&pf, KAVREL_ALIGN_LEFT, out);       // already left: nothing
    change_format(&pf, KAVREL_ALIGN_CENTRED, out);
    change_format(&pf, KAVREL_ALIGN_CENTRED, out);
    change_format(&pf, KAVREL_ALIGN_JUSTIFIED, out);
    change_format(&pf, KAVREL_ALIGN_RIGHT, out);
    change_format(&pf, KAVREL_ALIGN_LEFT, out);
    EXPECT_EQ(written(), "\\+\\,\\-\\.\\,");
    EXPECT_EQ(pf.centred, 0);
}

TEST_F(Host, FormatsResetInTheRecordAndApplyOnPose) {
    change_interl(&pf, 16, out);
    change_interl(&pf, 16, out);
    raz_formats(&pf, out);
    EXPECT_EQ(written(), std::string("\\M\x10", 3));
    pf.centred = 1;
    pose_formats(&pf, out);
    EXPECT_EQ(written(), std::string("\\M\x10\\+\\M\x08", 8));
}

TEST_F(Host, RulerCleanUpRetiresOnlyStopsStillMarked) {
    tc.kind[4] = 1;
    tc.kind[9] = 4;
    tc.kind[256] = 1;
    armement_regle(&tc);
    EXPECT_EQ(tc.kind[4], 0x81);
    tc.kind[4] &= ~KAVREL_TAB_MARK;
    nettoyage_regle(out, &tc);
    EXPECT_EQ(written(), std::string("\\\x81\x04\x09", 4));
    EXPECT_EQ(tc.kind[4], 1);
    EXPECT_EQ(tc.kind[9], 0);
    EXPECT_EQ(tc.kind[256], 0);
}

TEST_F(Host, BlockTagsCarryTwoZeroParameters) {
    pose_bloc_format(158, out);
    pose_bloc_format(161, out);
    pose_bloc_format(0x30, out);  // a code without two parameters is not a block
    EXPECT_EQ(written(), std::string("\\\x9E\0\0\\\xA1\0\0", 8));
}

TEST_F(Host, PasseInsertConsumesExactlyTheInsertBody) {
    std::fwrite("\0\0\0\3abcZ", 1, 8, in);
    std::rewind(in);
    passe_insert(in);
    EXPECT_EQ(std::fgetc(in), 'Z');
}

TEST(CharacterWriter, BackslashAndOtherSetsBecomeTags) {
    std::FILE *out = kavrel::open_scratch_stream();
    kavrel::stream::put_char(out, 0x00E9);
    kavrel::stream::put_char(out, 0x005C);
    kavrel::stream::put_char(out, 0x0341);
    kavrel::stream::put_char(out, 0x0000);
    EXPECT_EQ(contents(out), std::string("\xE9\\\\\\\x20\x03\x41\x00", 8));
    std::fclose(out);
}

// Scratch files are lent out again once their streams close: a stream must
// never start with what an earlier one left, nor share its file with another
// that is open, also when the one that made it belongs to a thread that ended.
TEST(ScratchStreams, EveryStreamIsEmptyAndItsOwnWhateverItsFileHeldBefore) {
    std::FILE *first = kavrel::open_scratch_stream();
    std::fputs("left behind by an earlier conversion", first);
    std::fclose(first);
    std::vector<std::FILE *> open;
    for (int i = 0; i < 20; ++i) {
        open.push_back(kavrel::open_scratch_stream());
        std::fputs(std::to_string(i).c_str(), open.back());
    }
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(contents(open[i]), std::to_string(i));
        std::fclose(open[i]);
    }
    std::FILE *from_thread = nullptr;
    std::thread([&] {
        from_thread = kavrel::open_scratch_stream();
        std::fputs("made by a thread", from_thread);
        std::fclose(kavrel::open_scratch_stream());
    }).join();
    std::FILE *after = kavrel::open_scratch_stream();
    std::fputs("x", after);
    EXPECT_EQ(contents(from_thread), "made by a thread");
    EXPECT_EQ(contents(after), "x");
    std::fclose(from_thread);
    std::fclose(after);
}

// A stream that outgrows memory moves to a file: every byte stays, and a
// read after a seek or an overwrite sees what was written last.
TEST(ScratchStreams, AStreamThatOutgrowsMemoryKeepsEveryByteThroughSeeksAndOverwrites) {
    std::FILE *f = kavrel::open_scratch_stream();
    std::string expected;
    for (int i = 0; expected.size() < 600 * 1024; ++i) expected += std::to_string(i) + ",";
    std::fwrite(expected.data(), 1, expected.size(), f);
    char got[20];
    for (long at : {5L, 300000L, 70000L, 599000L}) {
        std::fseek(f, at, SEEK_SET);
        ASSERT_EQ(std::fread(got, 1, 8, f), 8u);
        EXPECT_EQ(std::string(got, 8), expected.substr(static_cast<size_t>(at), 8)) << at;
    }
    std::fseek(f, 70001, SEEK_SET);  // inside the block read a moment ago
    std::fputs("XYZ", f);
    expected.replace(70001, 3, "XYZ");
    std::fseek(f, 69995, SEEK_SET);
    ASSERT_EQ(std::fread(got, 1, 20, f), 20u);
    EXPECT_EQ(std::string(got, 20), expected.substr(69995, 20));
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), static_cast<long>(expected.size()));
    EXPECT_EQ(contents(f), expected);
    std::fclose(f);
}

#if defined(__linux__)

// The sizes of the unnamed scratch files that this process holds open.
std::vector<long long> held_scratch_sizes() {
    std::vector<long long> sizes;
    const std::string folder = kavrel::scratch_folder() + "/";
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        const std::string deleted = " (deleted)";
        if (ec || target.rfind(folder, 0) != 0 || target.size() < deleted.size() ||
            target.compare(target.size() - deleted.size(), deleted.size(), deleted) != 0)
            continue;
        struct stat st;
        if (::stat(entry.path().c_str(), &st) == 0) sizes.push_back(st.st_size);
    }
    return sizes;
}

// A thread keeps its scratch files open to lend them again, but nothing a
// stream wrote stays in them once the last stream on the file closed; a
// second stream reads the first's bytes at a position of its own.
TEST(ScratchStreams, ASecondStreamReadsAtItsOwnPlaceAndTheFileIsEmptiedWhenTheLastCloses) {
    kavrel::release_scratch_files();
    const std::string text = std::string(100000, 'a') + "end";
    std::FILE *first = kavrel::open_scratch_stream();
    std::fwrite(text.data(), 1, text.size(), first);
    std::FILE *second = kavrel::reopen_scratch_stream(first);
    ASSERT_NE(second, nullptr);
    std::fseek(first, 5, SEEK_SET);
    EXPECT_EQ(contents(second), text);
    EXPECT_EQ(std::fgetc(first), 'a');
    EXPECT_EQ(std::ftell(first), 6);
    std::fclose(first);
    const auto held = held_scratch_sizes();
    EXPECT_NE(std::find(held.begin(), held.end(), static_cast<long long>(text.size())), held.end());
    EXPECT_EQ(contents(second), text);
    std::fclose(second);
    const auto after = held_scratch_sizes();
    EXPECT_FALSE(after.empty());
    EXPECT_EQ(std::count(after.begin(), after.end(), 0LL), static_cast<long>(after.size()));
    kavrel::release_scratch_files();
    EXPECT_TRUE(held_scratch_sizes().empty());
}

#endif

TEST(CharacterTables, ImportTablesFollowTheMacFonts) {
    EXPECT_EQ(MAC2INT[0x41], 0x0041);
    EXPECT_EQ(MAC2INT[0x5C], 0x005C);
    EXPECT_EQ(MAC2INT[0x8E], 0x00E9);
    EXPECT_EQ(MAC2INT[0xD2], 0x201C);
    EXPECT_EQ(MAC2INT[0xF0], 0xF8FF);
    EXPECT_EQ(MAC2INT[0xCA], 0x00A0);
    EXPECT_EQ(SYMBOL2INT[0x61], 0x03B1);
    EXPECT_EQ(SYMBOL2INT[0x57], 0x03A9);
    EXPECT_EQ(SYMBOL2INT[0x5C], 0x2234);
    EXPECT_EQ(DINGBATS2INT[0x21], 0x2701);
    EXPECT_EQ(DINGBATS2INT[0x48], 0x2605);
}

TEST(CharacterTables, ExportTablesInvertTheImportTables) {
    const uint16_t *const *tables = chargement_dpolice(2);
    auto lookup = [&](uint16_t ch) { return tables[((ch >> 8) - 1) & 0xFF][ch & 0xFF]; };
    for (int b = 0x20; b < 256; ++b) {
        if (b == 0x7F) continue;
        EXPECT_EQ(lookup(MAC2INT[b]), b) << "Mac byte " << b;
    }
    EXPECT_EQ(lookup(0x03B1), 0x0161);   // alpha from the Symbol font
    EXPECT_EQ(lookup(0x2200), 0x0122);   // for all
    EXPECT_EQ(lookup(0x03C0), 0x00B9);   // pi: the standard font has it
    EXPECT_EQ(lookup(0x4E00), 0x003F);   // no Mac font: "?"
    EXPECT_EQ(lookup(0x00A4), 0x003F);
}

}  // namespace
