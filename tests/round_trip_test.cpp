// Through the export and back: our own import, and libmwaw as a real client
// of what the export writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "catalogue/catalogue.h"
#include "host/stream_reader.h"
#include "render/text_import.h"
#include "tests/support/bytes_io.h"
#include "tests/support/corpus.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"
#include "tests/support/styled_text.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::string_literals;

std::string import_any(const std::string &doc) {
    Converted c = convert(import_macwrite_5, doc);
    EXPECT_EQ(c.result, 0);
    return c.output;
}

std::string round_trip(const std::string &stream) {
    const Converted exported = convert(export_macwrite_5, stream);
    EXPECT_EQ(exported.result, 0);
    return import_any(exported.output);
}

TEST(RoundTrip, EveryRealDocumentKeepsTextStylesCentringAreasAndFields) {
    if (!fs::is_directory(corpus_dir())) GTEST_SKIP() << "no corpus at " << corpus_dir();
    int seen = 0;
    for (const char *folder : {"macwrite5", "macwrite22", "macbinary"})
        for (const auto &entry : fs::directory_iterator(corpus_dir() / folder)) {
            SCOPED_TRACE(entry.path().string());
            const std::string first = import_any(read_file(entry.path()));
            const std::string second = round_trip(first);
            EXPECT_EQ(first_difference(styled_text(second), as_exported(styled_text(first))), "");
            ++seen;
        }
    EXPECT_EQ(seen, 8);
}

TEST(RoundTrip, BuiltDocumentWithEveryKindOfParagraph) {
    RulerSpec centred;
    centred.justification = 1;
    Mw5Builder doc;
    doc.text(Area::Header, "Head\r")
        .field(Area::Header, 2, 0, 200)
        .ruler(Area::Footer, centred)
        .text(Area::Footer, "Page \r")
        .field(Area::Footer, 1, 0, 40)
        .ruler(Area::Main, centred)
        .text(Area::Main, "Title\r", {{0, 12, 0x01, 3}})
        .text(Area::Main, "\r")
        .ruler(Area::Main, RulerSpec{})
        .text(Area::Main, "x2 H2O \x8E \xD2q\xD3\r", {{0, 12, 0, 3}, {1, 12, 0x20, 3}, {2, 12, 0, 3}, {4, 12, 0x40, 3}, {5, 12, 0x06, 3}})
        .text(Area::Main, "right\r", {}, 0x42)
        .text(Area::Main, "centre\r", {}, 0x41)
        .picture(Area::Main, 22)
        .compressed(Area::Main, "the rest\r");
    const std::string first = import_any(doc.build());
    ASSERT_NE(first.find("Page \\_\x01\r"), std::string::npos);
    EXPECT_EQ(first_difference(styled_text(round_trip(first)), styled_text(first)), "");
}

// The bodies of a stream's pictures, in order.
std::vector<std::string> inserts(const std::string &stream) {
    std::FILE *f = stream_of(stream);
    kavrel::stream::Reader reader(f);
    kavrel::stream::Event ev;
    std::vector<std::string> out;
    while (reader.next(ev))
        if (ev.kind == kavrel::stream::EventKind::Insert && !is_geometry(ev)) out.push_back(ev.insert);
    std::fclose(f);
    return out;
}

const char *const kPictureDocuments[] = {"macwrite5/DiskCopyReader__MW45disk__About_MacWrite",
                                         "macwrite5/Classic-Mac-C-Compendium__Pict_Help_MacWrite"};

TEST(RoundTrip, PicturesSurviveTheExport) {
    if (!fs::is_directory(corpus_dir())) GTEST_SKIP() << "no corpus at " << corpus_dir();
    size_t pictures = 0;
    for (const char *name : kPictureDocuments) {
        SCOPED_TRACE(name);
        const std::string first = import_any(read_file(corpus_dir() / name));
        const auto before = inserts(first);
        EXPECT_EQ(inserts(round_trip(first)), before);
        pictures += before.size();
    }
    EXPECT_EQ(pictures, 7u);
}

