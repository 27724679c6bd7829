// Our HTML, Markdown and RTF as the programs people open them with read
// them: pandoc, cmark-gfm, LibreOffice, and Chromium printing to PDF.  Each
// reading must give back the text of the text output, and pandoc's reading
// the attributes the stream gives each character.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <sstream>

#include "catalogue/catalogue.h"
#include "tests/support/corpus.h"
#include "tests/support/example_document.h"
#include "tests/support/pict_builder.h"
#include "tests/support/render_documents.h"
#include "tests/support/run.h"
#include "tests/support/shown_text.h"
#include "tests/support/stream_parts.h"
#include "tests/support/tools.h"
#include "mactext/utf8.h"
#ifdef MWCONV_HAVE_LIBZIP
#include "tests/support/packages.h"
#endif
#ifdef MWCONV_HAVE_JSON
#include "tests/support/pandoc_json.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

struct Document {
    std::string name, stream;
};

// Builder documents, then the corpus's documents when it is there.
std::vector<Document> documents() {
    std::vector<Document> docs = {
        {"every-attribute", every_attribute_stream()},
        {"mw5-styled", imported(import_macwrite_5, mw5_styled_document())},
        {"mw2-notes", imported(import_macwrite_ii, mw2_notes_document())},
        {"example", imported(import_macwrite_5, example_document())},
    };
    for (const char *folder : {"macwrite5", "macwrite22"}) {
        const fs::path dir = corpus_dir() / folder;
        if (!fs::is_directory(dir)) continue;
        std::vector<fs::path> paths(fs::directory_iterator(dir), fs::directory_iterator{});
        std::sort(paths.begin(), paths.end());
        for (const fs::path &p : paths) {
            const std::string bytes = read_file(p);
            const auto *head = reinterpret_cast<const uint8_t *>(bytes.data());
            const ConverterFn import = macwrite_bid_5(head, bytes.size()) > 0 ? import_macwrite_5 : import_macwrite_22;
            docs.push_back({p.filename().string(), imported(import, bytes)});
        }
    }
    return docs;
}

std::string quoted(const std::string &path) { return "'" + path + "'"; }

std::string lowercase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::vector<std::string> lowercase(std::vector<std::string> lines) {
    for (std::string &l : lines) l = lowercase(l);
    return lines;
}

// pandoc's RTF reader (2.17) loses characters from U+8000 up, which RTF
// writes as \uN with a negative N, in some places and not in others; the
// comparison leaves them out on both sides.
std::string below_u8000(const std::string &utf8) {
    std::string out;
    for (char32_t c : code_points(utf8))
        if (c < 0x8000) mactext::append_utf8(out, c);
    return out;
}

std::vector<ShownChar> below_u8000(std::vector<ShownChar> chars) {
    std::erase_if(chars, [](const ShownChar &c) { return c.ch >= 0x8000; });
    return chars;
}

// The characters a printed page shows: no spaces, no note marks, nothing
// from the private use area (no font has it; the Apple logo is there).
std::string printable(const std::string &utf8) {
    static const std::regex mark(R"(\[\d+\])");
    std::string out;
    for (char32_t c : code_points(std::regex_replace(utf8, mark, "")))
        if (!is_space(c) && !(c >= 0xE000 && c <= 0xF8FF)) mactext::append_utf8(out, c);
    return lowercase(out);
}

// The text output's runs of outlined characters, spaces aside, in lower case.
std::vector<std::string> outlined_runs(const std::string &stream) {
    std::vector<std::string> runs(1);
    for (const ShownChar &c : stream_chars(stream, render::kOutline, true)) {
        if (c.attributes != 0) mactext::append_utf8(runs.back(), c.ch);
        else if (!runs.back().empty()) runs.emplace_back();
    }
    for (std::string &r : runs) r = lowercase(r);
    std::erase(runs, std::string());
    return runs;
}

