// The MacWrite II import on documents built from the file layout.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>

#include "catalogue/catalogue.h"
#include "tests/support/bytes_io.h"
#include "tests/support/mw2_builder.h"
#include "tests/support/mw5_builder.h"

namespace {

using namespace testing_support;
using namespace std::string_literals;

std::string imported(const std::string &doc) {
    const Converted c = convert(import_macwrite_ii, doc);
    EXPECT_EQ(c.result, 0);
    return c.output;
}

// A document of one text area in 12-point font 3, left aligned.
Mw2Builder one_area(const std::string &text) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.para_format(0);
    doc.area({text, {{0, static_cast<int32_t>(text.size())}}, {{0, static_cast<int32_t>(text.size())}}});
    return doc;
}

const std::string kPlain12Font3 = "\\L\x0C\\\x88\0\x03"s;

TEST(MacWrite2, TextOfOneAreaWithItsStyle) {
    EXPECT_EQ(imported(one_area("Hello\r").build()), kPlain12Font3 + "Hello\r");
}

TEST(MacWrite2, RecognitionNeedsTheSignature) {
    std::string doc = one_area("x\r").build();
    doc[1] = 'x';
    EXPECT_EQ(convert(import_macwrite_ii, doc).result, -1);
    EXPECT_EQ(convert(import_macwrite_ii, doc).output, "");
    doc[3] = '.';
    EXPECT_EQ(convert(import_macwrite_ii, doc).result, 0);
}

TEST(MacWrite2, ChainsReadTheSameWhateverTheirLinks) {
    // enough formats and text that both the document chain and the text
    // chains span several blocks
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.char_style(3, 12, 0x0001);
    for (int i = 0; i < 30; ++i) doc.para_format(static_cast<int16_t>(i % 2));
    std::string text;
    std::vector<Mw2Run> runs, formats;
    for (int i = 0; i < 120; ++i) {
        text += "line " + std::to_string(i) + "\r";
        runs.push_back({static_cast<int16_t>(i % 2), static_cast<int32_t>(5 + std::to_string(i).size() + 1)});
        formats.push_back({static_cast<int16_t>(i % 30), static_cast<int32_t>(5 + std::to_string(i).size() + 1)});
    }
    doc.area({text, runs, formats, 100});
    const std::string forward = imported(doc.build());
    EXPECT_NE(forward.find("line 0\r\\#\\+line 1"), std::string::npos);
    EXPECT_NE(forward.find("line 119\\$\r"), std::string::npos);
    EXPECT_EQ(imported(doc.links(ChainLinks::Backward).build()), forward);
    EXPECT_EQ(imported(doc.links(ChainLinks::BlockRuns).build()), forward);
    EXPECT_EQ(imported(doc.build_macbinary()), forward);
}

TEST(MacWrite2, RunsChangeMidBlockAndAtParagraphEnds) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.char_style(3, 12, 0x0003);   // bold italic
    doc.para_format(0);
    doc.para_format(1);
    // "ab" plain, "cd\r" bold italic (its run ends on the return), "ef\r" plain
    // and centred
    doc.area({"abcd\ref\r", {{0, 2}, {1, 3}, {0, 3}}, {{0, 5}, {1, 3}}, 3});
    EXPECT_EQ(imported(doc.build()),
              kPlain12Font3 + "ab\\#\\/cd\\$\\0\r\\+ef\r");
}

TEST(MacWrite2, StyleWordsMapToTheHostsAttributes) {
    struct Case {
        uint16_t word;
        std::string tags;
    };
    for (const Case &c : {Case{0x0004, "\\%"}, Case{0x1000, "\\%"}, Case{0x3000, "\\;"}, Case{0x0100, "\\)"},
                          Case{0x0040, "\\'"}, Case{0x0008, "\\1"}, Case{0x0010, "\\5"}, Case{0x0200, "\\7"},
                          Case{0x0400, "\\9"}, Case{0x0800, "\\="}, Case{0x0080, ""}}) {
        Mw2Builder doc;
        doc.char_style(3, 12, c.word);
        doc.area({"x", {{0, 1}}, {}});
        EXPECT_EQ(imported(doc.build()), kPlain12Font3 + c.tags + "x") << std::hex << c.word;
    }
}

TEST(MacWrite2, GroupsAndRecordsWithoutTextAreWalkedOver) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.empty_records(0);
    doc.area({"first\r", {{0, 6}}, {}, 200, 0});
    doc.empty_records(1);
    doc.area({"second\r", {{0, 7}}, {}, 200, 1});
    doc.area({"third\r", {{0, 6}}, {}, 200, 2});
    EXPECT_EQ(imported(doc.build()), kPlain12Font3 + "first\rsecond\rthird\r");
}

