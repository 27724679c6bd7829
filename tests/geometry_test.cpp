// Pages and paragraph geometry: what the readers take from MacWrite's print
// record and rulers, what the renderers make of it, what the export writes
// back, and how LibreOffice and Chromium print our outputs against the
// originals.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "render/styled.h"
#include "tests/support/mw2disk_builder.h"
#include "tests/support/bytes_io.h"
#include "tests/support/corpus.h"
#include "tests/support/geometry_document.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/packages.h"
#include "tests/support/printed_layout.h"
#include "tests/support/run.h"
#include "tests/support/shown_text.h"
#include "tests/support/tools.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

std::string be16s(std::initializer_list<int> words) {
    std::string s;
    for (int w : words) {
        s += static_cast<char>((w >> 8) & 0xFF);
        s += static_cast<char>(w & 0xFF);
    }
    return s;
}

// An ImageWriter's record: 72 dots an inch down, 80 across; the printable
// page 640 by 752 dots on a Letter sheet.
const std::string kPrintRecord = be16s({2, 0, 72, 80, 0, 0, 752, 640, -36, -20, 756, 660});

std::string tag(uint8_t code, int value) { return be16s({0x5C00 | code, value}); }

TEST(Geometry, RulersAndThePrintRecordGiveTheIndentsAndThePage) {
    RulerSpec ruler;
    ruler.left_margin = 36;
    ruler.right_margin = 400;
    ruler.first_line = 54;
    ruler.line_spacing = 1;
    const std::string doc = Mw5Builder()
                                .ruler(Area::Main, ruler)
                                .text(Area::Main, "Hello\r")
                                .header_bytes(8, "\x01")
                                .header_bytes(16, be16s({7}))
                                .header_bytes(40, kPrintRecord)
                                .build();
    const Imported c = convert_import(import_macwrite_5, doc);
    ASSERT_EQ(c.result, 0);
    // Letter; margins 0.5 in, 0.25 in, 4 points, 0.25 in; page 7, a title
    // page; neither header nor footer has height.
    const std::string page = std::string("\\\xC0", 2) + be16s({0, 24}) + "PAGE" +
                             be16s({12240, 15840, 720, 360, 80, 360, 7, 1, 0, 0});
    // Indents from the printable page's edges, 8 inches wide; the first line
    // half an inch in.
    EXPECT_EQ(c.geometry, page + tag(kavrel::code::kLeftIndent, 720) + tag(kavrel::code::kRightIndent, 11520 - 8000) +
                              tag(kavrel::code::kFirstIndent, 360));
    EXPECT_NE(c.output.find("\\\x4D\x0CHello\r"), std::string::npos) << "one and a half spacing";

    // The older generation: the same ruler, its print record after a
    // 20-byte header.
    Mw22Builder old;
    old.ruler(Area::Main, ruler).paragraph("Memo\r");
    std::string old_doc = old.build();
    old_doc.replace(20, kPrintRecord.size(), kPrintRecord);
    const Imported o = convert_import(import_macwrite_22, old_doc);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.geometry.substr(0, 26), page.substr(0, 22) + be16s({1, 0}));
    EXPECT_NE(o.geometry.find(tag(kavrel::code::kFirstIndent, 360)), std::string::npos);
}

// The heights that the page insert of an import gives the header and the
// footer, in twips.
std::pair<int, int> block_heights(const std::string &geometry) {
    const size_t at = geometry.find("PAGE");
    if (at == std::string::npos || at + 24 > geometry.size()) return {-1, -1};
    auto word = [&](size_t i) {
        return static_cast<uint8_t>(geometry[at + 4 + 2 * i]) << 8 | static_cast<uint8_t>(geometry[at + 5 + 2 * i]);
    };
    return {word(8), word(9)};
}