// What the printed page and the text output do not share; empty when they
// agree.  Each printed line (spaces and note marks aside) must be a stretch
// of the text output's characters, each stretch used once, but the lines may
// come in any order: with some fonts (fonts-urw-base35's) Chromium prints
// an outlined run's stroke as text of its own, out of its line, so that
// pdftotext reads the run twice and out of place.  A line with no place of
// its own is placed without its outlined text.  Longer lines are placed
// first, so that a short one does not take a longer one's place.
std::string unplaced(const std::string &printed, const std::string &text, const std::vector<std::string> &outlined) {
    std::string rest = printable(text), extra;
    const auto place = [&rest](const std::string &piece) {
        const size_t at = rest.find(piece);
        if (at != std::string::npos) rest.replace(at, piece.size(), "\x01");
        return at != std::string::npos;
    };
    std::vector<std::string> lines;
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);)
        if (line = printable(line); !line.empty()) lines.push_back(line);
    std::stable_sort(lines.begin(), lines.end(), [](const auto &a, const auto &b) { return a.size() > b.size(); });
    for (std::string &line : lines) {
        if (place(line)) continue;
        for (const std::string &o : outlined)
            if (const size_t at = line.find(o); at != std::string::npos) line.replace(at, o.size(), " ");
        std::istringstream pieces(line);
        for (std::string piece; pieces >> piece;)
            if (!place(piece)) extra += " [" + piece + "]";
    }
    std::erase(rest, '\x01');
    return (rest.empty() ? "" : "not printed: " + rest) + (extra.empty() ? "" : "; printed, not in the text:" + extra);
}

std::string without_bom(const std::string &s) { return s.rfind("\xEF\xBB\xBF", 0) == 0 ? s.substr(3) : s; }

// Converts every file with LibreOffice in one run; returns the outputs'
// paths in the same order, and what LibreOffice said in `log`.
std::vector<std::string> soffice_convert(const ScratchDir &dir, const std::string &to, const std::string &extension,
                                         const std::vector<std::string> &files, std::string *log = nullptr) {
    std::string command = "soffice -env:UserInstallation=file://" + dir.file("lo-profile") +
                          " --headless --convert-to " + to + " --outdir " + quoted(dir.file("lo")) + " ";
    for (const std::string &f : files) command += quoted(f) + " ";
    const std::string said = run_command(command + "2>&1");
    if (log != nullptr) *log = said;
    std::vector<std::string> outputs;
    for (const std::string &f : files)
        outputs.push_back(dir.file("lo/" + fs::path(f).stem().string() + "." + extension));
    return outputs;
}

#ifdef MWCONV_HAVE_JSON
#define REQUIRE_JSON()
#else
#define REQUIRE_JSON() REQUIRE_PROGRAM("nlohmann-json (the tests were built without it)")
#endif

constexpr uint16_t kPandocAttributes = render::kBold | render::kItalic | render::kUnderline | render::kStrikeout |
                                       render::kSuperscript | render::kSubscript | render::kSmallCaps;
constexpr uint16_t kMarkdownAttributes = kPandocAttributes & ~render::kSmallCaps;

