// The styled document and the HTML, Markdown and RTF renderers on streams
// built by hand.  What other programs make of the outputs is in
// render_tools_test.cpp.
#include <gtest/gtest.h>

#include <regex>

#include "render/render.h"
#include "render/styled.h"
#include "mactext/utf8.h"
#include "tests/support/pict_builder.h"
#ifdef MWCONV_HAVE_LIBZIP
#include "tests/support/packages.h"
#endif
#include "tests/support/geometry_document.h"
#include "tests/support/render_documents.h"
#include "tests/support/shown_text.h"

namespace {

using namespace testing_support;
using namespace std::string_literals;

// The layer's events as a line of text each.
class Recorder final : public render::StyledListener {
public:
    std::string log;
    void begin_block(render::Block kind, int n) override {
        log += kind == render::Block::Header   ? "header\n"
               : kind == render::Block::Footer ? "footer\n"
                                               : "note " + std::to_string(n) + "\n";
    }
    void end_block() override { log += "end block\n"; }
    void begin_paragraph(const render::ParagraphStyle &p) override {
        log += "paragraph align " + std::to_string(static_cast<int>(p.align)) + " spacing " +
               std::to_string(p.interline) + " tabs";
        for (const render::TabStop &t : p.tabs) log += " " + std::to_string(t.column) + (t.align == render::TabAlign::Decimal ? "d" : "");
        log += "\n";
    }
    void end_paragraph() override { log += "end paragraph\n"; }
    void text(std::u16string_view run, const render::CharStyle &s) override {
        std::string utf8;
        for (char16_t c : run) mactext::append_utf8(utf8, c);
        log += "text '" + utf8 + "' " + style(s) + "\n";
    }
    void tab(const render::CharStyle &) override { log += "tab\n"; }
    void line_end(const render::CharStyle &) override { log += "line end\n"; }
    void page_break() override { log += "page break\n"; }
    void note_call(int n, const render::CharStyle &) override { log += "call " + std::to_string(n) + "\n"; }
    void field(render::Field kind, const render::CharStyle &) override {
        log += "field " + std::to_string(static_cast<int>(kind)) + "\n";
    }
    void picture(const render::Picture &p) override {
        log += "picture " + std::to_string(p.number) + " " + std::to_string(p.width) + "x" + std::to_string(p.height) +
               " " + std::to_string(p.pict.size()) + " bytes\n";
    }
    void end_document() override { log += "end\n"; }

private:
    static std::string style(const render::CharStyle &s) {
        return std::to_string(s.attributes) + " " + std::to_string(s.size) + "pt font " + std::to_string(s.font) +
               (s.face != nullptr ? " " + std::string(s.face->family) : "");
    }
};

std::string events_of(const std::string &stream) {
    Recorder r;
    std::FILE *in = stream_of(stream);
    render::read_styled(in, r);
    std::fclose(in);
    return r.log;
}

TEST(StyledDocument, CarriesTheStreamsStateIntoParagraphsAndRuns) {
    const std::string stream = tag(0x2B) + tag(0x4D, 16) + tag(0x80, 1, 20) + tag(0x80, 4, 30) + tag(0x88, 0, 21) +
                               tag(0x4C, 14) + "a\x01" + tag(0x23) + "b" + unicode(0xD800) + tag(0x3F) + "\t\n" +
                               tag(0x40) + "\r" + tag(0x81, 1, 20) + tag(0x2C) + tag(0x88, 0x12, 0x34) + "c";
    EXPECT_EQ(events_of(stream),
              "paragraph align 1 spacing 16 tabs 20 30d\n"
              "text 'a' 0 14pt font 21 Helvetica\n"
              "text 'b\xEF\xBF\xBD' 1 14pt font 21 Helvetica\n"
              "tab\nline end\nend paragraph\n"
              "paragraph align 0 spacing 16 tabs 30d\n"
              "text 'c' 0 14pt font 4660\n"
              "end paragraph\nend\n");
}

TEST(StyledDocument, BlocksNotesAndFieldsKeepTheirPlaces) {
    const std::string stream = tag(0x9E, 0, 0) + "H" + tag(0xA2, 0, 9) + tag(0x5F, 1) + tag(0x5F, 7) + "\r" +
                               tag(0x7F) + "ab" + tag(0xA2, 0, 200) + "n\rm" + tag(0x7F) + "c" + tag(0xA1, 0, 0) + "F" +
                               tag(0x7F) + "\fd" + tag(0xA2, 0, 0);
    EXPECT_EQ(events_of(stream),
              "header\nparagraph align 0 spacing 8 tabs\ntext 'H' 0 0pt font -1\nfield 1\nend paragraph\nend block\n"
              "paragraph align 0 spacing 8 tabs\ntext 'ab' 0 0pt font -1\ncall 1\nnote 1\n"
              "paragraph align 0 spacing 8 tabs\ntext 'n' 0 0pt font -1\nend paragraph\n"
              "paragraph align 0 spacing 8 tabs\ntext 'm' 0 0pt font -1\nend paragraph\nend block\n"
              "text 'c' 0 0pt font -1\nend paragraph\n"
              "footer\nparagraph align 0 spacing 8 tabs\ntext 'F' 0 0pt font -1\nend paragraph\nend block\n"
              "page break\nparagraph align 0 spacing 8 tabs\ntext 'd' 0 0pt font -1\ncall 2\nnote 2\nend block\n"
              "end paragraph\nend\n");
}

TEST(Renderers, NotesAreNumberedByTheirOrderNotByTheStreamsByte) {
    std::string stream;
    for (int i = 1; i <= 300; ++i)
        stream += "w" + tag(0xA2, 0, static_cast<uint8_t>(i)) + "note " + std::to_string(i) + "\r" + tag(0x7F);
    stream += "\r";
    const std::string text = text_of(stream), md = markdown_of(stream), html = html_of(stream), rtf = rtf_of(stream);
    for (int n : {1, 44, 255, 256, 257, 300}) {
        const std::string k = std::to_string(n);
        EXPECT_NE(text.find("w[" + k + "]"), std::string::npos) << n;
        EXPECT_NE(text.find("\n[" + k + "] note " + k + "\n"), std::string::npos) << n;
        EXPECT_NE(md.find("w[^" + k + "]"), std::string::npos) << n;
        EXPECT_NE(md.find("\n[^" + k + "]: note " + k + "\n"), std::string::npos) << n;
        EXPECT_NE(html.find("href=\"#mw-note-" + k + "\">[" + k + "]</a>"), std::string::npos) << n;
        EXPECT_NE(html.find("id=\"mw-note-" + k + "\">\n<p><a href=\"#mw-ref-" + k + "\">[" + k + "]</a> note " + k +
                            "</p>"),
                  std::string::npos)
            << n;
    }
    EXPECT_EQ(text.find("[301]"), std::string::npos);
    const std::regex footnote(R"(\{\\footnote )");
    EXPECT_EQ(std::distance(std::sregex_iterator(rtf.begin(), rtf.end(), footnote), std::sregex_iterator()), 300);
}

TEST(Renderers, FieldsArePlaceholdersInTextAndRealFieldsInRtf) {
    const std::string stream =
        tag(0x9E, 0, 0) + "p. " + tag(0x5F, 1) + ", " + tag(0x5F, 2) + " " + tag(0x5F, 3) + "\r" + tag(0x7F) + "x\r";
    EXPECT_EQ(text_of(stream), "p. #, <date> <time>\n\nx\n");
    EXPECT_EQ(markdown_of(stream), "p. #, \\<date> \\<time>\n\nx\n");
    const std::string html = html_of(stream);
    EXPECT_NE(
        html.find(
            "<span class=\"mw-field mw-page-number\">#</span>, <span class=\"mw-field mw-date\">&lt;date&gt;</span> "
            "<span class=\"mw-field mw-time\">&lt;time&gt;</span>"),
        std::string::npos);
    EXPECT_NE(
        rtf_of(stream).find(
            "{\\header \\pard\\plain\\kerning1\\ql p. {\\field{\\*\\fldinst PAGE}{\\fldrslt #}}, "
            "{\\field{\\*\\fldinst DATE}{\\fldrslt <date>}} {\\field{\\*\\fldinst TIME}{\\fldrslt <time>}}\\par\n}"),
        std::string::npos);
}

// A picture insert: its kind, the paragraph's rectangle, the picture.
std::string picture_insert(const std::string &pict) {
    const std::string body = "PICT"s + std::string("\0\0\0\0\0\x1E\0\x28", 8) + pict;
    const auto n = static_cast<uint32_t>(body.size());
    return "\\\xC0"s + static_cast<char>(n >> 24) + static_cast<char>(n >> 16) + static_cast<char>(n >> 8) +
           static_cast<char>(n) + body;
}

// A family that the document names itself (MacWrite II names its fonts)
// lives only as long as the read that met it; HTML reads the stream twice,
// and its style sheet, which outlasts the first read, held the family's name
// by a view into it (a use after free under the address sanitizer).
TEST(Html, AFamilyTheDocumentNamesOutlivesTheFirstRead) {
    const std::string body = "FONT"s + std::string("\x01\x2C", 2) + "Garamond Book Condensed";
    const auto n = static_cast<uint32_t>(body.size());
    const std::string font = "\\\xC0"s + static_cast<char>(n >> 24) + static_cast<char>(n >> 16) +
                             static_cast<char>(n >> 8) + static_cast<char>(n) + body;
    const std::string html = html_of(geometry_document::page() + font + tag(0x88, 1, 0x2C) + "Text\r");
    EXPECT_NE(html.find("Garamond Book Condensed"), std::string::npos) << html;
}

// A picture between paragraphs (drawn with a shape) and one inside a
// paragraph (a bitmap alone), in every output.
TEST(Renderers, PicturesAreShownInEveryOutput) {
    const std::string drawn = PictBuilder(1, 0, 0, 30, 40).rect_op(0x30, 2, 2, 20, 20).build();
    const std::string bitmap = PictBuilder(1, 0, 0, 2, 16).bits(false, 2, 16, {"\xFF\x00"s, "\x00\xFF"s}, 0, 0).build();
    const std::string stream = "Before\r" + picture_insert(drawn) + "in " + picture_insert(bitmap) + " line\r";
    EXPECT_EQ(events_of(stream),
              "paragraph align 0 spacing 8 tabs\ntext 'Before' 0 0pt font -1\nend paragraph\n"
              "picture 1 40x30 " + std::to_string(drawn.size()) + " bytes\n"
              "paragraph align 0 spacing 8 tabs\ntext 'in ' 0 0pt font -1\n"
              "picture 2 16x2 " + std::to_string(bitmap.size()) + " bytes\n"
              "text ' line' 0 0pt font -1\nend paragraph\nend\n");
    EXPECT_EQ(text_of(stream), "Before\n[picture 1]\nin [picture 2] line\n");
    EXPECT_EQ(markdown_of(stream), "Before\n\n\\[picture 1\\]\n\nin \\[picture 2\\] line\n");
    render::RenderOptions media;
    media.media_dir = "the media";
    EXPECT_EQ(rendered(stream, [&](std::FILE *in, std::FILE *out) { return render::to_markdown(in, out, media); }),
              "Before\n\n![picture 1](<the media/picture1.svg>)\n\nin ![picture 2](<the media/picture2.svg>) line\n");

    const std::string html = html_of(stream);
    EXPECT_NE(html.find("</p>\n<div class=\"mw-picture\"><svg role=\"img\" aria-label=\"picture 1\" "
                        "xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"40\" height=\"30\""),
              std::string::npos);
    EXPECT_NE(html.find("in <span class=\"mw-picture\"><svg role=\"img\" aria-label=\"picture 2\""), std::string::npos);
    EXPECT_NE(html_of(stream, media).find("<div class=\"mw-picture\"><img src=\"the media/picture1.svg\" width=\"40\" "
                                          "height=\"30\" alt=\"picture 1\"></div>"),
              std::string::npos);

    // the drawing as the picture itself, the bitmap as PNG
    const std::string rtf = rtf_of(stream);
    char size_word[8];
    std::snprintf(size_word, sizeof size_word, "%04zx", drawn.size());
    EXPECT_NE(rtf.find("\\par\n\\pard\\plain {\\pict\\macpict\\picw40\\pich30\\picwgoal800\\pichgoal600\n"s + size_word),
              std::string::npos)
        << rtf;
    EXPECT_NE(rtf.find("in {\\pict\\pngblip\\picw16\\pich2\\picwgoal320\\pichgoal40\n89504e47"), std::string::npos) << rtf;
}

// Text in a picture drawn inline is set by the page's substitutes too: the
// head declares them though no paragraph uses the family.
TEST(Html, APicturesFamiliesHaveTheirSubstitutes) {
    const std::string drawn = PictBuilder(1, 0, 0, 30, 40).op(0x03).u16(3).long_text(20, 2, "Label").build();
    const std::string html = html_of(geometry_document::page() + tag(0x88, 0, 20) + "Text\r" + picture_insert(drawn));
    ASSERT_NE(html.find("font-family=\"'Geneva'"), std::string::npos) << html;
    EXPECT_NE(html.find("@font-face{font-family:'Geneva'"), std::string::npos) << html;
}

// A picture the reader cannot draw (the application's placeholder: a
// version-2 picture of 42 bytes with an empty frame) is shown by its marker
// in every output, never as an image of no size nor as a file of no content.
TEST(Renderers, APictureThatCannotBeDrawnIsShownByItsMarker) {
    const std::string empty = PictBuilder(2, 0, 0, 0, 0).build();
    ASSERT_EQ(empty.size(), 42u);
    const std::string stream = "Before\r" + picture_insert(empty) + "in " + picture_insert(empty) + " line\r";
    render::RenderOptions media;
    media.media_dir = "m";
    for (const render::RenderOptions &o : {render::RenderOptions{}, media}) {
        const std::string html = html_of(stream, o);
        EXPECT_EQ(html.find("<img"), std::string::npos) << html;
        EXPECT_EQ(html.find("<svg"), std::string::npos) << html;
        EXPECT_NE(html.find("<div class=\"mw-picture\">[picture 1]</div>"), std::string::npos) << html;
        EXPECT_NE(html.find("in <span class=\"mw-picture\">[picture 2]</span>"), std::string::npos) << html;
        EXPECT_EQ(rendered(stream, [&](std::FILE *in, std::FILE *out) { return render::to_markdown(in, out, o); }),
                  "Before\n\n\\[picture 1\\]\n\nin \\[picture 2\\] line\n");
    }
    const std::string rtf = rtf_of(stream);
    EXPECT_EQ(rtf.find("\\pict"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("[picture 1]"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("in [picture 2] line"), std::string::npos) << rtf;
#ifdef MWCONV_HAVE_LIBZIP
    for (const std::string &package : {docx_of(stream), odt_of(stream)}) {
        for (const ZipEntry &e : zip_entries(package)) {
            EXPECT_EQ(e.name.find("media/"), std::string::npos) << e.name;
            EXPECT_EQ(e.name.find("Pictures/"), std::string::npos) << e.name;
            if (e.name == "word/document.xml" || e.name == "content.xml") {
                EXPECT_NE(e.data.find("[picture 1]"), std::string::npos) << e.name;
                EXPECT_NE(e.data.find("[picture 2]"), std::string::npos) << e.name;
            }
        }
    }
#endif
}

// Elements of the HTML (void ones aside) and groups of the RTF are closed
// in order.
bool html_balanced(const std::string &html) {
    static const std::regex tag_re(R"(<(/?)([a-z0-9]+)[^>]*>)");
    std::vector<std::string> open;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), tag_re); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[2];
        if (name == "br" || name == "meta") continue;
        if ((*it)[1] == "") open.push_back(name);
        else if (open.empty() || open.back() != name) return false;
        else open.pop_back();
    }
    return open.empty();
}