// MacWrite gives a header or footer that shows nothing (no character, no
// picture, no placed field) no room on the page, in both generations; one
// that holds a return alone, a field or a picture keeps its paragraphs'.
TEST(Geometry, AHeaderOrFooterThatShowsNothingTakesNoRoom) {
    auto heights = [](ConverterFn import, const std::string &doc) {
        const Imported c = convert_import(import, doc);
        EXPECT_GE(c.result, 0);
        return block_heights(c.geometry);
    };
    Mw5Builder empty;
    empty.ruler(Area::Header, {}).text(Area::Header, "").ruler(Area::Footer, {}).text(Area::Footer, "");
    empty.text(Area::Main, "Body\r");
    EXPECT_EQ(heights(import_macwrite_5, empty.build()), std::make_pair(0, 0));

    Mw5Builder shown;  // paragraphs of 20 points, a picture of 30
    shown.ruler(Area::Header, {}).text(Area::Header, "\r").text(Area::Header, "");
    shown.ruler(Area::Footer, {}).text(Area::Footer, "").field(Area::Footer, 1, 4, 200);
    shown.text(Area::Main, "Body\r");
    EXPECT_EQ(heights(import_macwrite_5, shown.build()), std::make_pair(800, 400));
    Mw5Builder picture;
    picture.ruler(Area::Header, {}).text(Area::Header, "").picture(Area::Header, 40, -30).text(Area::Main, "Body\r");
    EXPECT_EQ(heights(import_macwrite_5, picture.build()).first, 1000);

    Mw22Builder old_empty;  // paragraphs of 16 points
    old_empty.paragraph("Body\r").ruler(Area::Header).text(Area::Header, "").ruler(Area::Footer).text(Area::Footer, "");
    EXPECT_EQ(heights(import_macwrite_22, old_empty.build()), std::make_pair(0, 0));
    Mw22Builder old_shown;
    old_shown.paragraph("Body\r").ruler(Area::Header).text(Area::Header, "\r").ruler(Area::Footer).text(Area::Footer, "");
    old_shown.field(Area::Footer, 3, 2, 100);
    EXPECT_EQ(heights(import_macwrite_22, old_shown.build()), std::make_pair(320, 320));
}

// A document that MacWrite laid out (tops that rise, or a paragraph of
// several lines) gives its paragraphs the heights of their lines; one that
// another program saved (every top 0, every paragraph one line however long)
// gives none, and the line spacing decides.
TEST(Geometry, LineHeightsComeOnlyFromADocumentThatMacWriteLaidOut) {
    const std::string long_text(400, 'w');
    auto laid_out = [&](bool flat, const std::string &first_lines) {
        Mw5Builder b;
        b.ruler(Area::Main, {}).text(Area::Main, long_text + "\r").lines(Area::Main, first_lines);
        b.text(Area::Main, "Short\r").lines(Area::Main, "\x0B");
        if (flat) b.flat_tops();
        const Imported c = convert_import(import_macwrite_5, b.build());
        EXPECT_EQ(c.result, 0);
        return c.geometry;
    };
    const std::string eleven = tag(kavrel::code::kLineHeight, 220), sixteen = tag(kavrel::code::kLineHeight, 320);
    std::string g = laid_out(false, "\x10");
    EXPECT_NE(g.find(sixteen), std::string::npos) << "tops that rise";
    EXPECT_NE(g.find(eleven), std::string::npos);
    g = laid_out(true, std::string("\x10\x8A", 2));
    EXPECT_NE(g.find(sixteen), std::string::npos) << "a paragraph of ten lines";
    g = laid_out(true, "\x10");
    EXPECT_EQ(g.find(sixteen), std::string::npos) << "no layout";
    EXPECT_EQ(g.find(eleven), std::string::npos) << "no layout";
}

// The geometry of each main-text paragraph as the styled layer gives it.
struct GeometryOf final : render::StyledListener {
    render::PageSetup page;
    std::vector<std::vector<int>> paragraphs;
    bool in_block = false;
    void page_setup(const render::PageSetup &p) override { page = p; }
    void begin_block(render::Block, int) override { in_block = true; }
    void end_block() override { in_block = false; }
    void begin_paragraph(const render::ParagraphStyle &s) override {
        if (!in_block) paragraphs.push_back({s.left_indent, s.right_indent, s.first_indent, s.interline});
    }
    void end_paragraph() override {}
    void text(std::u16string_view, const render::CharStyle &) override {}
    void tab(const render::CharStyle &) override {}
    void line_end(const render::CharStyle &) override {}
    void page_break() override {}
    void note_call(int, const render::CharStyle &) override {}
    void field(render::Field, const render::CharStyle &) override {}
    void picture(const render::Picture &) override {}
    void end_document() override {}
};

