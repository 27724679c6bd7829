// The framing rule as the one reader of the stream applies it.
#include <gtest/gtest.h>

#include <vector>

#include "host/stream_reader.h"
#include "tests/support/bytes_io.h"

namespace {

using kavrel::stream::Event;
using kavrel::stream::EventKind;
using kavrel::stream::Reader;

std::vector<Event> events_of(const std::string &bytes) {
    std::FILE *f = testing_support::stream_of(bytes);
    Reader reader(f);
    std::vector<Event> out;
    Event ev;
    while (reader.next(ev)) out.push_back(ev);
    std::fclose(f);
    return out;
}

TEST(StreamReader, ParameterBytesFollowTheCodeRangesWhateverTheirValue) {
    // 0x50 takes one byte (here 0x5C), 0xB0 two, 0x45 none, then 'x'.
    const auto evs = events_of(std::string("\\P\\\\\xB0\\\\\\Ex", 10));
    ASSERT_EQ(evs.size(), 4u);
    EXPECT_EQ(evs[0].code, 0x50);
    EXPECT_EQ(evs[0].param_count, 1);
    EXPECT_EQ(evs[0].param[0], 0x5C);
    EXPECT_EQ(evs[1].code, 0xB0);
    EXPECT_EQ(evs[1].param_count, 2);
    EXPECT_EQ(evs[2].code, 0x45);
    EXPECT_EQ(evs[3].kind, EventKind::Char);
    EXPECT_EQ(evs[3].ch, 'x');
}

TEST(StreamReader, EveryCodeRangeHasItsParameterCount) {
    struct Case {
        uint8_t code;
        int params;
    };
    for (Case c : {Case{0x00, 1}, Case{0x1F, 1}, Case{0x21, 0}, Case{0x4A, 0}, Case{0x4B, 1}, Case{0x5B, 1},
                   Case{0x5D, 1}, Case{0x7E, 1}, Case{0x7F, 0}, Case{0x80, 2}, Case{0xBF, 2}, Case{0xC1, 2},
                   Case{0xFF, 2}}) {
        std::string bytes = {'\\', static_cast<char>(c.code)};
        bytes += std::string(static_cast<size_t>(c.params), '\x01');
        bytes += 'z';
        const auto evs = events_of(bytes);
        ASSERT_EQ(evs.size(), 2u) << "code " << int(c.code);
        EXPECT_EQ(evs[0].param_count, c.params);
        EXPECT_EQ(evs[1].ch, 'z');
    }
}

TEST(StreamReader, CharactersOfEverySetAndTheBackslash) {
    const auto evs = events_of(std::string("\xE9\\ \x20\x1C\\\\\r\n\t\f", 11));
    ASSERT_EQ(evs.size(), 7u);
    EXPECT_EQ(evs[0].ch, 0xE9);
    EXPECT_EQ(evs[1].ch, 0x201C);
    EXPECT_EQ(evs[2].kind, EventKind::Char);
    EXPECT_EQ(evs[2].ch, '\\');
    EXPECT_EQ(evs[3].kind, EventKind::ParagraphEnd);
    EXPECT_EQ(evs[4].kind, EventKind::LineEnd);
    EXPECT_EQ(evs[5].kind, EventKind::Tab);
    EXPECT_EQ(evs[6].kind, EventKind::PageBreak);
}

TEST(StreamReader, InsertCarriesItsOwnLengthAndBody) {
    const auto evs = events_of(std::string("\\\xC0\0\0\0\x03\\\\\\Q", 10));
    ASSERT_EQ(evs.size(), 2u);
    EXPECT_EQ(evs[0].kind, EventKind::Insert);
    EXPECT_EQ(evs[0].insert, "\\\\\\");
    EXPECT_EQ(evs[1].ch, 'Q');
}

TEST(StreamReader, ATagCutShortByTheEndIsDropped) {
    for (const std::string &bytes : {std::string("a\\"), std::string("a\\\x88\x01"), std::string("a\\\xC0\0\0\0\x09xy", 9)}) {
        const auto evs = events_of(bytes);
        ASSERT_EQ(evs.size(), 1u);
        EXPECT_EQ(evs[0].ch, 'a');
    }
}

}  // namespace
