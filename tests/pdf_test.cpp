// PDF output, read back with poppler's tools: the pages a document sets
// (header and footer on every page but a title page, fields with each page's
// values), and on the corpus the layout MacWrite recorded, measured by
// bench/pdf_measure.py.  The fonts are named (the URW and DejaVu families of
// .ci/run), never a machine's default.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "macwrite5/layout.h"
#include "tests/support/corpus.h"
#include "tests/support/mw2_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"
#include "tests/support/tools.h"

namespace {

using namespace testing_support;
using namespace std::string_literals;
namespace fs = std::filesystem;

std::string page_text(const std::string &pdf, int page) {
    const std::string n = std::to_string(page);
    return run_command("pdftotext -f " + n + " -l " + n + " -layout '" + pdf + "' -");
}

// Three pages by two page breaks, a header with a page number field and a
// footer, a title page, and page numbers that start at 7.
TEST(Pdf, HeaderAndFooterOnEveryPageButTheTitlePageWithThatPagesNumber) {
    REQUIRE_PROGRAM("pdftotext");
    REQUIRE_PROGRAM("pdfinfo");
    Mw5Builder doc;
    doc.text(Area::Header, "Head page \r").field(Area::Header, 1, 0, 80);
    doc.text(Area::Footer, "Foot\r");
    doc.text(Area::Main, "Alpha\r").picture(Area::Main, macwrite5::kPageBreakLength);
    doc.text(Area::Main, "Beta\r").picture(Area::Main, macwrite5::kPageBreakLength).text(Area::Main, "Gamma\r");
    doc.header_bytes(macwrite5::kTitlePageAt, std::string(1, '\1')).header_bytes(macwrite5::kFirstPageAt, "\0\7"s);
    ScratchDir dir;
    const std::string input = dir.write("memo", doc.build()), pdf = dir.file("memo.pdf");
    const RunResult r = run_mwconv(dir, "-t pdf -o '" + pdf + "' '" + input + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string info = run_command("pdfinfo '" + pdf + "'");
    EXPECT_NE(info.find("Pages:           3"), std::string::npos);
    EXPECT_NE(info.find("Producer:        mwconv"), std::string::npos) << info;
    EXPECT_NE(info.find("Title:           memo"), std::string::npos) << info;
    EXPECT_EQ(info.find("CreationDate"), std::string::npos) << info;  // a bare file has no Finder dates
    const std::string first = page_text(pdf, 1);
    EXPECT_NE(first.find("Alpha"), std::string::npos);
    EXPECT_EQ(first.find("Head"), std::string::npos);
    EXPECT_EQ(first.find("Foot"), std::string::npos);
    for (int page = 2; page <= 3; ++page) {
        const std::string text = page_text(pdf, page);
        EXPECT_NE(text.find(page == 2 ? "Beta" : "Gamma"), std::string::npos) << text;
        EXPECT_NE(text.find("Head page " + std::to_string(page + 6)), std::string::npos) << text;
        EXPECT_LT(text.find("Head"), text.find(page == 2 ? "Beta" : "Gamma"));
        EXPECT_GT(text.find("Foot"), text.find(page == 2 ? "Beta" : "Gamma"));
    }
}

// MacWrite II notes stand at the foot of the page whose line calls them,
// below the last line of its text.
TEST(Pdf, NotesStandAtTheFootOfThePageThatCallsThem) {
    REQUIRE_PROGRAM("pdftotext");
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.para_format(0);
    Mw2Area main, notes;
    main.chars_per_block = notes.chars_per_block = 250;
    for (int i = 0; i < 90; ++i) main.text += "Paragraph " + std::to_string(i) + (i == 2 || i == 80 ? "\x05" : "") + ".\r";
    notes.text = "\x03" "First note.\r\x03" "Second note.\r";
    for (Mw2Area *a : {&main, &notes}) {
        a->char_runs.push_back({0, static_cast<int32_t>(a->text.size())});
        a->para_runs.push_back({0, static_cast<int32_t>(a->text.size())});
    }
    ScratchDir dir;
    const std::string input = dir.write("notes", doc.area(main).area(notes).chains_before_text().build());
    const std::string pdf = dir.file("notes.pdf");
    const RunResult r = run_mwconv(dir, "-t pdf -o '" + pdf + "' '" + input + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string first = page_text(pdf, 1), second = page_text(pdf, 2);
    ASSERT_NE(first.find("Paragraph 2"), std::string::npos);
    ASSERT_NE(second.find("Paragraph 80"), std::string::npos);
    EXPECT_GT(first.find("First note."), first.rfind("Paragraph "));
    EXPECT_EQ(first.find("Second note."), std::string::npos);
    EXPECT_GT(second.find("Second note."), second.rfind("Paragraph "));
    EXPECT_EQ(second.find("First note."), std::string::npos);
}

// The Apple logo (Mac Roman 0xF0), in no font pango reads, is drawn from
// URW's Type 1 Standard Symbols PS in its place in the line, and the PDF's
// text says U+F8FF there.
TEST(Pdf, TheAppleLogoIsDrawnInItsPlace) {
    REQUIRE_PROGRAM("pdftotext");
    REQUIRE_PROGRAM("pdffonts");
    Mw5Builder doc;
    doc.text(Area::Main, "Alpha \xF0 Beta\r");
    ScratchDir dir;
    const std::string input = dir.write("logo", doc.build()), pdf = dir.file("logo.pdf");
    const RunResult r = run_mwconv(dir, "-t pdf -o '" + pdf + "' '" + input + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(run_command("pdftotext '" + pdf + "' -").find("Alpha \xEF\xA3\xBF Beta"), std::string::npos);
    EXPECT_NE(run_command("pdffonts '" + pdf + "'").find("StandardSymbolsPS"), std::string::npos);
}

// A long paragraph is laid out in pieces: every word once, in order, and
// the lines as full as the whole paragraph's would be.
TEST(Pdf, ALongParagraphKeepsEveryWordInOrder) {
    REQUIRE_PROGRAM("pdftotext");
    std::string paragraph, expected;
    for (int i = 0; i < 3000; ++i) paragraph += "w" + std::to_string(i) + (i % 7 == 0 ? "\t" : " ");
    ScratchDir dir;
    const std::string input = dir.write("long.stream", paragraph + "\rend\r"), pdf = dir.file("long.pdf");
    const RunResult r = run_mwconv(dir, "-f stream -t pdf -o '" + pdf + "' '" + input + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = run_command("pdftotext -raw '" + pdf + "' -");
    std::vector<std::string> words;
    for (size_t at = text.find_first_not_of(" \t\n\f"); at != std::string::npos;) {
        const size_t end = text.find_first_of(" \t\n\f", at);
        words.push_back(text.substr(at, end - at));
        at = text.find_first_not_of(" \t\n\f", end);
    }
    ASSERT_EQ(words.size(), 3001u);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(words[static_cast<size_t>(i)], "w" + std::to_string(i));
    // No short line before the last: the pieces' seams do not show.
    const std::string layout = run_command("pdftotext -layout '" + pdf + "' -");
    size_t shortest = std::string::npos, lines = 0;
    for (size_t at = 0, end; (end = layout.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = layout.substr(at, end - at);
        if (line.find("w2999") != std::string::npos) break;
        if (line.find_first_not_of(" \f") == std::string::npos) continue;
        shortest = std::min(shortest, line.size());
        ++lines;
    }
    EXPECT_GT(lines, 100u);
    EXPECT_GT(shortest, 60u);
}

// Every MacWrite 4.6/5 document of the corpus, converted in one batch: the
// recorded page count, pages and tops, line counts, every word in order,
// fonts embedded, a clean qpdf check, a tagged document, and every picture
// drawn within 2 points of its stored rectangle (the measure follows the
// content of each Figure tag; seven pictures in two documents).
TEST(Pdf, TheCorpusFollowsTheLayoutMacWriteRecorded) {
    if (!fs::is_directory(corpus_dir() / "macwrite5")) GTEST_SKIP() << "no corpus at " << corpus_dir();
    for (const char *tool : {"pdftotext", "pdffonts", "pdfinfo", "qpdf", "python3"}) REQUIRE_PROGRAM(tool);
    ScratchDir dir;
    const fs::path documents = corpus_dir() / "macwrite5";
    const RunResult pdf = run_mwconv(dir, "-q -t pdf -o '" + dir.file("pdf") + "' '" + documents.string() + "'");
    ASSERT_EQ(pdf.status, 0) << pdf.err;
    const RunResult text = run_mwconv(dir, "-q -t text -o '" + dir.file("txt") + "' '" + documents.string() + "'");
    ASSERT_EQ(text.status, 0) << text.err;
    int checked = 0, pictures = 0;
    for (const auto &entry : fs::directory_iterator(documents)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        // The measure says what fell short on its standard error, which
        // the command keeps.
        const std::string report = dir.file("report");
        const int status = std::system(("python3 '" MWCONV_SOURCE_DIR "/bench/pdf_measure.py' '" + entry.path().string() +
                                        "' '" + dir.file("pdf/" + name + ".pdf") + "' --text '" +
                                        dir.file("txt/" + name + ".txt") + "' --check --json >'" + report + "' 2>&1")
                                           .c_str());
        const std::string said = read_file(report);
        EXPECT_EQ(status, 0) << said;
        const std::string key = "\"pictures_in_place\": ";
        if (const size_t at = said.find(key); at != std::string::npos) pictures += std::atoi(said.c_str() + at + key.size());
        ++checked;
    }
    EXPECT_EQ(checked, 5);
    EXPECT_EQ(pictures, 7);
}

}  // namespace
