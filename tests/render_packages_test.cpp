// The DOCX and ODT packages: their parts, their metadata, the same bytes for
// the same stream, ODT's shared automatic styles, failed writes.  What
// LibreOffice and pandoc make of them is in render_tools_test.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>

#include "tests/support/packages.h"
#include "tests/support/render_documents.h"

namespace {

using namespace testing_support;

size_t count(const std::string &text, const std::string &pattern) {
    const std::regex re(pattern);
    const auto found = std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator());
    return static_cast<size_t>(found);
}

TEST(Packages, DocxHasAPartForEachBlockTheDocumentHas) {
    const auto full = zip_entries(docx_of(every_attribute_stream()));
    EXPECT_EQ(entry_names(full),
              (std::vector<std::string>{"[Content_Types].xml", "_rels/.rels", "docProps/core.xml", "docProps/app.xml",
                                        "word/document.xml", "word/_rels/document.xml.rels", "word/styles.xml",
                                        "word/settings.xml", "word/fontTable.xml", "word/footnotes.xml",
                                        "word/header1.xml", "word/footer1.xml"}));
    EXPECT_EQ(count(entry(full, "word/document.xml"), "<w:footnoteReference "), 2u);
    EXPECT_EQ(count(entry(full, "word/footnotes.xml"), "<w:footnote w:id=\"[12]\">"), 2u);

    // Without header, footer or notes, nothing names those parts.
    const auto plain = zip_entries(docx_of("Hello\r"));
    ASSERT_EQ(plain.size(), 9u);
    for (const ZipEntry &e : plain)
        EXPECT_EQ(count(e.data, "footnotes|header1|footer1|headerReference|footerReference"), 0u) << e.name;
}

TEST(Packages, OdtStartsWithItsMediaTypeStored) {
    const std::string odt = odt_of(every_attribute_stream());
    const auto entries = zip_entries(odt);
    EXPECT_EQ(entry_names(entries), (std::vector<std::string>{"mimetype", "META-INF/manifest.xml", "content.xml",
                                                              "styles.xml", "meta.xml"}));
    ASSERT_FALSE(entries.empty());
    EXPECT_TRUE(entries[0].stored);
    // Where programs that sniff a file's type look for it: the first local
    // header's name and its data, uncompressed.
    EXPECT_EQ(odt.substr(30, 47), "mimetypeapplication/vnd.oasis.opendocument.text");
    const std::string styles = entry(entries, "styles.xml");
    EXPECT_EQ(count(styles, "<style:header>"), 1u);
    EXPECT_EQ(count(styles, "<style:footer>"), 1u);
    EXPECT_EQ(count(entry(entries, "content.xml"), "<text:note "), 2u);
}

TEST(Packages, MetadataNamesTheDocumentAndTheProgram) {
    render::RenderOptions o;
    o.title = "<Memo & Co> \x01";
    o.version = "9.9";
    const auto docx = zip_entries(docx_of("Hello\r", o)), odt = zip_entries(odt_of("Hello\r", o));
    const std::string title = "&lt;Memo &amp; Co&gt; \xEF\xBF\xBD";
    EXPECT_NE(entry(docx, "docProps/core.xml").find("<dc:title>" + title + "</dc:title>"), std::string::npos);
    EXPECT_NE(entry(docx, "docProps/app.xml").find("<Application>mwconv 9.9</Application>"), std::string::npos);
    EXPECT_NE(entry(odt, "meta.xml").find("<dc:title>" + title + "</dc:title>"), std::string::npos);
    EXPECT_NE(entry(odt, "meta.xml").find("<meta:generator>mwconv/9.9</meta:generator>"), std::string::npos);
}

TEST(Packages, TheSameStreamGivesTheSameBytesInAnyTimeZone) {
    const std::string stream = every_attribute_stream();
    const char *saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    std::string docx[2], odt[2];
    const char *zones[] = {"UTC0", "NZST-12NZDT,M9.5.0,M4.1.0/3"};
    for (int i = 0; i < 2; ++i) {
        ::setenv("TZ", zones[i], 1);
        ::tzset();
        docx[i] = docx_of(stream);
        odt[i] = odt_of(stream);
    }
    if (saved != nullptr) ::setenv("TZ", before.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
    ASSERT_FALSE(docx[0].empty());
    EXPECT_EQ(docx[0], docx[1]);
    EXPECT_EQ(odt[0], odt[1]);
    EXPECT_EQ(docx[0], docx_of(stream));
}

TEST(Packages, OdtMakesOneAutomaticStyleForEachDistinctStyle) {
    std::string stream;
    for (int i = 0; i < 50; ++i)
        stream += tag(i % 2 == 0 ? 0x2B : 0x2C) + "a " + styled(0x23, "bold") + " " + styled(0x2F, "italic") + "\r";
    const std::string content = entry(zip_entries(odt_of(stream)), "content.xml");
    EXPECT_EQ(count(content, "style:family=\"text\""), 2u);
    EXPECT_EQ(count(content, "style:family=\"paragraph\""), 2u);
    EXPECT_EQ(count(content, "<text:span "), 100u);
}

TEST(Packages, AWriteThatFailsIsReported) {
    std::FILE *full = std::fopen("/dev/full", "w+b");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    for (auto render : {render::to_docx, render::to_odt}) {
        std::FILE *in = stream_of(every_attribute_stream());
        EXPECT_FALSE(render(in, full, {}));
        std::fclose(in);
    }
    std::fclose(full);
}

}  // namespace