bool rtf_balanced(const std::string &rtf) {
    int depth = 0;
    for (size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') ++i;
        else if (rtf[i] == '{') ++depth;
        else if (rtf[i] == '}' && --depth < 0) return false;
    }
    return depth == 0;
}

TEST(Renderers, EveryOutputIsClosedWhereverTheStreamStops) {
    const std::string stream = every_attribute_stream();
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const std::string part = stream.substr(0, cut);
        ASSERT_TRUE(html_balanced(html_of(part))) << cut;
        ASSERT_TRUE(rtf_balanced(rtf_of(part))) << cut;
        const std::string md = markdown_of(part);
        // Delimiters come in pairs: no run of them is left open.
        const std::string bare = std::regex_replace(md, std::regex(R"(\\.)"), "");
        ASSERT_EQ(std::count(bare.begin(), bare.end(), '*') % 2, 0) << cut << "\n" << md;
        ASSERT_EQ(std::count(bare.begin(), bare.end(), '~') % 4, 0) << cut << "\n" << md;
    }
}

TEST(Html, StandaloneWithItsTitleOrAFragment) {
    render::RenderOptions o;
    o.title = "Memo <1> & \"2\"";
    const std::string page = html_of("x\r", o);
    EXPECT_EQ(
        page.rfind(
            "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Memo &lt;1&gt; &amp; \"2\"</title>", 0),
        0u);
    EXPECT_EQ(page.substr(page.size() - 16), "</body>\n</html>\n");
    o.fragment = true;
    EXPECT_EQ(html_of("x\r\r" + tag(0x2B) + "\fy", o),
              "<main>\n<p style=\"margin:0;white-space:pre-wrap\">x</p>\n<p "
              "style=\"margin:0;white-space:pre-wrap\"><br></p>\n"
              "<div class=\"mw-page-break\" style=\"break-after:page\"></div>\n"
              "<p style=\"margin:0;white-space:pre-wrap;text-align:center\">y</p>\n</main>\n");
}