TEST(Readers, PandocReadsBackTheTextAndTheAttributesOfEveryFormat) {
    REQUIRE_PROGRAM("pandoc");
    REQUIRE_JSON();
#ifdef MWCONV_HAVE_JSON
    ScratchDir dir;
    for (const Document &doc : documents()) {
        SCOPED_TRACE(doc.name);
        const std::string html = dir.write("doc.html", html_of(doc.stream));
        const std::string md = dir.write("doc.md", markdown_of(doc.stream));
        const std::string rtf = dir.write("doc.rtf", rtf_of(doc.stream));
        const auto read = [](const std::string &from, const std::string &path) {
            return read_pandoc_json(run_command("pandoc -f " + from + " -t json " + quoted(path)));
        };

        const PandocReading from_html = read("html", html), from_md = read("gfm", md);
        EXPECT_EQ(normalized_lines(from_html.text), normalized_lines(without_pictures(text_of(doc.stream)))) << "HTML";
        EXPECT_EQ(chars_difference(stream_chars(doc.stream, kPandocAttributes), from_html.chars), "") << "HTML";
        EXPECT_EQ(normalized_lines(from_md.text), normalized_lines(text_of(doc.stream))) << "Markdown";
        EXPECT_EQ(chars_difference(stream_chars(doc.stream, kMarkdownAttributes, false, true), from_md.chars), "")
            << "Markdown";

        // pandoc's RTF reader leaves out the page header and footer, and
        // shows all capitals as capital letters.
        const std::string main = split_stream(doc.stream, true, false).kept;
        const PandocReading from_rtf = read("rtf", rtf);
        EXPECT_EQ(lowercase(normalized_lines(below_u8000(from_rtf.text))),
                  lowercase(normalized_lines(below_u8000(without_pictures(text_of(main))))))
            << "RTF";
        EXPECT_EQ(
            chars_difference(below_u8000(stream_chars(main, kPandocAttributes, true)), below_u8000(from_rtf.chars)), "")
            << "RTF";
    }
#endif
}

// cmark-gfm's plain text keeps the footnote labels ([^n]) and marks
// strikeout with tildes; the comparison reads past both.
std::vector<std::string> cmark_lines(const std::string &plain) {
    static const std::regex label(R"(\[\^(\d+)\]:?)");
    std::string s = std::regex_replace(plain, label, "[$1]");
    s.erase(std::remove(s.begin(), s.end(), '~'), s.end());
    return normalized_lines(s);
}

TEST(Readers, CmarkGfmReadsTheMarkdownToTheText) {
    REQUIRE_PROGRAM("cmark-gfm");
    ScratchDir dir;
    for (const Document &doc : documents()) {
        SCOPED_TRACE(doc.name);
        const std::string md = dir.write("doc.md", markdown_of(doc.stream));
        const std::string plain =
            run_command("cmark-gfm -e footnotes -e strikethrough -e autolink -t plaintext " + quoted(md));
        std::string text = text_of(doc.stream);
        text.erase(std::remove(text.begin(), text.end(), '~'), text.end());
        EXPECT_EQ(cmark_lines(plain), normalized_lines(text));
    }
}

TEST(Readers, TextFullOfMarkdownSyntaxComesBackAsTheSameText) {
    REQUIRE_PROGRAM("pandoc");
    REQUIRE_PROGRAM("cmark-gfm");
    REQUIRE_JSON();
#ifdef MWCONV_HAVE_JSON
    const std::string text =
        "*not emphasis* and **not strong** and _not_ __this__\n# not a heading\n## nor this\n1. not a list\n"
        "2) nor this\n- not an item\n+ nor this\n* nor this\n> not a quote\n<tag> and </tag> and <!-- no comment -->\n"
        "`not code` and ``this``\n[not a link](http://x) and ![no image](y.png) and [^1] and [ref]\n"
        "[ref]: http://example.com\n| not | a table |\n|---|---|\n---\n===\n***\n~~not struck~~ and ~this~\n"
        "back\\slash \\* and \\\\ and a trailing backslash\\\n&amp; &copy; &#65; entities\n:smile: :+1: 10:30\n"
        "$x$ and $$y$$\nword*s*tar and snake_case_word and 2*3*4\n<http://example.com> and www.example.com\n"
        "\"**\"quotes\"**\" and **\n    four spaces\n\ttab\n1986. A year\n#hashtag\n";
    ScratchDir dir;
    const std::string input = dir.write("syntax.txt", text);
    const RunResult md = run_mwconv(dir, "-f text -t markdown " + quoted(input));
    ASSERT_EQ(md.status, 0) << md.err;
    const std::string path = dir.write("syntax.md", md.out);
    const PandocReading pandoc = read_pandoc_json(run_command("pandoc -f gfm -t json " + quoted(path)));
    EXPECT_EQ(normalized_lines(pandoc.text), normalized_lines(text));
    std::string plain =
        run_command("cmark-gfm -e footnotes -e strikethrough -e autolink -e table -t plaintext " + quoted(path));
    std::string expected = text;
    expected.erase(std::remove(expected.begin(), expected.end(), '~'), expected.end());
    plain.erase(std::remove(plain.begin(), plain.end(), '~'), plain.end());
    EXPECT_EQ(normalized_lines(plain), normalized_lines(expected));
#endif
}