// Three groups, the middle one with an area whose first block lies past the
// end of the file, before or after a sound area; the groups end with a kind-2
// word or a kind-3 record.  The other areas keep their place, and the broken
// area's text, which no chain reaches any more, is found after them.
TEST(MacWrite2Damaged, AnAreaPastTheEndLosesOnlyItsOwnText) {
    for (const bool kind3 : {false, true})
        for (const bool lost_first : {false, true}) {
            Mw2Builder doc;
            doc.char_style(3, 12);
            doc.area({"first\r", {{0, 6}}, {}, 200, 0});
            Mw2Area lost{"lost\r", {{0, 5}}, {}, 200, 1};
            lost.stored_first_block = 0x7000;
            const Mw2Area second{"second\r", {{0, 7}}, {}, 200, 1};
            doc.area(lost_first ? lost : second).area(lost_first ? second : lost);
            doc.area({"third\r", {{0, 6}}, {}, 200, 2});
            if (kind3) doc.groups_closed_by_kind3();
            const Converted c = convert(import_macwrite_ii, doc.build());
            EXPECT_EQ(c.result, kConvertedDamaged);
            EXPECT_EQ(c.output.rfind(kPlain12Font3 + "first\rsecond\rthird\r", 0), 0u) << kind3 << lost_first;
            EXPECT_NE(c.output.find("lost\r", kPlain12Font3.size() + 19), std::string::npos) << kind3 << lost_first;
        }
}

TEST(MacWrite2, ASpacePastTheLineWidthBecomesALineEnd) {
    // the line is 78 columns: after 79 characters a space ends the line;
    // after 78 it stays, and spaces never count
    const std::string long_word(79, 'w'), full(78, 'f');
    EXPECT_EQ(imported(one_area(long_word + " x" + "\r" + full + "   y\r").build()),
              kPlain12Font3 + long_word + "\nx\r" + full + "   y\r");
}

TEST(MacWrite2, IgnoredBytesUseUpTheirRuns) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.char_style(3, 12, 1);
    doc.area({"a\x02\x17" "b\\\r", {{0, 3}, {1, 3}}, {}});
    EXPECT_EQ(imported(doc.build()), kPlain12Font3 + "a\\#b\\\\\\$\r");
}

// Notes: calls in the main text, note texts in an area of their own.
Mw2Builder with_notes(const std::string &main, const std::string &notes) {
    Mw2Builder doc;
    doc.area({main, {}, {}});
    doc.area({notes, {}, {}});
    return doc;
}

TEST(MacWrite2Notes, EachCallCarriesItsOwnNumberedText) {
    const std::string out = imported(with_notes("See\x05 and\x05.\r", "\x03one\r\x03two\r").build());
    EXPECT_EQ(out, "See\\\xA2\0\x01one\r\\\x7F and\\\xA2\0\x02two\r\\\x7F.\r"s);
}

TEST(MacWrite2Notes, CallsWithoutNoteTextsKeepTheirPlaceholders) {
    const std::string out = imported(with_notes("A\x05" "B\x05\r", "no notes here\r").build());
    EXPECT_EQ(out, "A\\\xA2\0\0\\\x7F" "B\\\xA2\0\0\\\x7F\rno notes here\r"s);
}

TEST(MacWrite2Notes, MoreTextsThanCallsAndMoreCallsThanTexts) {
    EXPECT_EQ(imported(with_notes("A\x05" "B", "\x03x\x03y").build()), "A\\\xA2\0\x01x\\\x7F" "B"s);
    EXPECT_EQ(imported(with_notes("A\x05" "B\x05" "C", "\x03x").build()),
              "A\\\xA2\0\x01x\\\x7F" "B\\\xA2\0\x02\\\x7F" "C"s);
}

TEST(MacWrite2Notes, ATagParameterOf0x5CIsNeverTakenForANoteTag) {
    // font 92 puts 0x5C in a font tag's parameter; the pound sign that follows
    // is the stream byte 0xA3, so the bytes read 0x5C 0xA3 without a tag
    Mw2Builder doc;
    doc.char_style(92, 12);
    doc.area({"\xA3" "5\x05.\r", {{0, 5}}, {}});
    doc.area({"\x03" "fee\r", {{0, 5}}, {}});
    const std::string out = imported(doc.build());
    EXPECT_EQ(out, "\\L\x0C\\\x88\0\\\xA3" "5\\\xA2\0\x01" "fee\r\\\x7F.\r"s);
}