// A style is spelled once, as a class in the head; the commonest paragraph
// style is the rule for every <p> (a class undoes what it does not share),
// and a paragraph is set in the font of its
// first run, so runs in that font need no span: a long document's HTML is
// little larger than its stream.  A fragment has no head, and keeps its
// styles.
TEST(Html, EachDistinctStyleIsOneClassInTheHead) {
    std::string sentences;
    for (int i = 0; i < 16; ++i) sentences += "Plain text and one " + styled(0x23, "bold") + " word. ";
    std::string stream = tag(0x88, 0, 21) + tag(0x4C, 12);
    for (int i = 0; i < 201; ++i)
        stream += (i % 2 == 0 ? tag(0x2B) : tag(0x2C)) + sentences + (i % 3 == 0 ? tag(0x4C, 9) + "small" + tag(0x4C, 12) : "") + "\r";
    const std::string html = html_of(stream);
    const std::string head = html.substr(0, html.find("</style>"));
    const std::string font = "font-family:'Helvetica',sans-serif;font-size:12pt";
    EXPECT_EQ(head.substr(head.find("p{")),
              "p{margin:0;white-space:pre-wrap;text-align:center;" + font + "}\n"
              ".mw-s1{font-size:9pt}\n"
              ".mw-s2{margin:0;white-space:pre-wrap;" + font + ";text-align:left}\n");
    EXPECT_NE(html.find("<p>Plain text and one <b>bold</b> word. Plain text"), std::string::npos);
    EXPECT_NE(html.find("word. <span class=\"mw-s1\">small</span></p>\n<p class=\"mw-s2\">Plain"), std::string::npos);
    EXPECT_EQ(html.find(" style="), std::string::npos);
    EXPECT_LE(html.size(), stream.size() * 13 / 10);
    render::RenderOptions fragment;
    fragment.fragment = true;
    EXPECT_NE(html_of(stream, fragment).find("<p style=\"margin:0;white-space:pre-wrap;text-align:center;" + font +
                                             "\">Plain"),
              std::string::npos);
}

