// Recognition by the first bytes, kept apart from conversion.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw5_builder.h"

namespace {

using namespace testing_support;

int32_t bid(int32_t (*fn)(const uint8_t *, size_t), const std::string &bytes) {
    return fn(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

TEST(Recognition, EachGenerationBidsForItsOwnDocumentsOnly) {
    const std::string five = Mw5Builder().text(Area::Main, "x\r").build();
    const std::string old = Mw22Builder().paragraph("x\r").build();
    EXPECT_EQ(bid(macwrite_bid_5, five), 100);
    EXPECT_EQ(bid(macwrite_bid_22, five), 0);
    EXPECT_GT(bid(macwrite_bid_22, old), 0);
    EXPECT_EQ(bid(macwrite_bid_5, old), 0);
    EXPECT_EQ(bid(macwrite_bid_5, macbinary_wrap(five, "WORDMACA")), 100);
    EXPECT_EQ(bid(macwrite_bid_22, macbinary_wrap(old, "WORDMACA")), 100);
}

TEST(Recognition, AVersionWordOfSixAloneIsNotEnough) {
    std::string doc = Mw5Builder().text(Area::Main, "x\r").text(Area::Header, "h\r").build();
    doc[4] = 0;
    doc[5] = 2;  // header count no longer matches its information array
    EXPECT_EQ(bid(macwrite_bid_5, doc), 0);
    std::string help(600, '\0');
    help[1] = 6;
    help[3] = 0x61;
    EXPECT_EQ(bid(macwrite_bid_5, help), 0);
}

TEST(Recognition, AnInformationArrayMayHaveRoomToSpareAndPass32KB) {
    Mw5Builder spare;
    spare.text(Area::Main, "a\r").text(Area::Main, "b\r").count(Area::Main, 1);
    EXPECT_EQ(bid(macwrite_bid_5, spare.build()), 100);
    Mw5Builder long_doc;
    for (int i = 0; i < 3000; ++i) long_doc.text(Area::Main, "p\r");
    EXPECT_EQ(bid(macwrite_bid_5, long_doc.build()), 100);
    std::string ragged = spare.build();
    ragged[252 + 17] = 40;  // not a whole number of entries
    EXPECT_EQ(bid(macwrite_bid_5, ragged), 0);
}

TEST(Recognition, ShortOrEmptyInputIsNobodysDocument) {
    for (size_t n : {0u, 1u, 5u, 200u}) {
        const std::string head = Mw5Builder().build().substr(0, n);
        EXPECT_EQ(bid(macwrite_bid_5, head), 0);
    }
    EXPECT_EQ(bid(macwrite_bid_22, std::string("\0\3", 2)), 0);
}

}  // namespace
