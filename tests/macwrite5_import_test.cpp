// The MacWrite 4.6/5 import on documents built from the file layout.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "macwrite5/import_context.h"
#include "tests/support/bytes_io.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw5_builder.h"

namespace {

using namespace testing_support;

const std::string kEmptyBlocks("\\\x9E\0\0\\\x7F\\\xA1\0\0\\\x7F", 12);

// The stream of a document's main text, after its (empty) header and footer;
// a damaged document gives kConvertedDamaged.
std::string main_text(const Mw5Builder &doc, int32_t result = kConverted) {
    const Imported c = convert_import(import_macwrite_5, doc.build());
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.output.substr(0, kEmptyBlocks.size()), kEmptyBlocks);
    return c.output.substr(kEmptyBlocks.size());
}

RulerSpec worked_example_ruler() {
    RulerSpec r;
    r.left_margin = 13;
    r.tabs = {48, 83, 119, 154, 190, 225, 261, 296, 332, 367};
    return r;
}

TEST(MacWrite5Areas, EmptyHeaderAndFooterStillGetTheirBlocks) {
    const Imported c = convert_import(import_macwrite_5, Mw5Builder().build());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, kEmptyBlocks);
}

TEST(MacWrite5Areas, HeaderFooterAndMainComeInThatOrder) {
    Mw5Builder doc;
    doc.text(Area::Main, "body\r").text(Area::Footer, "foot\r").text(Area::Header, "head\r");
    const Imported c = convert_import(import_macwrite_5, doc.build());
    EXPECT_EQ(c.output, std::string("\\\x9E\0\0head\r\\\x7F\\\xA1\0\0foot\r\\\x7F" "body\r", 27));
}

TEST(MacWrite5Areas, MacBinaryWrappedDocumentGivesIdenticalOutput) {
    Mw5Builder doc;
    doc.ruler(Area::Main, worked_example_ruler()).text(Area::Main, "Tab\there\r").compressed(Area::Main, "the cat\r");
    const Imported bare = convert_import(import_macwrite_5, doc.build());
    const Imported wrapped = convert_import(import_macwrite_5, doc.build_macbinary());
    EXPECT_EQ(wrapped.result, 0);
    EXPECT_EQ(wrapped.output, bare.output);
    // and a bare document after a wrapped one reads its offsets unshifted
    EXPECT_EQ(convert_import(import_macwrite_5, doc.build()).output, bare.output);
}

// A picture paragraph of 22 bytes is a page break; any other is carried whole
// in a picture insert; one whose data lies past the document's end is dropped.
TEST(MacWrite5Areas, PicturesArePageBreaksAtLength22AndInsertsOtherwise) {
    Mw5Builder doc;
    const std::string data = std::string("\0\0\0\x05\0\x1E\0\x40", 8) + std::string(26, '\x11');
    doc.text(Area::Main, "a\r").picture(Area::Main, 22).picture(Area::Main, data, -30).text(Area::Main, "b\r");
    doc.entry(Area::Main, -12, 0x00FFFF00, 40);  // past the end of the file: damaged
    EXPECT_EQ(main_text(doc, kConvertedDamaged), "a\r\f\\\xC0" + std::string("\0\0\0\x26", 4) + "PICT" + data + "b\r");
}

TEST(MacWrite5Areas, EntriesAreConvertedInListOrder) {
    Mw5Builder doc;
    doc.text(Area::Main, "one\r").text(Area::Main, "two\r");
    std::string bytes = doc.build();
    // swap the two 16-byte entries of the main array
    const size_t at = (static_cast<uint8_t>(bytes[264]) << 24 | static_cast<uint8_t>(bytes[265]) << 16 |
                       static_cast<uint8_t>(bytes[266]) << 8 | static_cast<uint8_t>(bytes[267]));
    std::swap_ranges(bytes.begin() + at, bytes.begin() + at + 16, bytes.begin() + at + 16);
    const Imported c = convert_import(import_macwrite_5, bytes);
    EXPECT_EQ(c.output.substr(kEmptyBlocks.size()), "two\rone\r");
}