TEST(Html, ATabGoesToTheFirstStopPastItsText) {
    // stops at half an inch and three inches; "Written by:" is wider than
    // half an inch at 12 points, "ab" is not
    render::RenderOptions fragment;
    fragment.fragment = true;
    const std::string box = "<span class=\"mw-tab\" style=\"display:inline-block;tab-size:0;text-indent:0;min-width:";
    const std::string stream = tag(0x4C, 12) + tag(0x80, 1, 5) + tag(0x80, 1, 30) + "Written by:\tab\tc\td\r";
    const std::string html = html_of(stream, fragment);
    EXPECT_NE(html.find(box + "216pt\">Written by:\t</span>"), std::string::npos) << html;
    // past the last stop, the next half inch
    EXPECT_NE(html.find(box + "36pt\">c\t</span>"), std::string::npos) << html;
    EXPECT_NE(html_of(tag(0x80, 1, 5) + "ab\tc\r", fragment).find(box + "36pt\">ab\t</span>c</p>"), std::string::npos);
    // in a page, each width is a class
    const std::string page = html_of(stream);
    EXPECT_NE(page.find(".mw-s1{min-width:216pt}"), std::string::npos) << page;
    EXPECT_NE(page.find("<span class=\"mw-tab mw-s1\">Written by:\t</span>"), std::string::npos) << page;
}