GeometryOf geometry_of(const std::string &stream) {
    GeometryOf g;
    std::FILE *in = stream_of(stream);
    render::read_styled(in, g);
    std::fclose(in);
    return g;
}

TEST(Geometry, TheExportWritesThePageAndTheRulersBack) {
    const std::string stream = geometry_document_stream();
    const Converted doc = convert(export_macwrite_5, stream);
    ASSERT_EQ(doc.result, 0);
    const Converted back = convert(import_macwrite_5, doc.output);
    ASSERT_EQ(back.result, 0);
    const GeometryOf before = geometry_of(stream), after = geometry_of(back.output);
    EXPECT_EQ(after.page.width, before.page.width);
    EXPECT_EQ(after.page.height, before.page.height);
    EXPECT_EQ(after.page.left, before.page.left);
    EXPECT_EQ(after.page.right, before.page.right);
    EXPECT_EQ(after.page.top, before.page.top);
    EXPECT_EQ(after.page.bottom, before.page.bottom);
    EXPECT_EQ(after.page.first_page, 7);
    EXPECT_TRUE(after.page.title_page);
    // MacWrite keeps no exact line heights or paragraph spacing: indents and
    // line spacing are what comes back.
    EXPECT_EQ(after.paragraphs, before.paragraphs);
}

TEST(Geometry, EveryFormatShowsEveryGeometry) {
    const std::string stream = geometry_document_stream();
    const auto docx = zip_entries(docx_of(stream));
    const std::string body = entry(docx, "word/document.xml");
    for (const char *want :
         {"<w:pgSz w:w=\"12240\" w:h=\"15840\"/>",
          "<w:pgMar w:top=\"1080\" w:right=\"1080\" w:bottom=\"720\" w:left=\"1440\" w:header=\"720\" w:footer=\"720\"",
          "<w:pgNumType w:start=\"7\"/>", "<w:titlePg/>", "<w:ind w:left=\"720\" w:right=\"1440\"/>",
          "<w:ind w:firstLine=\"360\"/>", "<w:ind w:left=\"720\" w:hanging=\"720\"/>",
          "<w:spacing w:line=\"360\" w:lineRule=\"auto\"/>", "<w:spacing w:line=\"480\" w:lineRule=\"auto\"/>",
          "<w:spacing w:before=\"120\" w:after=\"240\" w:line=\"400\" w:lineRule=\"exact\"/>"})
        EXPECT_NE(body.find(want), std::string::npos) << "DOCX: " << want;

    const auto odt = zip_entries(odt_of(stream));
    const std::string content = entry(odt, "content.xml"), styles = entry(odt, "styles.xml");
    for (const char *want : {"fo:page-width=\"612pt\" fo:page-height=\"792pt\" fo:margin-left=\"72pt\" "
                             "fo:margin-right=\"54pt\" fo:margin-top=\"36pt\" fo:margin-bottom=\"36pt\"",
                             "fo:min-height=\"18pt\"", "style:name=\"First\"", "style:next-style-name=\"Standard\""})
        EXPECT_NE(styles.find(want), std::string::npos) << "ODT styles: " << want;
    for (const char *want : {"style:master-page-name=\"First\"", "style:page-number=\"7\"",
                             "fo:margin-left=\"36pt\" fo:margin-right=\"72pt\"", "fo:text-indent=\"18pt\"",
                             "fo:margin-left=\"36pt\" fo:text-indent=\"-36pt\"", "fo:line-height=\"150%\"",
                             "fo:line-height=\"200%\"", "fo:margin-top=\"6pt\" fo:margin-bottom=\"12pt\" fo:line-height=\"20pt\""})
        EXPECT_NE(content.find(want), std::string::npos) << "ODT content: " << want;

    const std::string rtf = rtf_of(stream);
    for (const char *want : {"\\paperw12240\\paperh15840\\margl1440\\margr1080\\margt1080\\margb720",
                             "\\headery720\\footery720\\pgnstarts7\\pgnrestart\\titlepg", "\\li720\\ri1440",
                             "\\fi360", "\\li720\\fi-720", "\\sl360\\slmult1", "\\sl480\\slmult1",
                             "\\sb120\\sa240\\sl-400\\slmult0"})
        EXPECT_NE(rtf.find(want), std::string::npos) << "RTF: " << want;

    const std::string html = html_of(stream);
    // Every printed page keeps the header's room; on the first, the header
    // itself takes it.
    for (const char *want : {"@page{size:8.5in 11in;margin:0.75in 0.75in 0.5in 1in}", "@page:first{margin-top:0.5in}",
                             "@media print{header.mw-header{margin:0;border:0;min-height:18pt}}",
                             "body{margin:1em auto;width:6.75in}",
                             "margin-left:36pt;margin-right:72pt", "text-indent:18pt", "margin-left:36pt;text-indent:-36pt",
                             "line-height:1.8", "line-height:2.4", "margin-top:6pt;margin-bottom:12pt;line-height:20pt"})
        EXPECT_NE(html.find(want), std::string::npos) << "HTML: " << want;

    // Markdown has no pages: the text alone.
    EXPECT_EQ(markdown_of(stream).find("PAGE"), std::string::npos);
}