TEST(MacWrite5Areas, ACountBeyondTheArrayStopsAtTheArraysEnd) {
    Mw5Builder doc;
    doc.text(Area::Main, "only\r").count(Area::Main, 60000);
    EXPECT_EQ(main_text(doc, kConvertedDamaged), "only\r");
}

TEST(MacWrite5Areas, EntriesRepeatingOneParagraphCannotMultiplyItWithoutBound) {
    Mw5Builder doc;
    doc.text(Area::Main, std::string(4000, 'x') + "\r");
    for (int i = 0; i < 2000; ++i) doc.entry(Area::Main, 20, 512, 4004);
    const std::string bytes = doc.build();
    const Imported c = convert_import(import_macwrite_5, bytes);
    EXPECT_EQ(c.result, kImportTooMuchText);
    EXPECT_LE(c.output.size(), 5 * bytes.size() + 70000);
}

TEST(MacWrite5HandOver, VersionWordsPassDocumentsBetweenTheReaders) {
    Mw22Builder old;
    old.paragraph("Hello\r");
    const Imported direct = convert_import(import_macwrite_22, old.build());
    const Imported handed = convert_import(import_macwrite_5, old.build());
    EXPECT_EQ(handed.result, 0);
    EXPECT_EQ(handed.output, direct.output);
    EXPECT_EQ(direct.output, kEmptyBlocks + "Hello\r");

    const std::string bytes = Mw5Builder().text(Area::Main, "new\r").build();
    EXPECT_EQ(convert_import(import_macwrite_22, bytes).output, convert_import(import_macwrite_5, bytes).output);

    std::string five = bytes;
    five[1] = 5;
    EXPECT_EQ(convert_import(import_macwrite_5, five).result, -1);
    EXPECT_EQ(convert_import(import_macwrite_5, five).output, "");
}

TEST(MacWrite5HandOver, MacBinaryWrappedOldDocumentConvertsThroughEitherReader) {
    const std::string bare = Mw22Builder().paragraph("Memo\r").build();
    const std::string wrapped = macbinary_wrap(bare, "WORDMACA");
    const Imported expected = convert_import(import_macwrite_22, bare);
    ASSERT_EQ(expected.output, kEmptyBlocks + "Memo\r");
    for (ConverterFn fn : {import_macwrite_5, import_macwrite_22}) {
        const Imported c = convert_import(fn, wrapped);
        EXPECT_EQ(c.result, 0);
        EXPECT_EQ(c.output, expected.output);
        EXPECT_EQ(c.geometry, expected.geometry);
    }
}

TEST(MacWrite5HandOver, NeitherVersionEndsAtOnce) {
    EXPECT_EQ(convert_import(import_macwrite_5, std::string(600, '\0')).result, -1);
    EXPECT_EQ(convert_import(import_macwrite_22, std::string(600, '\0')).result, -1);
    EXPECT_EQ(convert_import(import_macwrite_5, "").result, -1);
}

TEST(MacWrite5Text, WorkedExampleOfARunBeforeTheFirstCharacter) {
    Mw5Builder doc;
    doc.text(Area::Main, "Hi\r", {{0, 12, 0x21, 3}});
    EXPECT_EQ(main_text(doc), std::string("\\L\x0C\\\x88\x00\x03\\#\\)Hi\\$\\*\r", 18));
}

// MacWrite's page and top of each main-text paragraph and picture travel in
// a LAID insert before it; a document whose tops are all 0 was laid out by
// no one, and a header's tops are not pages.
TEST(MacWrite5Layout, PagesAndTopsTravelBeforeEachParagraph) {
    Mw5Builder doc;
    doc.text(Area::Header, "h\r").text(Area::Header, "i\r");
    doc.text(Area::Main, "a\r").picture(Area::Main, std::string(8, '\0') + std::string(12, '\1'), -30).text(Area::Main, "b\r");
    const std::string geometry = convert_import(import_macwrite_5, doc.build()).geometry;
    const auto count = [&](const std::string &what) {
        size_t n = 0;
        for (size_t at = geometry.find(what); at != std::string::npos; at = geometry.find(what, at + 1)) ++n;
        return n;
    };
    const auto laid = [](char top) { return "\\\xC0" + std::string("\0\0\0\x08LAID\0\0\0", 11) + top; };
    EXPECT_EQ(count("LAID"), 3u);
    EXPECT_EQ(count(laid(0)), 1u);
    EXPECT_EQ(count(laid(20)), 2u);  // the picture and the paragraph after it

    Mw5Builder unlaid;
    unlaid.text(Area::Main, "a\r");
    EXPECT_EQ(convert_import(import_macwrite_5, unlaid.build()).geometry.find("LAID"), std::string::npos);
}

