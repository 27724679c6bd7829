// The MacWrite 2.2 import on documents built from the file layout.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "tests/support/bytes_io.h"
#include "tests/support/mw22_builder.h"

namespace {

using namespace testing_support;
using namespace std::string_literals;

const std::string kEmptyBlocks("\\\x9E\0\0\\\x7F\\\xA1\0\0\\\x7F", 12);

// The stream of a document's main text, after its empty header and footer.
std::string main_text(const Mw22Builder &doc) {
    const Imported c = convert_import(import_macwrite_22, doc.build());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output.substr(0, kEmptyBlocks.size()), kEmptyBlocks);
    return c.output.substr(kEmptyBlocks.size());
}

TEST(MacWrite22, NoRecordsWriteOnlyTheEmptyBlocks) {
    const Imported c = convert_import(import_macwrite_22, Mw22Builder().build());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, kEmptyBlocks);
}

TEST(MacWrite22, ANeutralRulerLeavesNoTraceAndKeepsTheRecordsInStep) {
    Mw22Builder doc;
    doc.ruler(Area::Main).paragraph("a\r").ruler(Area::Main).ruler(Area::Main).paragraph("b\r");
    EXPECT_EQ(main_text(doc), "a\rb\r");
}

TEST(MacWrite22, CharactersGoThroughTheFontsTable) {
    Mw22Builder doc;
    doc.paragraph("A\x8E\tz\r").text(Area::Main, "ab\r", {{0, 12, 0, 23}});
    EXPECT_EQ(main_text(doc), "A\xE9\tz\r\\L\x0C\\\x88\0\x17\\ \x03\xB1\\ \x03\xB2\r"s);
}

TEST(MacWrite22, ABackslashBecomesTheBackslashTag) {
    Mw22Builder doc;
    doc.paragraph("C:\\DOS\r");
    EXPECT_EQ(main_text(doc), "C:\\\\DOS\r");
}

TEST(MacWrite22, PadBytesKeepTheRecordsInStep) {
    // Text lengths of both parities, trailing blocks of both parities.
    Mw22Builder doc;
    doc.paragraph("one\r", 6, 1).paragraph("four\r", 5, 2).paragraph("x\r", 3, 3).paragraph("last\r", 0, 0);
    EXPECT_EQ(main_text(doc), "one\rfour\rx\rlast\r");
}

TEST(MacWrite22, CountsBeyondTheRecordsEndAtTheEndOfTheFile) {
    Mw22Builder doc;
    doc.paragraph("only\r").count(65535);
    const Imported c = convert_import(import_macwrite_22, doc.build());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, kEmptyBlocks + "only\r");
}

TEST(MacWrite22, HeaderFooterAndMainWithTheirRunsAndRulers) {
    RulerSpec centred;
    centred.left_margin = 36;   // column 6
    centred.justification = 1;
    centred.line_spacing = 2;
    centred.tabs = {144};       // column 20, 14 from the margin
    Mw22Builder doc;
    doc.text(Area::Main, "Body\r", {{0, 10, 0x01, 3}, {2, 10, 0x06, 3}})
        .ruler(Area::Header, centred)
        .text(Area::Header, "Head\r")
        .text(Area::Footer, "Foot\r", {{0, 9, 0, 21}});
    const Imported c = convert_import(import_macwrite_22, doc.build());
    EXPECT_EQ(c.result, 0);
    // the ruler's alignment holds on through the footer and the main text
    EXPECT_EQ(c.output, "\\\x9E\0\0\\M\x10\\\x80\x01\x0E\\+Head\r\\\x7F"
                        "\\\xA1\0\0\\L\x09\\\x88\0\x15" "Foot\r\\\x7F"
                        "\\L\x0A\\\x88\0\x03\\#Bo\\$\\/\\%dy\\0\\&\r"s);
}

TEST(MacWrite22, RunListsThatAreNotRunListsLeaveTheTextPlain) {
    std::string uneven(7, '\0');
    std::string backwards = run_list_bytes({{2, 12, 1, 3}, {1, 12, 0, 3}}).substr(2);
    Mw22Builder doc;
    doc.text_with_block(Area::Main, "ab\r", uneven).text_with_block(Area::Main, "cd\r", backwards).paragraph("e\r");
    EXPECT_EQ(main_text(doc), "ab\rcd\re\r");
}

TEST(MacWrite22, FieldsStandWhereTheWindowRecordsPlaceThem) {
    // the pen: 6 points a letter and 3 a space at 12 points, from the left
    // margin (0 here); "p. " ends at 15
    Mw22Builder doc;
    doc.text(Area::Header, "Memo\r")
        .field(Area::Header, 2, 3, 200)        // past the text: before its return
        .field(Area::Header, 3, 3, -1)         // not placed
        .text(Area::Footer, "\r")
        .text(Area::Footer, "p. \r")
        .field(Area::Footer, 1, 16, 15)        // second paragraph, after "p. "
        .paragraph("Body\r");
    const Imported c = convert_import(import_macwrite_22, doc.build());
    EXPECT_EQ(c.output, "\\\x9E\0\0Memo\\_\x02\r\\\x7F\\\xA1\0\0\rp. \\_\x01\r\\\x7F" "Body\r"s);
    // a header with no text paragraph keeps its field at its end
    Mw22Builder bare;
    bare.ruler(Area::Header).field(Area::Header, 1, 0, 40);
    EXPECT_EQ(convert_import(import_macwrite_22, bare.build()).output, "\\\x9E\0\0\\_\x01\\\x7F\\\xA1\0\0\\\x7F"s);
}

TEST(MacWrite22, TextThatSpellsTheMacBinaryTypeIsNoMacBinaryHeader) {
    // records from byte 6, so the text covers bytes 65-72 of the file
    const std::string text = std::string(53, 'a') + "WORDMACA" + std::string(100, 'z') + "\r";
    const std::string doc = Mw22Builder().list_position(6).paragraph(text).build();
    ASSERT_EQ(doc.substr(65, 8), "WORDMACA");
    const Imported c = convert_import(import_macwrite_22, doc);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, kEmptyBlocks + text);
    EXPECT_EQ(macwrite_bid_22(reinterpret_cast<const uint8_t *>(doc.data()), doc.size()), 50);
}

TEST(MacWrite22, TextThatSpellsACutMacBinaryHeaderIsReadAsItIs) {
    // The first text ends at 73: its pad byte, then the block lengths put
    // zeros at 74 and 82 and a data length past the end at 83, so the first
    // 128 bytes read as a sound MacBinary header of a copy cut short.
    const std::string first = std::string(53, 'a') + "WORDMACA", second = std::string(100, 'z') + "\r";
    const std::string doc = Mw22Builder().list_position(6).paragraph(first).paragraph(second).build();
    ASSERT_EQ(doc.substr(65, 8), "WORDMACA");
    ASSERT_EQ(doc[74], 0);
    ASSERT_EQ(doc[82], 0);
    const Imported c = convert_import(import_macwrite_22, doc);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, kEmptyBlocks + first + second);
    EXPECT_EQ(macwrite_bid_22(reinterpret_cast<const uint8_t *>(doc.data()), doc.size()), 50);
}

}  // namespace