// A tab in an indented paragraph: the tab boxes measure from where the
// first line starts (half an inch in, less a quarter inch), and take no
// indent of their own (an inline box inherits the paragraph's text-indent,
// which would shift the text before a tab out of its place).
TEST(Geometry, HtmlTabsStartWhereTheIndentedLineStarts) {
    using namespace geometry_document;
    std::string stream;
    tag2(stream, kavrel::code::kLeftIndent, 720);
    tag2(stream, kavrel::code::kFirstIndent, -360);
    stream += "a\tb\r";
    const std::string html = html_of(stream);
    EXPECT_NE(html.find(".mw-tab{display:inline-block;tab-size:0;text-indent:0}"), std::string::npos) << html;
    EXPECT_NE(html.find(".mw-s1{min-width:18pt}"), std::string::npos) << html;
    EXPECT_NE(html.find("<span class=\"mw-tab mw-s1\">a\t</span>"), std::string::npos) << html;
}

// ---- Printing -------------------------------------------------------------

struct Printed {
    int pages = 0;
    double width = 0, height = 0;  // inches
    double left = 0, right = 0;    // of the text on page 1, inches from the paper's left
};

Printed printed(const std::string &pdf) {
    Printed p;
    const std::string info = run_command("pdfinfo '" + pdf + "' 2>/dev/null");
    std::smatch m;
    if (std::regex_search(info, m, std::regex(R"(Pages:\s+(\d+))"))) p.pages = std::stoi(m[1]);
    if (std::regex_search(info, m, std::regex(R"(Page size:\s+([\d.]+) x ([\d.]+))"))) {
        p.width = std::stod(m[1]) / 72;
        p.height = std::stod(m[2]) / 72;
    }
    const std::string words = run_command("pdftotext -bbox -f 1 -l 1 '" + pdf + "' - 2>/dev/null");
    const std::regex word(R"re(<word xMin="([\d.]+)" yMin="[\d.]+" xMax="([\d.]+)")re");
    p.left = 1e9;
    for (auto it = std::sregex_iterator(words.begin(), words.end(), word); it != std::sregex_iterator(); ++it) {
        p.left = std::min(p.left, std::stod((*it)[1]) / 72);
        p.right = std::max(p.right, std::stod((*it)[2]) / 72);
    }
    return p;
}

// LibreOffice prints each file into `out` (as NAME.pdf), with a profile of
// its own.
void libreoffice_print(const ScratchDir &dir, const std::string &out, const std::vector<std::string> &files) {
    std::string command = "soffice -env:UserInstallation=file://" + dir.file("lo-profile") +
                          " --headless --convert-to pdf --outdir '" + out + "'";
    for (const std::string &f : files) command += " '" + f + "'";
    run_command(command + " >/dev/null 2>&1");
}

std::string stem(const std::string &path) { return fs::path(path).stem().string(); }

// Where our outputs still print on another number of pages than the
// original: the document and the format.  Open work, not what we want.
const std::map<std::string, std::string> kOpenPageDifferences = {};

bool open_difference(const std::string &document, const char *format) {
    const auto it = kOpenPageDifferences.find(fs::path(document).filename().string());
    return it != kOpenPageDifferences.end() && it->second == format;
}