// LibreOffice's text export of a document with a header, a footer and
// notes: it leaves out the header, the footer and the notes' texts, and
// shows a note's call as its number.
std::vector<std::string> libreoffice_text_lines(const std::string &stream) {
    static const std::regex call(R"(\[(\d+)\])"), note_line(R"(\[\d+\])");
    std::vector<std::string> want;
    for (const std::string &line : normalized_lines(without_pictures(text_of(split_stream(stream, true, true).kept))))
        if (!std::regex_match(line, note_line)) want.push_back(std::regex_replace(line, call, "$1"));
    return want;
}

TEST(Readers, LibreOfficeReadsTheTextOfTheRtfAndTheHtml) {
    REQUIRE_PROGRAM("soffice");
    ScratchDir dir;
    const std::vector<Document> docs = documents();
    std::vector<std::string> rtf, html;
    for (size_t i = 0; i < docs.size(); ++i) {
        rtf.push_back(dir.write("r" + std::to_string(i) + ".rtf", rtf_of(docs[i].stream)));
        html.push_back(dir.write("h" + std::to_string(i) + ".html", html_of(docs[i].stream)));
    }
    const auto rtf_text = soffice_convert(dir, "txt:Text", "txt", rtf);
    const auto html_text = soffice_convert(dir, "txt:Text", "txt", html);
    for (size_t i = 0; i < docs.size(); ++i) {
        SCOPED_TRACE(docs[i].name);
        EXPECT_EQ(normalized_lines(without_bom(read_file(html_text[i]))),
                  normalized_lines(without_pictures(text_of(docs[i].stream))));
        EXPECT_EQ(normalized_lines(without_bom(read_file(rtf_text[i]))), libreoffice_text_lines(docs[i].stream));
    }
}

// The commonest paragraph style is the rule for every <p>, which LibreOffice
// takes as its "Text body" style (it reads no finer selector); a paragraph
// of another font keeps its own.
TEST(Readers, LibreOfficeSetsTheHtmlsCommonestParagraphStyle) {
    REQUIRE_PROGRAM("soffice");
    ScratchDir dir;
    const std::string stream = tag(0x88, 0, 21) + tag(0x4C, 10) + "one\rtwo\rthree\r" + tag(0x4C, 18) + "four\r";
    const std::string flat = read_file(
        soffice_convert(dir, "\"fodt:OpenDocument Text Flat XML\"", "fodt", {dir.write("p.html", html_of(stream))})[0]);
    const size_t body = flat.find("style:name=\"Text_20_body\"");
    ASSERT_NE(body, std::string::npos) << flat;
    const std::string style = flat.substr(body, flat.find("</style:style>", body) - body);
    EXPECT_NE(style.find("fo:font-size=\"10pt\""), std::string::npos) << style;
    EXPECT_NE(flat.find("fo:font-size=\"18pt\""), std::string::npos);
}

size_t occurrences(const std::string &text, const std::string &pattern) {
    const std::regex re(pattern);
    const auto found = std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator());
    return static_cast<size_t>(found);
}

