// The text renderer: where each part of the stream lands in the text.
#include <gtest/gtest.h>

#include "render/render.h"
#include "tests/support/bytes_io.h"

namespace {

using namespace testing_support;

std::string text_of(const std::string &stream) {
    std::FILE *in = stream_of(stream);
    std::FILE *out = kavrel::open_scratch_stream();
    EXPECT_TRUE(render::to_text(in, out));
    const std::string text = contents(out);
    std::fclose(in);
    std::fclose(out);
    return text;
}

TEST(TextRenderer, ParagraphsTabsPageBreaksAndSoftLineEnds) {
    EXPECT_EQ(text_of("one\ttwo\rthree\nfour\r\ffive\r"), "one\ttwo\nthree four\n\ffive\n");
}

TEST(TextRenderer, CharactersOfOtherSetsBecomeUtf8AndTagsVanish) {
    EXPECT_EQ(text_of(std::string("\xE9\\ \x20\x1C\\ \x03\xB1\\\\\\#b\\$\\\x88\0\x5C\\L\x0C\x01\r", 25)),
              "\xC3\xA9\xE2\x80\x9C\xCE\xB1\\b\n");
}

TEST(TextRenderer, HeaderOpensAndFooterClosesTheText) {
    const std::string stream("\\\x9E\0\0Head\r\\\x7F\\\xA1\0\0Foot\r\\\x7FMain\r", 27);
    EXPECT_EQ(text_of(stream), "Head\n\nMain\n\nFoot\n");
    EXPECT_EQ(text_of(std::string("\\\x9E\0\0\\\x7F\\\xA1\0\0\\\x7FMain\r", 17)), "Main\n");
}

TEST(TextRenderer, NoteCallsAreMarkedAndTheirTextsFollowTheMainText) {
    const std::string stream("See\\\xA2\x00\x01" "one\r\\\x7F" " and\\\xA2\x00\x02two\r\\\x7F" ".\r", 29);
    EXPECT_EQ(text_of(stream), "See[1] and[2].\n\n[1] one\n[2] two\n");
}

TEST(TextRenderer, TextWithoutAFinalParagraphEndStillEndsItsLine) {
    EXPECT_EQ(text_of("abc"), "abc\n");
    EXPECT_EQ(text_of(""), "");
}

}  // namespace