// Whether the author's page `page` opens with lines of a paragraph that
// started on the page before: its first line fitted there, its last did not.
bool opens_with_carried_lines(const StoredLayout &stored, int page) {
    const StoredParagraph *last = nullptr;
    for (const StoredParagraph &p : stored.main) {
        if (p.page >= page) break;
        if (p.kind != StoredParagraph::Ruler) last = &p;
    }
    if (last == nullptr || last->kind != StoredParagraph::Text || last->lines < 2) return false;
    const int bottom = static_cast<int>(stored.rect_height) - stored.footer;
    return last->top + last->height / last->lines <= bottom && last->top + last->height > bottom;
}

void expect_within(const ParagraphStart &s) {
    EXPECT_TRUE(s.within(2)) << "\"" << s.text << "\" stored on page " << s.page + 1 << " at " << s.stored
                             << " pt, printed on page " << s.printed_page + 1 << " at " << s.printed << " pt";
}

// Where a document stores the author's layout, the print starts the first
// page where the author's did: its first paragraph within 2 points of its
// stored top (the room of an empty header, 16 points, was too much).
// LibreOffice prints it on the author's pages (`pages`), and, in DOCX and
// ODT (`starts`), every page that opens with a paragraph of its own starts
// with it at its stored top; a page that opens with the end of a paragraph
// from the page before ends where LibreOffice's lines fill it.  Chromium
// may set the text in fewer lines than the Mac's fonts did, so its page
// count is held only to the original's, by the caller.
void expect_the_authors_pages(const StoredLayout &stored, const std::string &pdf, bool pages, bool starts) {
    if (!stored.readable || !stored.laid_out()) return;
    const LayoutFigures f = measure_layout(stored, printed_lines(pdf));
    if (pages) {
        EXPECT_EQ(f.printed_pages, f.stored_pages) << "the author's pages";
    }
    ASSERT_FALSE(f.paragraphs.empty());
    for (const ParagraphStart &s : f.paragraphs) {
        if (!s.first) continue;
        if (s.page == 0) expect_within(s);
        else if (starts && !opens_with_carried_lines(stored, s.page)) expect_within(s);
    }
}

// How much larger LibreOffice prints the original's page than the document
// says: libmwaw divides MacWrite II's 16.16 page values by 65356.
double original_scale(const std::string &document) {
    return fs::path(document).extension() == ".mw2" ? 65536.0 / 65356.0 : 1.0;
}

// Every corpus document, and the one that LibreOffice prints in its place
// when it cannot read it: the same document without its MacBinary header,
// or our own MacWrite 4.6/5 export of it.
// Where the author's page put the next paragraph: its page, its top
// (points) and its lines' heights, as the stream's LAID insert says.
std::string laid(int page, int top, std::initializer_list<int> lines) {
    std::string body = "LAID" + be16s({page, top});
    for (int h : lines) body += static_cast<char>(h);
    std::string s = "\\";
    s += static_cast<char>(kavrel::code::kInsert);
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((body.size() >> shift) & 0xFF);
    return s + body;
}

// The page of geometry_document (720 points of text, a header of 18 on
// every page but the first): a page the author's starts with a paragraph
// breaks before it, with the room above it; a paragraph whose first line
// did not fit starts the next page; one whose last lines ran over is not
// split, and the paragraph after those lines follows them.  Text shows none
// of it.
TEST(Geometry, OutputsWithPagesStartThePagesTheAuthorsStarted) {
    const std::string stream = geometry_document::page() + laid(0, 0, {16}) + "one\r" + laid(1, 50, {16}) +
                               "two\r" + laid(1, 700, {16, 16}) + "three\r" + laid(2, 34, {16}) + "four\r" +
                               laid(2, 710, {16}) + "five\r" + laid(3, 34, {16}) + "six\r";
    const std::string body = entry(zip_entries(docx_of(stream)), "word/document.xml");
    const auto starts = [&](const char *text) {
        const size_t at = body.find(std::string(">") + text + "<");
        const size_t p = body.rfind("<w:p>", at);
        return at == std::string::npos ? std::string("missing") : body.substr(p, at - p);
    };
    EXPECT_NE(starts("two").find("<w:pageBreakBefore/><w:spacing w:before=\"640\""), std::string::npos) << body;
    EXPECT_NE(starts("five").find("<w:pageBreakBefore/>"), std::string::npos) << body;
    for (const char *text : {"one", "three", "four", "six"})
        EXPECT_EQ(starts(text).find("pageBreakBefore"), std::string::npos) << text << ": " << body;
    const std::string html = html_of(stream);
    size_t breaks = 0;
    for (size_t at = html.find("<div class=\"mw-page-start\"></div>\n<p"); at != std::string::npos;
         at = html.find("<div class=\"mw-page-start\"></div>\n<p", at + 1))
        ++breaks;
    EXPECT_EQ(breaks, 2u) << html;
    EXPECT_EQ(text_of(stream), "one\ntwo\nthree\nfour\nfive\nsix\n");
}