// LibreOffice's flat ODT of every_attribute_stream(), as read from one of
// our outputs: the header and footer with their fields, and two notes.
void expect_blocks_fields_and_notes(const std::string &odt) {
    const auto between = [&](const std::string &open, const std::string &close) {
        const auto a = odt.find(open), b = odt.find(close, a);
        return a == std::string::npos || b == std::string::npos ? std::string() : odt.substr(a, b - a);
    };
    const std::string header = between("<style:header>", "</style:header>");
    const std::string footer = between("<style:footer>", "</style:footer>");
    EXPECT_NE(header.find("Page "), std::string::npos) << header;
    EXPECT_NE(header.find("<text:page-number"), std::string::npos) << header;
    EXPECT_NE(footer.find("Printed "), std::string::npos) << footer;
    EXPECT_NE(footer.find("<text:date"), std::string::npos) << footer;
    EXPECT_NE(footer.find("<text:time"), std::string::npos) << footer;
    EXPECT_EQ(occurrences(odt, "<text:note "), 2u);
    EXPECT_NE(odt.find("the second one."), std::string::npos);
}

// LibreOffice finds a picture wherever the RTF has one: PNG for a screen
// shot, the QuickDraw picture itself for a drawing.
TEST(Readers, LibreOfficeFindsThePicturesOfTheRtfDocxAndOdt) {
    REQUIRE_PROGRAM("soffice");
    ScratchDir dir;
    const std::string drawn = PictBuilder(1, 0, 0, 30, 40).rect_op(0x30, 2, 2, 20, 20).op(0x51).rect(5, 5, 25, 35).build();
    const auto n = static_cast<uint32_t>(drawn.size() + 12);
    std::vector<std::pair<std::string, int>> cases = {
        {std::string("A drawing:\r\\\xC0") + static_cast<char>(n >> 24) + static_cast<char>(n >> 16) + static_cast<char>(n >> 8) +
             static_cast<char>(n) + "PICT" + std::string(8, '\0') + drawn + "After\r",
         1}};
    for (const Document &doc : documents())
        if (doc.name == "DiskCopyReader__MW45disk__About_MacWrite") cases.emplace_back(doc.stream, 6);
    std::vector<std::string> files;
    std::vector<int> frames;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string n = std::to_string(i);
        files.push_back(dir.write("p" + n + ".rtf", rtf_of(cases[i].first)));
#ifdef MWCONV_HAVE_LIBZIP
        files.push_back(dir.write("d" + n + ".docx", docx_of(cases[i].first)));
        files.push_back(dir.write("o" + n + ".odt", odt_of(cases[i].first)));
#endif
        frames.resize(files.size(), cases[i].second);
    }
    const auto converted = soffice_convert(dir, "fodt", "fodt", files);
    const std::regex image("<draw:frame ");
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string odt = read_file(converted[i]);
        EXPECT_EQ(std::distance(std::sregex_iterator(odt.begin(), odt.end(), image), std::sregex_iterator()), frames[i])
            << files[i];
    }
}

TEST(Readers, LibreOfficeFindsTheHeaderFooterNotesAndFieldsOfTheRtf) {
    REQUIRE_PROGRAM("soffice");
    ScratchDir dir;
    const std::string rtf = dir.write("doc.rtf", rtf_of(every_attribute_stream()));
    expect_blocks_fields_and_notes(read_file(soffice_convert(dir, "fodt", "fodt", {rtf})[0]));
}

TEST(Readers, ChromiumPrintsTheHtmlWithTheTextOfTheTextOutput) {
    REQUIRE_PROGRAM("chromium");
    REQUIRE_PROGRAM("pdftotext");
    ScratchDir dir;
    for (const Document &doc : documents()) {
        SCOPED_TRACE(doc.name);
        const std::string html = dir.write("doc.html", html_of(doc.stream));
        const std::string pdf = dir.file("doc.pdf");
        fs::remove(pdf);
        run_command("chromium --headless --no-sandbox --disable-gpu --no-pdf-header-footer --print-to-pdf=" +
                    quoted(pdf) + " " + quoted(html) + " >/dev/null 2>&1");
        ASSERT_TRUE(fs::exists(pdf));
        // Pages break lines where the text output does not, capitals and
        // small capitals print as capital letters, and a raised note call
        // reads as a line of its own: what is compared is the characters
        // other than spaces and note marks, in lower case, line by line.
        const std::string printed = run_command("pdftotext -layout -enc UTF-8 " + quoted(pdf) + " -");
        EXPECT_EQ(unplaced(printed, without_pictures(text_of(doc.stream)), outlined_runs(doc.stream)), "") << printed;
    }
}