TEST(MacWrite5Text, TheParagraphLengthRulesForZeroAndOneCharacter) {
    Mw5Builder doc;
    doc.text(Area::Main, "").text(Area::Main, "\r", {{0, 12, 1, 3}}, 0x41);
    EXPECT_EQ(main_text(doc), "\r");
}

TEST(MacWrite5Text, ATabCountsAsACharacterForRunPositions) {
    Mw5Builder doc;
    doc.text(Area::Main, "\tab\r", {{2, 12, 1, 0}});
    EXPECT_EQ(main_text(doc), std::string("\ta\\L\x0C\\\x88\0\0\\#b\\$\r", 15));
}

TEST(MacWrite5Text, ARunBehindTheIndexStopsTheList) {
    Mw5Builder doc;
    doc.text(Area::Main, "abc\r", {{0, 12, 0, 0}, {0, 12, 1, 0}, {2, 12, 2, 0}});
    EXPECT_EQ(main_text(doc), std::string("\\L\x0C\\\x88\0\0" "abc\r", 11));
}

TEST(MacWrite5Text, OwnJustificationOrTheRulersOne) {
    Mw5Builder doc;
    RulerSpec centred;
    centred.justification = 1;
    doc.text(Area::Main, "r\r", {}, 0x42)       // own: right
        .ruler(Area::Main, centred)
        .text(Area::Main, "c\r", {}, 0x02)       // bit 0x40 clear: the ruler's
        .text(Area::Main, "j\r", {}, 0x43);
    EXPECT_EQ(main_text(doc), "\\.r\r\\+c\r\\,\\-j\r");
}

TEST(MacWrite5Text, CharactersGoThroughTheFontsTable) {
    Mw5Builder doc;
    doc.text(Area::Main, "\x8E\\\xD2" "a\r").text(Area::Main, "a\r", {{0, 12, 0, 23}});
    EXPECT_EQ(main_text(doc), std::string("\xE9\\\\\\ \x20\x1C" "a\r\\L\x0C\\\x88\0\x17\\ \x03\xB1\r", 21));
}

TEST(MacWrite5Text, TextWithoutACarriageReturnRunsIntoTheNext) {
    Mw5Builder doc;
    doc.text(Area::Main, "ab", {}).text(Area::Main, "c\r");
    EXPECT_EQ(main_text(doc), "abc\r");
}

TEST(MacWrite5Fields, WindowRecordsPlaceFieldsInTheParagraphsTheyCover) {
    // The pen starts at the left margin (0 here) and moves 6 points a letter
    // and 3 a space at 12 points: "page " ends at 27.
    Mw5Builder doc;
    doc.text(Area::Header, "\r")                                          // top 0, height 20
        .compressed(Area::Header, "page  of 3\r", {{0, 12, 0, 3}})        // top 20
        .field(Area::Header, 1, 25, 27)
        .field(Area::Header, 3, 0, 500)    // past the text: before the return
        .text(Area::Footer, "")            // an empty paragraph still holds one
        .field(Area::Footer, 2, 0, 100)
        .field(Area::Footer, 1, 0, 0)      // a blank pair places nothing
        .text(Area::Main, "m\r")
        .field(Area::Main, 1, 0, 10);      // the main text has no fields
    const Imported c = convert_import(import_macwrite_5, doc.build());
    EXPECT_EQ(c.output, std::string("\\\x9E\0\0\\_\x03\r\\L\x0C\\\x88\0\x03page \\_\x01 of 3\r\\\x7F"
                                    "\\\xA1\0\0\\_\x02\\\x7F" "m\r", 42));
}