TEST(Geometry, LibreOfficeAndChromiumPrintOurPagesAsTheOriginals) {
    if (!fs::is_directory(corpus_dir())) GTEST_SKIP() << "no corpus at " << corpus_dir();
    REQUIRE_PROGRAM("soffice");
    REQUIRE_PROGRAM("pdftotext");
    ScratchDir dir;
    std::vector<std::string> documents, originals;
    for (const char *folder : {"macwrite5", "macwrite22", "macbinary"})
        for (const auto &e : fs::directory_iterator(corpus_dir() / folder)) documents.push_back(e.path().string());
    std::sort(documents.begin(), documents.end());
    // No MacWrite II document is in the corpus: one as the application writes
    // it, which LibreOffice reads through libmwaw.
    documents.push_back(dir.write("long.mw2", testing_support::long_disk_document().build()));
    fs::create_directories(dir.file("orig"));
    for (size_t i = 0; i < documents.size(); ++i) {
        const std::string copy = dir.file("orig/d" + std::to_string(i));
        fs::copy_file(documents[i], copy);
        originals.push_back(copy);
    }
    libreoffice_print(dir, dir.file("orig-pdf"), originals);
    std::vector<std::string> ours[3];
    const char *formats[3] = {"docx", "odt", "rtf"};
    // A MacBinary file stands for the document it wraps.
    std::map<std::string, size_t> by_name;
    for (size_t i = 0; i < documents.size(); ++i) by_name[fs::path(documents[i]).filename().string()] = i;
    std::vector<size_t> reference(documents.size());
    for (size_t i = 0; i < documents.size(); ++i) {
        const fs::path p(documents[i]);
        const auto bare = by_name.find(p.stem().string());
        reference[i] = p.extension() == ".bin" && bare != by_name.end() ? bare->second : i;
    }
    for (size_t i = 0; i < documents.size(); ++i) {
        const std::string name = "d" + std::to_string(i);
        if (reference[i] == i && !fs::exists(dir.file("orig-pdf/" + name + ".pdf"))) {
            // Not read by LibreOffice: our export of it is.
            const std::string mw5 = dir.file("orig/" + name + ".mw5");
            ASSERT_EQ(run_mwconv(dir, "-t macwrite5 -o '" + mw5 + "' '" + documents[i] + "'").status, 0);
            libreoffice_print(dir, dir.file("orig-pdf"), {mw5});
        }
        for (int f = 0; f < 3; ++f) {
            const std::string out = dir.file(name + "." + formats[f]);
            ASSERT_EQ(run_mwconv(dir, std::string("-t ") + formats[f] + " -o '" + out + "' '" + documents[i] + "'").status, 0);
            ours[f].push_back(out);
        }
    }
    for (int f = 0; f < 3; ++f) libreoffice_print(dir, dir.file(std::string("pdf-") + formats[f]), ours[f]);
    const bool chromium = have_program("chromium");
    for (size_t i = 0; i < documents.size(); ++i) {
        SCOPED_TRACE(documents[i]);
        const std::string name = "d" + std::to_string(i);
        const Printed original = printed(dir.file("orig-pdf/d" + std::to_string(reference[i]) + ".pdf"));
        ASSERT_GT(original.pages, 0);
        const StoredLayout stored = stored_layout(document_data_fork(read_file(documents[i])));
        for (int f = 0; f < 3; ++f) {
            SCOPED_TRACE(formats[f]);
            const std::string pdf = dir.file(std::string("pdf-") + formats[f] + "/" + name + ".pdf");
            expect_the_authors_pages(stored, pdf, true, f < 2);
            const Printed p = printed(pdf);
            if (open_difference(documents[i], formats[f]))
                EXPECT_NEAR(p.pages, original.pages, 1);
            else
                EXPECT_EQ(p.pages, original.pages);
            const double scale = original_scale(documents[i]);
            EXPECT_NEAR(p.width * scale, original.width, 0.01);
            EXPECT_NEAR(p.height * scale, original.height, 0.01);
            EXPECT_NEAR(p.left, original.left, 0.4);
            EXPECT_NEAR(p.right, original.right, 0.4);
        }
        if (!chromium) continue;
        const std::string html = dir.file(name + ".html"), pdf = dir.file(name + ".html.pdf");
        ASSERT_EQ(run_mwconv(dir, "-t html -o '" + html + "' '" + documents[i] + "'").status, 0);
        run_command("chromium --headless --no-sandbox --disable-gpu --no-pdf-header-footer --print-to-pdf='" + pdf +
                    "' 'file://" + html + "' >/dev/null 2>&1");
        expect_the_authors_pages(stored, pdf, false, false);
        const Printed p = printed(pdf);
        // Without a stored layout the lines are the browser's own: Chromium
        // sets them in the Liberation fonts, LibreOffice in its fallbacks for
        // the Mac's families, which are wider.  Such a document must not
        // print on more pages than LibreOffice's import, plus one.  One that
        // stores the author's pages prints on them.
        if (stored.readable && !stored.laid_out())
            EXPECT_LE(p.pages, original.pages + 1) << "HTML";
        else if (stored.readable)
            EXPECT_EQ(p.pages, stored.pages()) << "HTML: the author's pages";
        else
            EXPECT_NEAR(p.pages, original.pages, 1) << "HTML";
        const double scale = original_scale(documents[i]);
        EXPECT_NEAR(p.width * scale, original.width, 0.01) << "HTML";
        EXPECT_NEAR(p.height * scale, original.height, 0.01) << "HTML";
    }
}