TEST(MacWrite2Notes, The256thCallIsNumberedZero) {
    std::string calls, texts;
    for (int i = 0; i < 256; ++i) {
        calls += "\x05";
        texts += "\x03n";
    }
    const std::string out = imported(with_notes(calls, texts).build());
    EXPECT_NE(out.find("\\\xA2\0\xFFn"s), std::string::npos);
    EXPECT_NE(out.find("\\\xA2\0\0n"s), std::string::npos);
}

TEST(MacWrite2Damaged, CyclesLinksPastTheEndAndShortRunsEndTheChain) {
    const std::string good = one_area("Hello\r").build();
    std::string cyclic = good;
    cyclic[3 * 256 - 2] = 0;
    cyclic[3 * 256 - 1] = 3;   // the document chain links to itself
    EXPECT_EQ(convert(import_macwrite_ii, cyclic).result, kConvertedDamaged);
    std::string past = good;
    past[3 * 256 - 2] = 0x7F;  // to block 32767
    EXPECT_EQ(convert(import_macwrite_ii, past).result, kConvertedDamaged);
    for (uint8_t count : {0, 1}) {
        std::string run = good;
        run[3 * 256 - 2] = '\xFF';
        run[3 * 256 - 1] = '\xFC';  // a block run at block 4
        run[3 * 256] = 0;
        run[3 * 256 + 1] = static_cast<char>(count);
        EXPECT_EQ(convert(import_macwrite_ii, run).result, kConvertedDamaged);
    }
}

// A document chain that breaks before its directory (the paragraph format
// fills its first block): the text areas are found by their own chains, in
// block order.  A chain that only looks like one, its block list pointing
// at a block of zeros, gives nothing.
TEST(MacWrite2Damaged, AreasABrokenDirectoryLostAreFoundByTheirChains) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.para_format(0);
    doc.area({"first\r", {{0, 6}}, {}});
    doc.area({"second\r", {{0, 7}}, {}});
    std::string bytes = doc.build();
    bytes[3 * 256 - 2] = 0x7F;  // the document chain's link, to block 32767
    const Converted c = convert(import_macwrite_ii, bytes);
    EXPECT_EQ(c.result, kConvertedDamaged);
    const size_t first = c.output.find("first\r"), second = c.output.find("second\r");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    const auto next = static_cast<uint16_t>(bytes.size() / 256 + 2);
    std::string decoy = "\0\0\0\0\0\0\0\x04"s + static_cast<char>(next >> 8) + static_cast<char>(next) + "\0\x05"s;
    decoy.resize(2 * 256, '\0');
    EXPECT_EQ(convert(import_macwrite_ii, bytes + decoy).output, c.output);
}

// Blocks that each open a long chain looking like an area's, and fail
// only at its end, cost the search reading them; the search stops at its
// own bound, and the damaged document is still converted with its areas.
TEST(MacWrite2Damaged, ASearchThroughDecoyChainsDoesNotRefuseTheDocument) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.para_format(0);
    doc.area({"first\r", {{0, 6}}, {}});
    std::string bytes = doc.build();
    bytes[3 * 256 - 2] = 0x7F;  // the document chain's link, to block 32767
    const long text = static_cast<long>(bytes.size() / 256) + 1;
    bytes += std::string(256, 'x');
    for (long n = text + 1; n <= text + 200; ++n) {
        const long link = n < text + 200 ? n + 1 : 0;
        std::string decoy = "\0\0\0\0\0\0\0\x04"s + static_cast<char>(text >> 8) + static_cast<char>(text) +
                            "\0\x05\xFF\xFF\xFF\xF0"s;  // a block list that holds, then a list longer than the chain
        decoy.resize(254, '\0');
        bytes += decoy + static_cast<char>(link >> 8) + static_cast<char>(link);
    }
    const Converted c = convert(import_macwrite_ii, bytes);
    EXPECT_EQ(c.result, kConvertedDamaged);
    EXPECT_NE(c.output.find("first\r"), std::string::npos);
}

TEST(MacWrite2Damaged, HugeOrNegativeCountsAndIndicesOutsideTheTables) {
    // Measures that do not fit the tables leave the directory unread; the
    // text is found without it, and the document is said to be damaged.
    for (int32_t measure : {0x7FFFFFFF, -50, 4096 * 10}) {
        Mw2Builder doc = one_area("Hi\r");
        doc.char_style_measure(measure).para_format_measure(measure);
        const Converted c = convert(import_macwrite_ii, doc.build());
        EXPECT_EQ(c.result, measure < 0 ? kConverted : kConvertedDamaged) << measure;
        EXPECT_NE(c.output.find("Hi\r"), std::string::npos) << measure;
    }
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.area({"abc\r", {{5, 1}, {-1, 1}, {0, 2}}, {{9, 4}}});
    EXPECT_EQ(imported(doc.build()), "\\\x88\0\0ab"s + kPlain12Font3 + "c\r");
}