TEST(Readers, MacWriteIINotesAreNotesInEveryFormat) {
    REQUIRE_PROGRAM("pandoc");
    REQUIRE_PROGRAM("soffice");
    REQUIRE_JSON();
#ifdef MWCONV_HAVE_JSON
    const std::string stream = imported(import_macwrite_ii, mw2_notes_document());
    ScratchDir dir;
    const std::string md = dir.write("notes.md", markdown_of(stream));
    const std::string rtf = dir.write("notes.rtf", rtf_of(stream));
    EXPECT_EQ(read_pandoc_json(run_command("pandoc -f gfm -t json " + quoted(md))).notes, 2);
    EXPECT_EQ(read_pandoc_json(run_command("pandoc -f rtf -t json " + quoted(rtf))).notes, 2);
    std::vector<std::string> read_by_libreoffice = {rtf};
#ifdef MWCONV_HAVE_LIBZIP
    const std::string docx = dir.write("notes-docx.docx", docx_of(stream));
    const std::string odt = dir.write("notes-odt.odt", odt_of(stream));
    EXPECT_EQ(read_pandoc_json(run_command("pandoc -f docx -t json " + quoted(docx))).notes, 2);
    EXPECT_EQ(read_pandoc_json(run_command("pandoc -f odt -t json " + quoted(odt))).notes, 2);
    read_by_libreoffice.insert(read_by_libreoffice.end(), {docx, odt});
#endif
    for (const std::string &path : soffice_convert(dir, "fodt", "fodt", read_by_libreoffice)) {
        const std::string flat = read_file(path);
        EXPECT_NE(flat.find("First note."), std::string::npos) << path;
        EXPECT_EQ(occurrences(flat, "<text:note "), 2u) << path;
    }
    const std::string html = html_of(stream);
    for (const char *n : {"1", "2"}) {
        const std::string id = std::string(n);
        EXPECT_NE(html.find("id=\"mw-ref-" + id + "\" href=\"#mw-note-" + id + "\""), std::string::npos);
        EXPECT_NE(html.find("id=\"mw-note-" + id + "\""), std::string::npos);
        EXPECT_NE(html.find("href=\"#mw-ref-" + id + "\""), std::string::npos);
    }
#endif
}

#ifdef MWCONV_HAVE_LIBZIP

// What LibreOffice says besides naming each conversion, leaving out its note
// that it found no Java, which no conversion here needs.
std::vector<std::string> complaints(const std::string &log) {
    std::vector<std::string> out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line.rfind("convert ", 0) != 0 && line.find("javaldx") == std::string::npos)
            out.push_back(line);
    return out;
}

struct Packages {
    std::vector<std::string> docx, odt;
};

// Each document as DOCX and as ODT, named apart so that LibreOffice's
// outputs do not collide.
Packages write_packages(const ScratchDir &dir, const std::vector<Document> &docs) {
    Packages p;
    for (size_t i = 0; i < docs.size(); ++i) {
        p.docx.push_back(dir.write("d" + std::to_string(i) + ".docx", docx_of(docs[i].stream)));
        p.odt.push_back(dir.write("o" + std::to_string(i) + ".odt", odt_of(docs[i].stream)));
    }
    return p;
}