TEST(MacWrite5Compressed, WorkedExampleTheWithCarriageReturn) {
    EXPECT_EQ(Mw5Builder::compress("the\r"), std::string("\x2B\x1F\x0D", 3));
    EXPECT_EQ(Mw5Builder::compress("the").size(), 2u);
    Mw5Builder doc;
    doc.compressed(Area::Main, "the\r", {}, 0x4B);
    EXPECT_EQ(main_text(doc), "\\-the\r");
}

TEST(MacWrite5Compressed, OddEndingsSkipThePadBeforeTheRuns) {
    // "te\r": 2 1 F 0 D -> 3 bytes after the length word: the data ends odd.
    Mw5Builder doc;
    doc.compressed(Area::Main, "te\r", {{0, 12, 1, 0}}).compressed(Area::Main, "Cap X\r", {{2, 12, 2, 0}});
    EXPECT_EQ(main_text(doc), std::string("\\L\x0C\\\x88\0\0\\#te\\$\rCa\\/p X\\0\r", 24));
}

TEST(MacWrite5Compressed, ExpansionStopsAtTheEndOfTheInput) {
    std::FILE *in = stream_of(std::string("\x2B\xF4", 2));
    const auto text = macwrite5::expand_compressed_text(in, 10);
    std::fclose(in);
    EXPECT_EQ(std::string(text.begin(), text.end()), "th");
}

TEST(MacWrite5Ruler, WorkedExampleSetsTenStopsOnceOnly) {
    Mw5Builder doc;
    doc.ruler(Area::Main, worked_example_ruler()).ruler(Area::Main, worked_example_ruler());
    std::string expected;
    for (int column : {4, 9, 14, 19, 24, 29, 34, 39, 44, 48}) expected += std::string("\\\x80\x01", 3) + char(column);
    EXPECT_EQ(main_text(doc), expected);
}

TEST(MacWrite5Ruler, KindChangesClearThenSetAndDroppedStopsAreRetired) {
    RulerSpec first;
    first.tabs = {72, 144};         // columns 10 and 20
    RulerSpec second;
    second.tabs = {static_cast<uint16_t>(-72), 36};  // a decimal stop at 72 points
    second.line_spacing = 2;
    Mw5Builder doc;
    doc.ruler(Area::Main, first).ruler(Area::Main, second);
    EXPECT_EQ(main_text(doc), std::string("\\\x80\x01\x0A\\\x80\x01\x14"
                                          "\\M\x10\\\x81\x01\x0A\\\x80\x04\x0A\\\x80\x01\x05\\\x81\x01\x14",
                                          27));
}

TEST(MacWrite5Ruler, StopsAtOrLeftOfTheMarginOrBeyondTheColumnsAreDropped) {
    RulerSpec r;
    r.left_margin = 72;              // column 12
    r.tabs = {36, 86, 32767, 0x7FFF};
    r.tab_count = 200;               // at most the ten stored stops
    Mw5Builder doc;
    doc.ruler(Area::Main, r);
    EXPECT_EQ(main_text(doc), "");
}

TEST(MacWrite5Ruler, ZeroTabsStillRetireTheOldStops) {
    RulerSpec first;
    first.tabs = {72};
    Mw5Builder doc;
    doc.ruler(Area::Main, first).ruler(Area::Main, RulerSpec{});
    EXPECT_EQ(main_text(doc), std::string("\\\x80\x01\x0A\\\x81\x01\x0A", 8));
}

}  // namespace

namespace {

// A document whose header was lost is looked through for paragraphs: one
// that looks like a picture of the second version and ends two bytes into
// it, at the end of the file, is read no further than the file.
TEST(MacWrite5Damaged, APictureCutAtItsVersionAtTheEndIsReadWithinTheFile) {
    const std::string rect("\0\0\0\0\0\x0A\0\x0A", 8);
    const Bytes doc = std::string(298, '\0') + rect + std::string("\0\x0C", 2) + rect + std::string("\0\x11", 2);
    EXPECT_EQ(convert(import_macwrite_5, doc).result, kNotThisFormat);  // no text shows it is a document
}

}  // namespace
