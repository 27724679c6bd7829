// The MacWrite 4.6/5 export, byte for byte, and what reads it back.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "tests/support/bytes_io.h"
#include "tests/support/mw5_reader.h"

namespace {

using namespace testing_support;
using namespace std::string_literals;

std::string exported(const std::string &stream) {
    const Converted c = convert(export_macwrite_5, stream);
    EXPECT_EQ(c.result, 0);
    return c.output;
}

// The main text of a document as our import reads it back.
std::string read_back(const std::string &doc) {
    const Imported c = convert_import(import_macwrite_5, doc);
    EXPECT_EQ(c.result, 0);
    // after the header and footer blocks, each of which holds a default ruler
    const size_t footer = c.output.find(std::string("\\\xA1\0\0", 4));
    return c.output.substr(c.output.find("\\\x7F", footer) + 2);
}

std::string paragraph_text(const std::string &doc, size_t entry) {
    const Entry e = main_entry(doc, entry);
    return doc.substr(e.offset + 2, u16at(doc, e.offset));
}

const std::string kRun12Plain("\0\0\x0C\0\0\x02", 6);

TEST(MacWrite5Export, TheOpeningIsFixed) {
    const std::string doc = exported("");
    const std::string header("\0\x06\0\x01\0\x01\0\x01\0\0\0\xFF\xFF\0\xFF\xFF\0\x01", 18);
    EXPECT_EQ(doc.substr(0, 2), header.substr(0, 2));
    EXPECT_EQ(doc.substr(4, 14), header.substr(4, 14));
    EXPECT_EQ(doc.substr(22, 4), std::string("\0\x08\0\x08", 4));
    EXPECT_EQ(doc.substr(40, 24), std::string("\0\x02\0\0\0\x48\0\x48\0\0\0\0\x02\xF0\x02\x40\xFF\xDC\xFF\xEE\x02\xF4\x02\x52", 24));
    EXPECT_EQ(doc.substr(64, 96), std::string(96, '\0'));
    for (size_t w : {160u, 206u, 252u}) {
        EXPECT_EQ(doc.substr(w, 12), std::string("\0\x01\0\0\0\x01\0\0\0\0\0\0", 12));
        EXPECT_EQ(doc.substr(w + 24, 22),
                  std::string("\xFF\xF2\0\x1E\xFF\xF2\0\xEC\xFF\xF2\x01\xBA\0\0\0\0\0\0\xFF\xFF\xFF\xFF", 22));
    }
    const std::string ruler("\0\x0D\x01\xB4\0\x0A\0\0\0\x0D\0\x30\0\x53\0\x77\0\x9A\0\xBE\0\xE1\x01\x05\x01\x28\x01\x4C\x01\x6F\0\0\0\0", 34);
    for (size_t r : {298u, 332u, 366u}) EXPECT_EQ(doc.substr(r, 34), ruler);
}

TEST(MacWrite5Export, EmptyInputIs472Bytes) {
    const std::string doc = exported("");
    ASSERT_EQ(doc.size(), 472u);
    EXPECT_EQ(doc.substr(400, 2), std::string(2, '\0'));  // the placeholder no paragraph took
    EXPECT_EQ(u16at(doc, 2), 1u);
    EXPECT_EQ(u32at(doc, 18), 464u);
    EXPECT_EQ(window_at(doc, 160), (Window{404, 16, 402, 2}));
    EXPECT_EQ(window_at(doc, 206), (Window{422, 16, 420, 2}));
    EXPECT_EQ(window_at(doc, 252), (Window{448, 16, 438, 10}));
    EXPECT_EQ(doc.substr(464), std::string("\0\0\x01\xD8\0\0\0\0", 8));
    EXPECT_EQ(read_back(doc), "");
}

TEST(MacWrite5Export, TwoLettersWithoutAReturnMake504Bytes) {
    const std::string doc = exported("AB");
    ASSERT_EQ(doc.size(), 504u);
    EXPECT_EQ(doc.substr(400, 14), std::string("\0\x03" "AB\r\xFF\0\x06", 8) + kRun12Plain);
    EXPECT_EQ(u16at(doc, 2), 2u);
    EXPECT_EQ(u32at(doc, 18), 496u);
    EXPECT_EQ(window_at(doc, 160), (Window{416, 16, 414, 2}));
    EXPECT_EQ(window_at(doc, 206), (Window{434, 16, 432, 2}));
    EXPECT_EQ(window_at(doc, 252), (Window{464, 32, 450, 14}));
    EXPECT_EQ(doc.substr(450, 14), std::string("\0\0\0\x01\x10\0\0\x01\x0D\0\0\x01\x0D\0", 14));
    EXPECT_EQ(main_entry(doc, 1).raw, std::string("\0\x0D\0\0\0\0\0\0\0\0\x01\x90\0\x0E\0\0", 16));
    EXPECT_EQ(doc.substr(496), std::string("\0\0\x01\xF8\0\0\0\0", 8));
    EXPECT_EQ(read_back(doc), "\\L\x0C\\\x88\0\x02" "AB\r"s);
}

TEST(MacWrite5Export, AFinalReturnLeavesTheNextParagraphsPlaceholder) {
    const std::string doc = exported("AB\r");
    ASSERT_EQ(doc.size(), 506u);
    EXPECT_EQ(doc.substr(414, 2), std::string(2, '\0'));
    EXPECT_EQ(window_at(doc, 160), (Window{418, 16, 416, 2}));
    EXPECT_EQ(u32at(doc, 18), 498u);
}

TEST(MacWrite5Export, StyleChangesBecomeRunsAtTheirPositions) {
    const std::string doc = exported("\\#x\\$y\r\r");
    const Entry e = main_entry(doc, 1);
    EXPECT_EQ(e.length, 20u);
    EXPECT_EQ(doc.substr(e.offset, 20),
              std::string("\0\x03xy\r\xFF\0\x0C\0\0\x0C\x01\0\x02\0\x01\x0C\0\0\x02", 20));
    const Entry empty = main_entry(doc, 2);  // a return alone
    EXPECT_EQ(empty.length, 12u);
    EXPECT_EQ(doc.substr(empty.offset, 12), std::string("\0\x01\r\xFF\0\x06", 6) + kRun12Plain);
    // every style the runs carry, and two changes with no character between
    // them in one run
    const std::string all = exported("\\/\\%\\)\\'\\1\\5a\\*\\(\\0b\r");
    EXPECT_EQ(all.substr(main_entry(all, 1).offset + 8, 12),
              std::string("\0\0\x0C\x66\0\x02\0\x01\x0C\x04\0\x02", 12));
}

TEST(MacWrite5Export, SecondPairsOfBoldAndUnderline) {
    const std::string doc = exported("\\?\\?a\\@b\\Ac\\B\r");
    EXPECT_EQ(read_back(doc), "\\L\x0C\\\x88\0\x02\\#a\\$b\\%c\\&\r"s);
}

TEST(MacWrite5Export, PageBreaksCloseTextFirst) {
    const std::string doc = exported("a\r\fb\fc\r");
    ASSERT_EQ(u16at(doc, 2), 6u);  // ruler, a, break, b, break, c
    const Entry brk = main_entry(doc, 2);
    EXPECT_EQ(brk.raw.substr(0, 9), std::string("\xFE\x60\0\0\0\0\0\0\0", 9));
    EXPECT_EQ(brk.raw.substr(12), std::string("\0\x16\0\0", 4));
    EXPECT_EQ(doc.substr(brk.offset, 22), std::string("\0\0\0\0\0\x20\x03\xE8\0\x0D" "MAGICPIC\x11\x01\xFF\x96", 22));
    EXPECT_EQ(main_entry(doc, 3).offset, brk.offset + 22);
    EXPECT_EQ(read_back(doc), "\\L\x0C\\\x88\0\x02" "a\r\fb\r\fc\r"s);
}

// A picture insert closes the text before it and becomes a picture paragraph
// whose height is its rectangle's and whose data is padded to an even length,
// past the 22 bytes that mean a page break; inserts of other kinds leave no
// trace.
TEST(MacWrite5Export, PictureInsertsBecomePictureParagraphs) {
    const std::string data = "\0\x05\0\0\0\x23\0\x40"s + "\0\x0B\0\0\0\0\0\x1E\0\x40\x11\x01\xFF"s;  // 13-byte picture
    const std::string insert = "\\\xC0\0\0\0\x19PICT"s + data;
    const std::string doc = exported("a" + insert + "b\r" + "\\\xC0\0\0\0\x05XYZW!"s + "c\r");
    ASSERT_EQ(u16at(doc, 2), 5u);  // ruler, a, picture, b, c
    const Entry pic = main_entry(doc, 2);
    EXPECT_EQ(pic.height, -30);
    EXPECT_EQ(pic.length, 24u);
    EXPECT_EQ(doc.substr(pic.offset, 24), data + "\0\0\0"s);
    EXPECT_EQ(main_entry(doc, 3).offset, pic.offset + 24);
    EXPECT_EQ(read_back(doc), "\\L\x0C\\\x88\0\x02" "a\r\\\xC0\0\0\0\x1CPICT"s + data + "\0\0\0b\rc\r"s);
}

TEST(MacWrite5Export, CentringOnWritesARulerInThePlaceOfTheParagraph) {
    const std::string doc = exported("\\+Title\r\\,Body\r");
    const Entry ruler = main_entry(doc, 1);
    EXPECT_EQ(ruler.height, 0);
    EXPECT_EQ(ruler.offset, 400u);
    EXPECT_EQ(ruler.length, 34u);
    EXPECT_EQ(doc[400 + 4], 1);
    EXPECT_EQ(main_entry(doc, 2).offset, 434u);
    EXPECT_EQ(paragraph_text(doc, 2), "Title\r");
    // centring off at the start of the next paragraph: the left ruler stands
    // in that paragraph's place, so only the title stays centred
    const Entry left = main_entry(doc, 3);
    EXPECT_EQ(left.height, 0);
    EXPECT_EQ(doc[left.offset + 4], 0);
    EXPECT_EQ(paragraph_text(doc, 4), "Body\r");
    EXPECT_EQ(read_back(doc), "\\+\\L\x0C\\\x88\0\x02Title\r\\,Body\r"s);
}

TEST(MacWrite5Export, AlignmentChangesAfterTextFollowTheParagraph) {
    const std::string doc = exported("\\+One\rTw\\,o\rThree\r");
    EXPECT_EQ(read_back(doc), "\\+\\L\x0C\\\x88\0\x02One\rTwo\r\\,Three\r"s);
    const std::string late = exported("Left\\+\rMid\r");
    EXPECT_EQ(read_back(late), "\\L\x0C\\\x88\0\x02Left\r\\+Mid\r"s);
}

TEST(MacWrite5Export, ExtendedCharactersChooseTheirFont) {
    // alpha from the Symbol font, a digit that keeps it, a letter that ends it
    const std::string doc = exported("\\ \x03\xB1" "1x\r");
    const Entry e = main_entry(doc, 1);
    EXPECT_EQ(doc.substr(e.offset, 6), std::string("\0\x04\x61" "1x\r", 6));
    EXPECT_EQ(doc.substr(e.offset + 6, 14), std::string("\0\x0C\0\0\x0C\0\0\x17\0\x02\x0C\0\0\x02", 14));
}

TEST(MacWrite5Export, ISO8859CharactersAreTranslatedToMacBytes) {
    const std::string doc = exported(std::string("Caf\xE9 \xD7 \xA4\\ \x20\x1C\\ \x4E\x00\r", 17));
    EXPECT_EQ(paragraph_text(doc, 1), "Caf\x8E \xB4 ?\xD2?\r");
    EXPECT_EQ(read_back(doc), "\\L\x0C\\\x88\0\x02" "Caf\xE9 \\\x88\0\x17\xD7 \\\x88\0\x02?\\ \x20\x1C?\r"s);
}

TEST(MacWrite5Export, ACharacterOfNoFontStillMakesItsRun) {
    // code 0 of the base set writes no character; the font change it asks
    // for and a style change after it share one run
    const std::string doc = exported(std::string("\\ \x03\xB1\\ \0\0\\#b\r", 12));
    const Entry e = main_entry(doc, 1);
    EXPECT_EQ(doc.substr(e.offset, 6), std::string("\0\x03\x61" "b\r\xFF", 6));
    EXPECT_EQ(u16at(doc, e.offset + 6), 12u);
    EXPECT_EQ(doc.substr(e.offset + 14, 6), std::string("\0\x01\x0C\x01\0\x02", 6));
}

TEST(MacWrite5Export, TagsTheExportHasNoUseForAreSkippedByTheFramingRule) {
    const std::string doc = exported(std::string("\\P\\x\\\x85" "abc\\!d\\\x9E\0\0\\\x7F\\\xC0\0\0\0\x02\\\\e\\4f\\\\\r\\", 34));
    EXPECT_EQ(paragraph_text(doc, 1), "xcde\xCA" "f\\\r");
}

TEST(MacWrite5Export, LineEndsBecomeSpacesAndBlockTextStaysInItsArea) {
    const std::string doc = exported(std::string("\\\x9E\0\0Head\r\\\x7F" "a\nb\r", 15));
    EXPECT_EQ(paragraph_text(doc, 1), "a b\r");
    const Entry head = area_entry(doc, 206, 1);
    EXPECT_EQ(doc.substr(head.offset + 2, 5), "Head\r");
}

TEST(MacWrite5Export, HeaderAndFooterBlocksBecomeTheirAreasWithTheirFields) {
    const std::string stream = "\\\x9E\0\0Head\r\rTwo\\_\x02\r\\\x7F"
                               "\\\xA1\0\0\\_\x01\\_\x01" "Foot\\_\x03\r\\\x7F" "Body\r"s;
    const std::string doc = exported(stream);
    EXPECT_EQ(u16at(doc, 2), 2u);
    EXPECT_EQ(u16at(doc, 4), 4u);  // ruler, Head, the empty paragraph, Two
    EXPECT_EQ(u16at(doc, 6), 2u);
    EXPECT_EQ(window_at(doc, 206).info_length, 4u * 16);
    EXPECT_EQ(window_at(doc, 206).heights_length, 2u + 3 * 4);
    // the areas' own rulers come first; paragraphs stack 13 points apart
    EXPECT_EQ(area_entry(doc, 206, 0).offset, 332u);
    EXPECT_EQ(area_entry(doc, 160, 0).offset, 298u);
    const Entry two = area_entry(doc, 206, 3);
    EXPECT_EQ(two.raw.substr(0, 4), std::string("\0\x0D\0\x1A", 4));
    EXPECT_EQ(doc.substr(two.offset + 2, 4), "Two\r");
    // fields as (top, pen) pairs: the pen starts at the left margin, 13, and
    // moves 6 points a letter at 12 points; one page number only
    EXPECT_EQ(doc.substr(206 + 24, 12), std::string("\xFF\xF2\0\x1E\0\x1A\0\x1F\xFF\xF2\x01\xBA", 12));
    EXPECT_EQ(doc.substr(160 + 24, 12), std::string("\0\0\0\x0D\xFF\xF2\0\xEC\0\0\0\x25", 12));
    EXPECT_EQ(read_back(doc), "Body\r");
    const std::string back = convert_import(import_macwrite_5, doc).output;
    EXPECT_NE(back.find("Head\r\rTwo\\_\x02\r\\\x7F"), std::string::npos);
    EXPECT_NE(back.find("\\_\x01" "Foot\\_\x03\r\\\x7F"), std::string::npos);
}

TEST(MacWrite5Export, BlankBlocksLeaveTheDocumentAsWithoutThem) {
    // blank paragraphs, a centring tag, a page break: nothing to show
    const std::string blank = "\\\x9E\0\0\r\\+\r\f\\\x7F\\\xA1\0\0\\\x7F" "AB\r"s;
    EXPECT_EQ(exported(blank), exported("\\+AB\r"));
    // and a field has no place in the main text
    EXPECT_EQ(exported("A\\_\x01" "B\r"s), exported("AB\r"));
}

TEST(MacWrite5Export, EachAreaFollowsTheAlignmentTheStreamSays) {
    // centring said in the header goes on into the main text; a main text
    // centred before a block goes on after it
    const std::string doc = exported("\\\x9E\0\0\\+Title\r\\\x7F" "Body\r"s);
    EXPECT_EQ(area_entry(doc, 206, 1).height, 0);
    EXPECT_EQ(doc[area_entry(doc, 206, 1).offset + 4], 1);
    EXPECT_EQ(main_entry(doc, 1).height, 0);
    EXPECT_EQ(doc[main_entry(doc, 1).offset + 4], 1);
    EXPECT_EQ(paragraph_text(doc, 2), "Body\r");
    const std::string back = exported("\\+One\r\\\xA1\0\0Foot\r\\\x7F" "Two\r"s);
    const std::string read = convert_import(import_macwrite_5, back).output;
    EXPECT_EQ(read.substr(read.find("\\\xA1")),
              "\\\xA1\0\0\\+\\L\x0C\\\x88\0\x02" "Foot\r\\\x7FOne\rTwo\r"s);
}

TEST(MacWrite5Export, AParagraphTooLongForItsFieldsContinuesInANewOne) {
    const std::string text(70000, 'w');
    const std::string doc = exported(text + "\r");
    const Entry first = main_entry(doc, 1);
    EXPECT_LE(first.length, 65535u);
    const std::string back = read_back(doc);
    const size_t cut = back.find('\r');
    ASSERT_NE(cut, std::string::npos);
    EXPECT_EQ(back.substr(7, cut - 7) + back.substr(cut + 1), text + "\r");
}

TEST(MacWrite5Export, MoreParagraphsThanAnArrayCanHoldAreRefused) {
    std::string many;
    for (int i = 0; i < 4094; ++i) many += "p\r";
    const std::string doc = exported(many);
    EXPECT_EQ(u16at(doc, 2), 4095u);
    EXPECT_EQ(u16at(doc, 268), 4095u * 16);
    EXPECT_EQ(read_back(doc).size(), 7u + 2 * 4094);
    EXPECT_EQ(convert(export_macwrite_5, many + "p\r").result, kExportTooManyParagraphs);
}

TEST(MacWrite5Export, ADocumentPast16MBIsRefusedWhenItsTextGetsThere) {
    // 17 MB of text, continued in paragraphs of 64 KB: few enough entries
    const Converted c = convert(export_macwrite_5, std::string(17u << 20, 'w'));
    EXPECT_EQ(c.result, kExportTooLong);
    EXPECT_LE(c.output.size(), 1u << 24);
}

}  // namespace