TEST(Readers, LibreOfficeReadsTheTextOfTheDocxAndTheOdtWithoutAComplaint) {
    REQUIRE_PROGRAM("soffice");
    ScratchDir dir;
    std::vector<Document> docs = documents();
    // Spaces that XML or ODF could collapse: leading, doubled, after a tab,
    // alone in a paragraph.
    const Document spaces{"spaces", "  two leading,  two inside,\t after a tab \r \r"};
    docs.push_back(spaces);
    const Packages p = write_packages(dir, docs);
    std::string docx_log, odt_log;
    const auto from_docx = soffice_convert(dir, "txt:Text", "txt", p.docx, &docx_log);
    const auto from_odt = soffice_convert(dir, "txt:Text", "txt", p.odt, &odt_log);
    EXPECT_EQ(complaints(docx_log), std::vector<std::string>{}) << docx_log;
    EXPECT_EQ(complaints(odt_log), std::vector<std::string>{}) << odt_log;
    for (size_t i = 0; i < docs.size(); ++i) {
        SCOPED_TRACE(docs[i].name);
        EXPECT_EQ(normalized_lines(without_bom(read_file(from_docx[i]))), libreoffice_text_lines(docs[i].stream));
        EXPECT_EQ(normalized_lines(without_bom(read_file(from_odt[i]))), libreoffice_text_lines(docs[i].stream));
    }
    EXPECT_EQ(without_bom(read_file(from_docx.back())), text_of(spaces.stream));
    EXPECT_EQ(without_bom(read_file(from_odt.back())), text_of(spaces.stream));
}

TEST(Readers, LibreOfficeFindsTheBlocksFieldsNotesAndStylesOfTheDocxAndTheOdt) {
    REQUIRE_PROGRAM("soffice");
    ScratchDir dir;
    const std::string stream = every_attribute_stream();
    const auto flat = soffice_convert(dir, "fodt", "fodt",
                                      {dir.write("d.docx", docx_of(stream)), dir.write("o.odt", odt_of(stream))});
    for (const std::string &path : flat) {
        SCOPED_TRACE(path);
        const std::string odt = read_file(path);
        expect_blocks_fields_and_notes(odt);
        // Every attribute, font, size, alignment, spacing, tab stop and the
        // page break, as LibreOffice keeps them.
        for (const char *property :
             {"fo:font-weight=\"bold\"", "fo:font-style=\"italic\"", "style:text-underline-style=\"solid\"",
              "style:text-underline-type=\"double\"", "style:text-line-through-style=\"solid\"",
              "style:text-outline=\"true\"", "fo:text-shadow=\"", "style:text-position=\"super",
              "style:text-position=\"sub", "fo:font-variant=\"small-caps\"", "fo:text-transform=\"uppercase\"",
              "style:font-name=\"Helvetica\"", "style:font-name=\"Courier\"", "fo:font-size=\"18pt\"",
              "fo:text-align=\"center\"", "fo:text-align=\"end\"", "fo:text-align=\"justify\"",
              "fo:line-height=\"200%\"", "style:position=\"1.5in\"", "style:position=\"4in\" style:type=\"char\"",
              "fo:break-before=\"page\""})
            EXPECT_NE(odt.find(property), std::string::npos) << property;
    }
}

TEST(Readers, LibreOfficePrintsTheDocxAndTheOdtWithoutAComplaint) {
    REQUIRE_PROGRAM("soffice");
    REQUIRE_PROGRAM("pdftotext");
    ScratchDir dir;
    // One page with a header, a footer and a note; no digits, so that the
    // printed note numbers can be told apart.
    const std::string stream = tag(0x9E, 0, 0) + "The page header\r" + tag(0x7F) + tag(0xA1, 0, 0) +
                               "The page footer\r" + tag(0x7F) + "Body text with " + styled(0x23, "bold") +
                               " and a note" + tag(0xA2, 0, 1) + "The note's text.\r" + tag(0x7F) + ".\r";
    std::string log;
    const auto pdf = soffice_convert(
        dir, "pdf", "pdf", {dir.write("d.docx", docx_of(stream)), dir.write("o.odt", odt_of(stream))}, &log);
    EXPECT_EQ(complaints(log), std::vector<std::string>{}) << log;
    // The page shows the note above the footer, where the text output puts
    // it after: the characters are compared in order.
    const auto sorted = [](std::string s) {
        s.erase(std::remove_if(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); }), s.end());
        std::sort(s.begin(), s.end());
        return s;
    };
    for (const std::string &path : pdf) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(fs::exists(path));
        const std::string printed = run_command("pdftotext -enc UTF-8 " + quoted(path) + " -");
        EXPECT_EQ(sorted(printable(printed)), sorted(printable(text_of(stream))));
    }
}