bool have_mwaw2text() { return std::system("command -v mwaw2text >/dev/null 2>&1") == 0; }

// What libmwaw's mwaw2text makes of the document that the export writes from
// `text`, blank lines aside (it shows page breaks and empty header and footer
// as blank lines).
std::string libmwaw_text(const std::string &text) {
    std::FILE *in = stream_of(text);
    std::FILE *stream = kavrel::open_scratch_stream();
    EXPECT_EQ(render::text_to_stream(in, stream), -1);
    std::rewind(stream);
    std::FILE *doc = kavrel::open_scratch_stream();
    EXPECT_EQ(export_macwrite_5(stream, doc), 0);
    ScratchDir dir;
    const std::string path = dir.write("doc.mw", contents(doc));
    std::fclose(in);
    std::fclose(stream);
    std::fclose(doc);
    const std::string out = dir.file("out.txt");
    EXPECT_EQ(std::system(("mwaw2text '" + path + "' >'" + out + "' 2>/dev/null").c_str()), 0);
    std::string result;
    for (char c : read_file(out)) {
        if (c == '\n' && (result.empty() || result.back() == '\n')) continue;
        result += c;
    }
    return result;
}

TEST(LibmwawClient, ReadsBackWhatTheExportWrites) {
    if (!have_mwaw2text()) GTEST_SKIP() << "mwaw2text (libmwaw-tools) is not installed";
    const std::vector<std::string> texts = {
        "Plain text, one line.\nAnd a second, with a tab:\there.\n",
        "Accents: \xC3\xA9\xC3\xA8\xC3\xAA \xC3\xB1 \xC3\xBC \xC3\x85 \xC3\x9F \xC3\xA6\xC3\xB8\n",
        "Typography: \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x80\x98single\xE2\x80\x99 \xE2\x80\x94 dash \xE2\x80\xA6 \xE2\x80\xA0\xE2\x84\xA2\n",
        "Greek: \xCE\xB1\xCE\xB2\xCE\xB3 \xCE\xA9 \xCF\x80 \xCE\xBB\xCE\xBC\n",
        "Before the break\n\fAfter the break\n",
        "A rather long paragraph " + std::string(3000, 'z') + " ends here.\n",
    };
    // mwaw2text has no page-break character: a break reads as a line break
    for (std::string text : texts) {
        const std::string got = libmwaw_text(text);
        std::erase(text, '\f');
        EXPECT_EQ(got, text);
    }
}

TEST(LibmwawClient, ReadsEveryParagraphOfADocumentPast2047) {
    if (!have_mwaw2text()) GTEST_SKIP() << "mwaw2text (libmwaw-tools) is not installed";
    std::string text;
    for (int i = 1; i <= 3000; ++i) text += "p" + std::to_string(i) + "\n";
    EXPECT_EQ(libmwaw_text(text), text);
}