// Found by the fuzzer: a run of the most negative length made the count of
// characters left in it overflow.
TEST(MacWrite2Damaged, RunLengthAtTheMostNegativeValueStaysInForce) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.char_style(3, 12, 1);
    doc.area({"abc\r", {{0, INT32_MIN}, {1, 1}}, {{0, INT32_MIN}}});
    EXPECT_EQ(imported(doc.build()), kPlain12Font3 + "abc\r");
}

TEST(MacWrite2Damaged, TextBlockReferencesOutsideTheDocument) {
    std::string doc = one_area("Hello\r").build();
    // the text area's chain is at block 5 (its text at block 4): point its one
    // reference at block 0, then far past the end, then at 300 characters
    const size_t ref = 4 * 256 + 8;
    ASSERT_EQ(doc.substr(ref, 4), "\0\x04\0\x06"s);
    // Each loses the reference to the text (a block the application never
    // names, one outside the file, more characters than a block holds, where
    // zeros stand): the document is damaged, and its text is found all the same.
    for (const std::string &bad : {"\0\0\0\x06"s, "\x7F\0\0\x06"s, "\0\x04\x01\x2C"s}) {
        std::string d = doc;
        d.replace(ref, 4, bad);
        const Converted c = convert(import_macwrite_ii, d);
        EXPECT_EQ(c.result, kConvertedDamaged);
        EXPECT_NE(c.output.find("Hello"), std::string::npos);
        EXPECT_LE(c.output.size(), 7u + 256u + 8u);
    }
}

// 500 directory records that all name one area of 2,000 characters.
std::string rereading_document() {
    Mw2Builder doc;
    Mw2Area area{std::string(2000, 'r'), {}, {}};
    area.records = 500;
    doc.area(area);
    return doc.build();
}

TEST(MacWrite2Damaged, ADocumentThatReadsItsTextOverAndOverStopsAtTheBound) {
    const std::string doc = rereading_document();
    const Converted c = convert(import_macwrite_ii, doc);
    EXPECT_EQ(c.result, kImportTooMuchText);
    EXPECT_LE(c.output.size(), 4 * doc.size() + 65536);
}

#if !defined(__SANITIZE_ADDRESS__)
// The address space the process maps now, from /proc.
long mapped_bytes() {
    long pages = 0;
    std::FILE *f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0;
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
    return pages * sysconf(_SC_PAGESIZE);
}
#endif

TEST(MacWrite2Damaged, RunningOutOfMemoryIsAResultNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves the address space that this test limits";
#else
    // A document chain of one block run of 65535 blocks (16 MB), read under an
    // address-space limit 8 MB above what the process maps before the call.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::FILE *in = nullptr;
        {
            std::string doc(65538L * 256, '\0');
            doc[1] = '.';
            doc[3 * 256 - 2] = '\xFF';
            doc[3 * 256 - 1] = '\xFC';  // block 3 goes on with a block run at block 4
            doc[3 * 256] = '\xFF';
            doc[3 * 256 + 1] = '\xFF';
            in = stream_of(doc);
        }
        std::FILE *out = kavrel::open_scratch_stream();
        const rlimit limit{static_cast<rlim_t>(mapped_bytes() + (8L << 20)), RLIM_INFINITY};
        if (mapped_bytes() == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
        try {
            _exit(import_macwrite_ii(in, out) == kOutOfMemory ? 0 : 1);
        } catch (...) {
            _exit(3);
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another result, 2: no limit could be set, 3: an exception escaped";
#endif
}

TEST(MacWrite2Recognition, MacWrite5DocumentsWithADotAreNotClaimed) {
    std::string five = Mw5Builder().text(Area::Main, "x\r").build();
    five[3] = '.';
    const auto *head = reinterpret_cast<const uint8_t *>(five.data());
    EXPECT_EQ(macwrite_bid_ii(head, five.size()), 0);
    const std::string two = one_area("x\r").build();
    const auto *h2 = reinterpret_cast<const uint8_t *>(two.data());
    EXPECT_GT(macwrite_bid_ii(h2, two.size()), 0);
    EXPECT_EQ(macwrite_bid_5(h2, two.size()), 0);
    EXPECT_EQ(macwrite_bid_22(h2, two.size()), 0);
    const std::string wrapped = one_area("x\r").build_macbinary();
    EXPECT_EQ(macwrite_bid_ii(reinterpret_cast<const uint8_t *>(wrapped.data()), wrapped.size()), 100);
}

}  // namespace