// pandoc 2.17 reads neither page header nor footer of a DOCX or an ODT.  Its
// DOCX reader knows single underline but not double; its ODT reader shows
// underline and fixed-pitch fonts as emphasis and knows no small capitals.
uint16_t shown_by_pandoc_docx(const render::CharStyle &s) {
    return s.attributes & (render::kBold | render::kItalic | render::kUnderline | render::kStrikeout |
                           render::kSuperscript | render::kSubscript | render::kSmallCaps);
}

uint16_t shown_by_pandoc_odt(const render::CharStyle &s) {
    uint16_t a = s.attributes & (render::kBold | render::kStrikeout | render::kSuperscript | render::kSubscript);
    const bool fixed = s.face != nullptr && s.face->generic == mactext::Generic::Monospace;
    if (s.has(render::kItalic) || s.has(render::kUnderline) || s.has(render::kDoubleUnderline) || fixed)
        a |= render::kItalic;
    return a;
}

TEST(Readers, PandocReadsBackTheTextAndTheAttributesOfTheDocxAndTheOdt) {
    REQUIRE_PROGRAM("pandoc");
    REQUIRE_JSON();
#ifdef MWCONV_HAVE_JSON
    ScratchDir dir;
    for (const Document &doc : documents()) {
        SCOPED_TRACE(doc.name);
        const std::string main = split_stream(doc.stream, true, false).kept;
        const PandocReading from_docx =
            read_pandoc_json(run_command("pandoc -f docx -t json " + quoted(dir.write("d.docx", docx_of(doc.stream)))));
        const PandocReading from_odt =
            read_pandoc_json(run_command("pandoc -f odt -t json " + quoted(dir.write("o.odt", odt_of(doc.stream)))));
        EXPECT_EQ(normalized_lines(from_docx.text), normalized_lines(without_pictures(text_of(main)))) << "DOCX";
        EXPECT_EQ(chars_difference(stream_chars(main, shown_by_pandoc_docx), from_docx.chars), "") << "DOCX";
        EXPECT_EQ(normalized_lines(from_odt.text), normalized_lines(without_pictures(text_of(main)))) << "ODT";
        EXPECT_EQ(chars_difference(stream_chars(main, shown_by_pandoc_odt), from_odt.chars), "") << "ODT";
    }
#endif
}

TEST(Readers, EveryXmlPartOfTheDocxAndTheOdtIsWellFormed) {
    REQUIRE_PROGRAM("xmllint");
    ScratchDir dir;
    for (const Document &doc : documents()) {
        for (const std::string &package : {docx_of(doc.stream), odt_of(doc.stream)}) {
            const auto entries = zip_entries(package);
            ASSERT_FALSE(entries.empty()) << doc.name;
            std::string files;
            // Every part but the media type and the PNG pictures is XML.
            for (size_t i = 0; i < entries.size(); ++i)
                if (entries[i].name != "mimetype" && !entries[i].name.ends_with(".png"))
                    files += quoted(dir.write("part" + std::to_string(i) + ".xml", entries[i].data)) + " ";
            bool ok = false;
            const std::string said = run_command("xmllint --noout " + files + "2>&1", &ok);
            EXPECT_TRUE(ok) << doc.name << ": " << said;
        }
    }
}

#endif  // MWCONV_HAVE_LIBZIP

}  // namespace
