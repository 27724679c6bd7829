// UTF-8 text into the internal stream.
#include <gtest/gtest.h>

#include "render/text_import.h"
#include "tests/support/bytes_io.h"

namespace {

using namespace testing_support;
using namespace std::string_literals;

std::string stream_of_text(const std::string &text, long &bad) {
    std::FILE *in = stream_of(text);
    std::FILE *out = kavrel::open_scratch_stream();
    bad = render::text_to_stream(in, out);
    const std::string s = contents(out);
    std::fclose(in);
    std::fclose(out);
    return s;
}

std::string stream_of_text(const std::string &text) {
    long bad = 0;
    const std::string s = stream_of_text(text, bad);
    EXPECT_EQ(bad, -1);
    return s;
}

TEST(TextImport, LinesTabsAndPageBreaks) {
    EXPECT_EQ(stream_of_text("one\ttwo\nthree\r\nfour\rfive"), "one\ttwo\rthree\rfour\rfive\r");
    EXPECT_EQ(stream_of_text("page\n\fnext\n"), "page\r\fnext\r");
    EXPECT_EQ(stream_of_text("\n\n"), "\r\r");
    EXPECT_EQ(stream_of_text(""), "");
    EXPECT_EQ(stream_of_text("end\f"), "end\f");
}

TEST(TextImport, CharactersBeyondLatin1UseTheirPlane) {
    EXPECT_EQ(stream_of_text("caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D \xCE\xB1\n"),
              "caf\xE9 \\ \x20\x1Cq\\ \x20\x1D \\ \x03\xB1\r"s);
    EXPECT_EQ(stream_of_text("a\\b\n"), "a\\\\b\r");
    EXPECT_EQ(stream_of_text("\xF0\x9F\x98\x80\n"), "\\ \xFF\xFD\r"s);  // beyond the BMP
    EXPECT_EQ(stream_of_text("\xEF\xBB\xBFhi\x01\x7F\xC2\x85!\n"), "hi!\r");  // BOM and controls
}

TEST(TextImport, InvalidUtf8GivesTheOffsetOfTheBadByte) {
    long bad = 0;
    for (const auto &[text, offset] : std::vector<std::pair<std::string, long>>{
             {"ok\xFF", 2}, {"ab\xC3", 2}, {"\xC0\x80", 0}, {"xy\xED\xA0\x80", 2}, {"\xF5\x80\x80\x80", 0}, {"a\xE2\x28\xA1", 1}}) {
        stream_of_text(text, bad);
        EXPECT_EQ(bad, offset) << text;
    }
}

}  // namespace
