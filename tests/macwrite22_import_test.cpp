// The MacWrite 2.2 import on documents built from the file layout.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "tests/support/bytes_io.h"
#include "tests/support/mw22_builder.h"

namespace {

using namespace testing_support;

TEST(MacWrite22, NoRecordsWriteNothing) {
    const Converted c = convert(import_macwrite_22, Mw22Builder().build());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, "");
}

TEST(MacWrite22, RecordsOfKindZeroLeaveNoTrace) {
    Mw22Builder doc;
    doc.skipped().paragraph("a\r").skipped().skipped().paragraph("b\r");
    EXPECT_EQ(convert(import_macwrite_22, doc.build()).output, "a\rb\r");
}

TEST(MacWrite22, OnlyBytesFrom128GoThroughTheTable) {
    Mw22Builder doc;
    doc.paragraph("A\x8E\tz\r");
    EXPECT_EQ(convert(import_macwrite_22, doc.build()).output, "A\xE9\tz\r");
}

TEST(MacWrite22, ABackslashBecomesTheBackslashTag) {
    Mw22Builder doc;
    doc.paragraph("C:\\DOS\r");
    const std::string out = convert(import_macwrite_22, doc.build()).output;
    EXPECT_EQ(out, "C:\\\\DOS\r");
}

TEST(MacWrite22, PadBytesKeepTheRecordsInStep) {
    // Text lengths of both parities, trailing blocks of both parities.
    Mw22Builder doc;
    doc.paragraph("one\r", 6, 1).paragraph("four\r", 5, 2).paragraph("x\r", 3, 3).paragraph("last\r", 0, 0);
    EXPECT_EQ(convert(import_macwrite_22, doc.build()).output, "one\rfour\rx\rlast\r");
}

TEST(MacWrite22, CountsBeyondTheRecordsEndAtTheEndOfTheFile) {
    Mw22Builder doc;
    doc.paragraph("only\r").count(65535);
    const Converted c = convert(import_macwrite_22, doc.build());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, "only\r");
}

TEST(MacWrite22, TextThatSpellsTheMacBinaryTypeIsNoMacBinaryHeader) {
    // records from byte 6, so the text covers bytes 65-72 of the file
    const std::string text = std::string(53, 'a') + "WORDMACA" + std::string(100, 'z') + "\r";
    const std::string doc = Mw22Builder().list_position(6).paragraph(text).build();
    ASSERT_EQ(doc.substr(65, 8), "WORDMACA");
    const Converted c = convert(import_macwrite_22, doc);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, text);
    EXPECT_EQ(macwrite_bid_22(reinterpret_cast<const uint8_t *>(doc.data()), doc.size()), 50);
}

}  // namespace