// Whether every class the head of a page declares is used in its body.
::testing::AssertionResult head_declares_what_body_uses(const std::string &html) {
    const size_t body = html.find("<body>");
    for (size_t at = html.find(".mw-s"); at < body; at = html.find(".mw-s", at + 1)) {
        const std::string name = html.substr(at + 1, html.find('{', at) - at - 1);
        if (!std::regex_search(html.substr(body), std::regex("class=\"[^\"]*\\b" + name + "\"")))
            return ::testing::AssertionFailure() << name << " is declared and not used in\n" << html;
    }
    return ::testing::AssertionSuccess();
}

// The head is written from a first read that writes nothing: a paragraph
// whose page markup (classes, pictures) is longer than that read's must
// still have its tab boxes measured alike in both, or the head declares
// boxes and rules the body never uses.
TEST(Html, BothReadsMeasureTheSameTabs) {
    std::string stream = tag(0x4C, 12);
    for (int i = 0; i < 800; ++i) stream += tag(0x4C, 9) + "a" + tag(0x4C, 12) + "b";
    const std::string html = html_of(stream + "\tc\r");
    const size_t body = html.find("<body>");
    EXPECT_EQ(html.find(".mw-tab{") < body, html.find("class=\"mw-tab", body) != std::string::npos);
    EXPECT_TRUE(head_declares_what_body_uses(html));
}