// A MacWrite 4.6/5 document as programs other than MacWrite save it: every
// top and page 0, every paragraph one line of 16 points, however long.
std::string saved_without_layout(std::string d) {
    auto u16 = [&](size_t at) { return static_cast<size_t>(static_cast<uint8_t>(d[at]) << 8 | static_cast<uint8_t>(d[at + 1])); };
    auto u32 = [&](size_t at) { return u16(at) << 16 | u16(at + 2); };
    for (const auto &[count_at, window] : {std::pair<size_t, size_t>{2, 252}, {4, 206}, {6, 160}}) {
        for (size_t i = 0, info = u32(window + 12); i < u16(count_at); ++i) d.replace(info + 16 * i + 2, 3, 3, '\0');
        for (size_t at = u32(window + 18), end = at + u16(window + 22); at + 2 <= end;) {
            const size_t n = u16(at);
            if (n > 0) d.replace(at + 2, n, "\x10" + std::string(n - 1, '\x81'));  // 0x81: one line in all
            at += 2 + n + (n & 1);
        }
    }
    return d;
}

// Technical Note 2 saved without its layout prints on the author's five
// pages, give or take one; with every line 16 points high, as the stored
// heights say, its 9- to 12-point text took nine.
TEST(Geometry, ADocumentSavedWithoutItsLayoutPrintsAsTheAuthorsDid) {
    const fs::path original = corpus_dir() / "macwrite5" / "MFSLives__TN.002.Compatibility";
    if (!fs::exists(original)) GTEST_SKIP() << "no corpus at " << corpus_dir();
    REQUIRE_PROGRAM("soffice");
    REQUIRE_PROGRAM("pdfinfo");
    ScratchDir dir;
    const std::string bytes = read_file(original.string());
    const StoredLayout layout = stored_layout(bytes);
    ASSERT_TRUE(layout.laid_out());
    const std::string flat = dir.write("flat", saved_without_layout(bytes));
    ASSERT_FALSE(stored_layout(read_file(flat)).laid_out());
    std::vector<std::string> outputs;
    for (const char *format : {"docx", "odt", "rtf"}) {
        outputs.push_back(dir.file(std::string("flat-") + format + "." + format));
        ASSERT_EQ(run_mwconv(dir, std::string("-t ") + format + " -o '" + outputs.back() + "' '" + flat + "'").status, 0);
    }
    libreoffice_print(dir, dir.file("pdf"), outputs);
    for (const std::string &out : outputs)
        EXPECT_NEAR(printed(dir.file("pdf/" + stem(out) + ".pdf")).pages, layout.pages(), 1) << out;
}