TEST(LibmwawClient, ReadsHeaderAndFooterAsSuchWithTheirFields) {
    if (!have_mwaw2text()) GTEST_SKIP() << "mwaw2text (libmwaw-tools) is not installed";
    const std::string stream = "\\\x9E\0\0Running head\\_\x02\r\\\x7F\\\xA1\0\0Page \\_\x01\r\\\x7F" "Body text\r"s;
    const Converted doc = convert(export_macwrite_5, stream);
    ScratchDir dir;
    const std::string path = dir.write("doc.mw", doc.output);
    const std::string out = dir.file("out.raw");
    ASSERT_EQ(std::system(("mwaw2raw '" + path + "' >'" + out + "' 2>/dev/null").c_str()), 0);
    const std::string raw = read_file(out);
    // each area between its own opening and closing call, in order
    const size_t header = raw.find("openHeader"), header_end = raw.find("closeHeader");
    const size_t footer = raw.find("openFooter"), footer_end = raw.find("closeFooter");
    const size_t body = raw.find("Body text");
    ASSERT_NE(header_end, std::string::npos);
    ASSERT_NE(footer_end, std::string::npos);
    auto within = [&](const std::string &what, size_t from, size_t to) {
        const size_t at = raw.find(what, from);
        return at != std::string::npos && at < to;
    };
    EXPECT_TRUE(within("Running head", header, header_end));
    EXPECT_TRUE(within("field-type: text:date", header, header_end));
    EXPECT_TRUE(within("Page", footer, footer_end));
    EXPECT_TRUE(within("field-type: text:page-number", footer, footer_end));
    EXPECT_GT(body, footer_end);
    // mwaw2text prints the header's and footer's text ahead of the body
    ASSERT_EQ(std::system(("mwaw2text '" + path + "' >'" + out + "' 2>/dev/null").c_str()), 0);
    const std::string text = read_file(out);
    EXPECT_LT(text.find("Running head"), text.find("Body text"));
    EXPECT_LT(text.find("Page"), text.find("Body text"));
}

// libmwaw's raw listing names each picture with its bytes: the exported
// document must show the very pictures of the original.
TEST(LibmwawClient, ReadsThePicturesTheExportWrites) {
    if (!have_mwaw2text()) GTEST_SKIP() << "mwaw2text (libmwaw-tools) is not installed";
    if (!fs::is_directory(corpus_dir())) GTEST_SKIP() << "no corpus at " << corpus_dir();
    ScratchDir dir;
    auto pictures = [&](const std::string &path) {
        const std::string out = dir.file("raw.txt");
        EXPECT_EQ(std::system(("mwaw2raw '" + path + "' >'" + out + "' 2>/dev/null").c_str()), 0);
        std::vector<std::string> found;
        const std::string raw = read_file(out);
        for (size_t at = raw.find("insertBinaryObject("); at != std::string::npos; at = raw.find("insertBinaryObject(", at + 1))
            found.push_back(raw.substr(at, raw.find(')', at) - at));
        return found;
    };
    for (const char *name : kPictureDocuments) {
        SCOPED_TRACE(name);
        const fs::path original = corpus_dir() / name;
        const Converted exported = convert(export_macwrite_5, import_any(read_file(original)));
        const auto expected = pictures(original.string());
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(pictures(dir.write("doc.mw", exported.output)), expected);
    }
}

TEST(LibmwawClient, ReadsCentredParagraphs) {
    if (!have_mwaw2text()) GTEST_SKIP() << "mwaw2text (libmwaw-tools) is not installed";
    // centred title, then left text: libmwaw reads both texts; the alignment
    // goes through our own import, which reads what libmwaw reads
    const std::string stream = "\\+Centred title\r\\,Left body\r";
    const Converted doc = convert(export_macwrite_5, stream);
    ScratchDir dir;
    const std::string path = dir.write("doc.mw", doc.output);
    const std::string out = dir.file("out.html");
    ASSERT_EQ(std::system(("mwaw2html '" + path + "' >'" + out + "' 2>/dev/null").c_str()), 0);
    const std::string html = read_file(out);
    const size_t title = html.find("Centred title"), body = html.find("Left body");
    ASSERT_NE(title, std::string::npos);
    ASSERT_NE(body, std::string::npos);
    // each paragraph's class, and that class's alignment in the style sheet
    auto alignment = [&](size_t text_at) {
        const size_t cls = html.rfind("<p class=\"", text_at) + 10;
        const std::string name = html.substr(cls, html.find('"', cls) - cls);
        const size_t rule = html.find("." + name + " {");
        return html.substr(html.find("text-align:", rule) + 11, 6);
    };
    EXPECT_EQ(alignment(title), "center");
    EXPECT_EQ(alignment(body), "left; ");
}

}  // namespace