// A header or footer without text is not shown: what its empty paragraphs
// and tabs would need is not declared.
TEST(Html, ABlockNotShownDeclaresNothing) {
    const std::string html = html_of(tag(0x9E, 0, 0) + tag(0x4C, 9) + tag(0x2B) + "\r\t\r" + tag(0x2C) + tag(0x7F) +
                                     tag(0x4C, 12) + "Text\r");
    EXPECT_EQ(html.find("<header"), std::string::npos);
    EXPECT_TRUE(head_declares_what_body_uses(html));
    EXPECT_EQ(html.find(".mw-tab{"), std::string::npos);
}

TEST(Rtf, ParagraphAndCharacterFormatting) {
    const std::string stream = tag(0x2B) + tag(0x4D, 16) + tag(0x80, 1, 20) + tag(0x80, 4, 40) + tag(0x88, 0, 21) +
                               tag(0x4C, 14) + styled(0x3B, "a") + styled(0x3D, "b") + unicode(0x201C) +
                               unicode(0xF8FF) + "{" + tag(0x5C) + "}\r";
    const std::string rtf = rtf_of(stream);
    EXPECT_NE(
        rtf.find("\\pard\\plain\\kerning1\\qc\\sl480\\slmult1\\tx2880\\tqdec\\tx5760 {\\uldb\\f18\\fs28 a}{\\scaps\\f18\\fs28 b}"
                 "{\\f18\\fs28 \\u8220 ?\\u-1793 ?\\{\\\\\\}}\\par"),
        std::string::npos)
        << rtf;
    EXPECT_NE(rtf.find("{\\f18\\fswiss\\fcharset0 Helvetica;}"), std::string::npos);
}

TEST(Markdown, DelimitersSpacesAndEscapes) {
    const std::string stream = "\t  " + styled(0x23, " bold ") + "x" + styled(0x23, "\"q\"") + "y\r" + "1. a\r#b" +
                               styled(0x2F, "*") + "\r";
    EXPECT_EQ(markdown_of(stream), "**bold** x<!-- -->**\"q\"**<!-- -->y\n\n1\\. a\n\n\\#b<!-- -->*\\**\n");
}

}  // namespace