// Lines of 9-point text at an exact line height of 12 points print 12
// points apart in Chromium.  A browser's line is as high as its paragraph's
// own font needs too; with the text's font on a span alone, the default
// 16-pixel font of the paragraph made every line near 13 points high.
TEST(Geometry, ChromiumPrintsHtmlLinesAtTheDocumentsLineHeight) {
    REQUIRE_PROGRAM("chromium");
    REQUIRE_PROGRAM("pdftotext");
    using namespace geometry_document;
    ScratchDir dir;
    std::string stream = page() + "\\\x88" + std::string(1, '\0') + "\x15\\\x4C\x09";
    tag2(stream, code::kLineHeight, 240);
    for (int i = 0; i < 30; ++i) stream += "line " + std::to_string(i) + "\r";
    const std::string in = dir.write("lines.stream", stream), html = dir.file("lines.html"), pdf = dir.file("lines.pdf");
    ASSERT_EQ(run_mwconv(dir, "-f stream -t html -o '" + html + "' '" + in + "'").status, 0);
    run_command("chromium --headless --no-sandbox --disable-gpu --no-pdf-header-footer --print-to-pdf='" + pdf +
                "' 'file://" + html + "' >/dev/null 2>&1");
    const std::string words = run_command("pdftotext -bbox -f 1 -l 1 '" + pdf + "' - 2>/dev/null");
    const std::regex word(R"re(yMin="([\d.]+)" xMax="[\d.]+" yMax="[\d.]+">line</word>)re");
    std::vector<double> tops;
    for (auto it = std::sregex_iterator(words.begin(), words.end(), word); it != std::sregex_iterator(); ++it)
        tops.push_back(std::stod((*it)[1]));
    ASSERT_EQ(tops.size(), 30u) << words;
    EXPECT_NEAR((tops.back() - tops.front()) / 29, 12.0, 0.05);
}

// The builder's document as LibreOffice prints our DOCX, ODT and RTF of it:
// a title page without the header, the next page numbered 8 (LibreOffice
// leaves the RTF's first page number, \pgnstarts, unread: the RTF's own
// test is that it says so).
TEST(Geometry, LibreOfficePrintsTheTitlePageAndThePageNumbers) {
    REQUIRE_PROGRAM("soffice");
    REQUIRE_PROGRAM("pdftotext");
    ScratchDir dir;
    const std::string stream = dir.write("doc.stream", geometry_document_stream());
    std::vector<std::string> files;
    for (const char *format : {"docx", "odt", "rtf"}) {
        const std::string out = dir.file(std::string("doc-") + format + "." + format);
        ASSERT_EQ(run_mwconv(dir, std::string("-f stream -t ") + format + " -o '" + out + "' '" + stream + "'").status, 0);
        files.push_back(out);
    }
    libreoffice_print(dir, dir.file("pdf"), files);
    for (const std::string &f : files) {
        SCOPED_TRACE(f);
        const std::string pdf = dir.file("pdf/" + stem(f) + ".pdf");
        const Printed p = printed(pdf);
        EXPECT_GE(p.pages, 2);
        EXPECT_NEAR(p.width, 8.5, 0.01);
        EXPECT_NEAR(p.left, 1.0, 0.05) << "the page's left margin";
        const std::string first = run_command("pdftotext -f 1 -l 1 '" + pdf + "' - 2>/dev/null");
        const std::string second = run_command("pdftotext -f 2 -l 2 '" + pdf + "' - 2>/dev/null");
        EXPECT_EQ(first.find("Page "), std::string::npos) << "the title page has no header";
        if (f.ends_with(".rtf")) continue;
        EXPECT_NE(second.find("Page 8"), std::string::npos) << "the first page is numbered 7";
    }
}

}  // namespace
