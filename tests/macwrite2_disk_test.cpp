// MacWrite II documents laid out as the application writes them, checked
// against our expectations and against libmwaw's reading of the same bytes;
// and files that only look like MacWrite II documents.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <map>
#include <random>
#include <regex>

#include "catalogue/catalogue.h"
#include "mactext/utf8.h"
#include "render/render.h"
#include "render/styled.h"
#include "tests/support/apple_builder.h"
#include "tests/support/bytes_io.h"
#include "tests/support/mw2disk_builder.h"
#include "tests/support/run.h"
#include "tests/support/tools.h"

namespace {

using namespace testing_support;
using render::Align;
using render::CharStyle;
using render::ParagraphStyle;

// What the styled reading of our stream gives: runs and paragraphs with
// their styles, by where they stand.
struct Reading : render::StyledListener {
    struct Run {
        std::string text, family;
        int size;
        uint16_t attributes;
        render::Colour colour;
    };
    struct Paragraph {
        std::string text;
        ParagraphStyle style;
    };
    render::PageSetup page;
    std::vector<Run> runs;
    std::vector<Paragraph> paragraphs;
    std::vector<size_t> open;   // a note's paragraph opens inside the main text's
    int fields = 0, notes = 0, pictures = 0, line_breaks = 0, column_breaks = 0;

    void page_setup(const render::PageSetup &p) override { page = p; }
    void begin_block(render::Block, int) override {}
    void end_block() override {}
    void begin_paragraph(const ParagraphStyle &s) override {
        open.push_back(paragraphs.size());
        paragraphs.push_back({"", s});
    }
    void end_paragraph() override { open.pop_back(); }
    std::string &current() { return paragraphs[open.back()].text; }
    void text(std::u16string_view run, const CharStyle &s) override {
        std::string utf8;
        mactext::append_utf8(utf8, run);
        runs.push_back({utf8, s.face ? std::string(s.face->family) : "", s.size, s.attributes, s.colour});
        current() += utf8;
    }
    void tab(const CharStyle &) override { current() += "\t"; }
    void line_end(const CharStyle &) override { current() += " "; }
    void line_break(const CharStyle &) override { ++line_breaks; }
    void column_break(const CharStyle &) override { ++column_breaks; }
    void page_break() override {}
    void note_call(int, const CharStyle &) override { ++notes; }
    void field(render::Field, const CharStyle &) override { ++fields; }
    void picture(const render::Picture &) override { ++pictures; }
    void end_document() override {}

    const Run *run_with(const std::string &text) const {
        for (const Run &r : runs)
            if (r.text.find(text) != std::string::npos) return &r;
        return nullptr;
    }
    const Paragraph *paragraph_starting(const std::string &text) const {
        for (const Paragraph &p : paragraphs)
            if (p.text.rfind(text, 0) == 0) return &p;
        return nullptr;
    }
};

Reading read(const std::string &doc) {
    const Converted c = convert(import_macwrite_ii, doc);
    EXPECT_EQ(c.result, 0);
    Reading r;
    std::FILE *s = stream_of(c.output);
    render::read_styled(s, r);
    std::fclose(s);
    return r;
}

std::string without_soft_hyphens(std::string s) {
    for (size_t at; (at = s.find("\xC2\xAD")) != std::string::npos;) s.erase(at, 2);
    return s;
}

TEST(MacWrite2Disk, EveryFeatureOfTheDocumentReachesTheStream) {
    const Reading r = read(full_disk_document().build());
    ASSERT_TRUE(r.page.said);
    EXPECT_EQ(r.page.width, 12240);
    EXPECT_EQ(r.page.height, 15840);
    EXPECT_EQ(r.page.top, 54 * 20);
    EXPECT_EQ(r.page.bottom, 72 * 20);
    EXPECT_EQ(r.page.left, 90 * 20);
    EXPECT_EQ(r.page.right, 60 * 20);
    EXPECT_TRUE(r.page.title_page);
    EXPECT_EQ(r.page.columns, 2);
    EXPECT_EQ(r.page.column_gap, 18 * 20);
    EXPECT_EQ(r.fields, 5);   // page, date, time in the text, the header's page and the footer's date
    EXPECT_EQ(r.notes, 2);
    EXPECT_EQ(r.pictures, 1);
    EXPECT_EQ(r.line_breaks, 1);
    EXPECT_EQ(r.column_breaks, 1);

    const auto *gill = r.run_with("italic blue");
    ASSERT_NE(gill, nullptr);
    EXPECT_EQ(gill->family, "Gill Sans");
    EXPECT_EQ(gill->size, 10);
    EXPECT_EQ(gill->colour, render::Colour::Blue);
    EXPECT_TRUE(gill->attributes & render::kItalic);
    const auto *red = r.run_with("bold red");
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->family, "Helvetica");
    EXPECT_EQ(red->colour, render::Colour::Red);
    const auto *note = r.run_with("Second note, italic.");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->attributes & render::kItalic);
    // After a note the main text has its own style again.
    const auto *after = r.run_with(" then a picture ");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->family, "Times");
    EXPECT_EQ(after->attributes, 0);
    EXPECT_NE(r.run_with("opt\xC2\xADional"), nullptr);
    EXPECT_NE(r.run_with("Right header"), nullptr);
    EXPECT_EQ(r.run_with("Left header"), nullptr);

    const auto *tabs = r.paragraph_starting("Centred");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->style.align, Align::Centre);   // with keep-with-next set beside it
    EXPECT_EQ(tabs->style.interline, 12);
    ASSERT_EQ(tabs->style.tabs.size(), 4u);
    EXPECT_EQ(tabs->style.tabs[0].align, render::TabAlign::Left);
    EXPECT_EQ(tabs->style.tabs[1].align, render::TabAlign::Centre);
    EXPECT_EQ(tabs->style.tabs[2].align, render::TabAlign::Right);
    EXPECT_EQ(tabs->style.tabs[3].align, render::TabAlign::Decimal);
    EXPECT_EQ(tabs->style.tabs[3].column, 40);
    const auto *hanging = r.paragraph_starting("Justified");
    ASSERT_NE(hanging, nullptr);
    EXPECT_EQ(hanging->style.left_indent, 1440);
    EXPECT_EQ(hanging->style.first_indent, -720);
    EXPECT_EQ(hanging->style.align, Align::Justified);
}

TEST(MacWrite2Disk, BlockRunsReadAsLinks) {
    Mw2DiskBuilder doc = full_disk_document();
    const std::string linked = convert(import_macwrite_ii, doc.build()).output;
    doc.block_runs(true);
    const Converted runs = convert(import_macwrite_ii, doc.build());
    EXPECT_EQ(runs.result, 0);
    EXPECT_EQ(runs.output, linked);
}

// --- libmwaw's reading of the same documents -----------------------------

struct Props {
    std::map<std::string, std::string> values;
    std::string get(const std::string &key) const {
        const auto it = values.find(key);
        return it == values.end() ? "" : it->second;
    }
    double inches(const std::string &key) const {
        const std::string v = get(key);
        return v.empty() ? 0 : std::stod(v);
    }
};

// The key: value pairs of one line of mwaw2raw, the tab stops kept whole.
Props props_of(const std::string &line) {
    Props p;
    static const std::regex pair(R"(([a-z]+:[a-z-]+): ((?:\([^()]*(?:\([^()]*\)[^()]*)*\))|[^,()]*))");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), pair); it != std::sregex_iterator(); ++it)
        p.values[(*it)[1]] = (*it)[2];
    return p;
}

struct Oracle {
    Props page;
    std::vector<std::pair<std::string, Props>> spans;       // text and its span
    std::vector<std::pair<std::string, Props>> paragraphs;  // first text and the paragraph
};

Oracle mwaw_raw(const std::string &path) {
    bool ok = false;
    const std::string raw = run_command("mwaw2raw '" + path + "' 2>/dev/null", &ok);
    EXPECT_TRUE(ok) << "mwaw2raw refused " << path;
    Oracle o;
    Props span, paragraph;
    bool first_text = false, page_seen = false;
    std::istringstream lines(raw);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos) continue;
        const std::string l = line.substr(at);
        if (l.rfind("openPageSpan(", 0) == 0 && !page_seen) {
            o.page = props_of(l);
            page_seen = true;
        } else if (l.rfind("openSpan(", 0) == 0) {
            span = props_of(l);
        } else if (l.rfind("openParagraph(", 0) == 0) {
            paragraph = props_of(l);
            first_text = true;
        } else if (l.rfind("insertText(text: ", 0) == 0) {
            const std::string text = l.substr(17, l.size() - 18);
            o.spans.push_back({text, span});
            if (first_text) o.paragraphs.push_back({text, paragraph});
            first_text = false;
        }
    }
    return o;
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// libmwaw divides the stored 16.16 page values by 65356, and takes 0.1 inch
// off the right and bottom margins (from 18 and 36 points) for fonts that
// run wider; ours are the stored values.
double mwaw_page_inches(int twips, bool trimmed) {
    const double in = twips / 1440.0;
    return (trimmed ? in - 0.1 : in) * 65536.0 / 65356.0;
}

void expect_same_reading(const std::string &doc, const std::string &name) {
    ScratchDir dir;
    const std::string path = dir.write(name, doc);
    const Reading ours = read(doc);
    const Oracle theirs = mwaw_raw(path);
    ASSERT_FALSE(theirs.spans.empty()) << name;

    EXPECT_NEAR(theirs.page.inches("fo:margin-left"), mwaw_page_inches(ours.page.left, false), 0.005) << name;
    EXPECT_NEAR(theirs.page.inches("fo:margin-top"), mwaw_page_inches(ours.page.top, false), 0.005) << name;
    EXPECT_NEAR(theirs.page.inches("fo:margin-right"), mwaw_page_inches(ours.page.right, true), 0.005) << name;
    EXPECT_NEAR(theirs.page.inches("fo:margin-bottom"), mwaw_page_inches(ours.page.bottom, true), 0.005) << name;
    EXPECT_NEAR(theirs.page.inches("fo:page-width"), mwaw_page_inches(ours.page.width, false), 0.005) << name;
    EXPECT_NEAR(theirs.page.inches("fo:page-height"), mwaw_page_inches(ours.page.height, false), 0.005) << name;

    // We take the right-hand pages' header, libmwaw both.
    const auto left_header = [](const std::string &text) { return text == "Left header"; };
    for (const auto &[text, span] : theirs.spans) {
        if (text.find_first_not_of(' ') == std::string::npos || left_header(text)) continue;
        const Reading::Run *run = nullptr;
        for (const Reading::Run &r : ours.runs)
            if (without_soft_hyphens(r.text).find(text) != std::string::npos) run = &r;
        ASSERT_NE(run, nullptr) << name << ": libmwaw's \"" << text << "\" is not ours";
        std::string family = span.get("style:font-name");
        if (family == "Times New Roman") family = "Times";   // libmwaw's name for Times
        EXPECT_EQ(run->family, family) << text;
        EXPECT_EQ(std::to_string(run->size) + ".0000pt", span.get("fo:font-size")) << text;
        EXPECT_EQ(bool(run->attributes & render::kBold), span.get("fo:font-weight") == "bold") << text;
        EXPECT_EQ(bool(run->attributes & render::kItalic), span.get("fo:font-style") == "italic") << text;
        EXPECT_EQ(bool(run->attributes & (render::kUnderline | render::kDoubleUnderline)),
                  span.get("style:text-underline-style") == "solid") << text;
        EXPECT_EQ(bool(run->attributes & render::kStrikeout), span.get("style:text-line-through-style") == "solid") << text;
        EXPECT_EQ(bool(run->attributes & render::kSmallCaps), span.get("fo:font-variant") == "small-caps") << text;
        EXPECT_EQ("#" + lower(std::string(render::colour_hex(run->colour))), span.get("fo:color")) << text;
    }
    static const char *kAlign[] = {"left", "center", "end", "justify"};
    for (const auto &[text, p] : theirs.paragraphs) {
        if (left_header(text)) continue;
        const Reading::Paragraph *para = nullptr;
        for (const Reading::Paragraph &q : ours.paragraphs)
            if (without_soft_hyphens(q.text).find(text) != std::string::npos) para = &q;
        ASSERT_NE(para, nullptr) << name << ": libmwaw's paragraph \"" << text << "\" is not ours";
        const ParagraphStyle &s = para->style;
        EXPECT_EQ(p.get("fo:text-align"), kAlign[static_cast<int>(s.align)]) << text;
        EXPECT_NEAR(p.inches("fo:margin-left"), s.left_indent / 1440.0, 0.001) << text;
        EXPECT_NEAR(p.inches("fo:margin-right"), s.right_indent / 1440.0, 0.001) << text;
        EXPECT_NEAR(p.inches("fo:text-indent"), s.first_indent / 1440.0, 0.001) << text;
        EXPECT_NEAR(p.inches("fo:margin-top"), s.space_before / 1440.0, 0.001) << text;
        EXPECT_NEAR(p.inches("fo:margin-bottom"), s.space_after / 1440.0, 0.001) << text;
        if (s.line_height == 0) {
            EXPECT_NEAR(std::stod(p.get("fo:line-height")), s.interline * 100.0 / 8, 0.01) << text;
        }
        const std::string stops = p.get("style:tab-stops");
        std::vector<std::string> positions, types;
        static const std::regex stop(R"(\(([^()]*)\))");
        for (auto it = std::sregex_iterator(stops.begin(), stops.end(), stop); it != std::sregex_iterator(); ++it) {
            const Props one = props_of((*it)[1]);
            positions.push_back(one.get("style:position"));
            types.push_back(one.get("style:type"));
        }
        ASSERT_EQ(positions.size(), s.tabs.size()) << text;
        static const char *kTab[] = {"", "center", "right", "char"};
        for (size_t i = 0; i < positions.size(); ++i) {
            EXPECT_NEAR(std::stod(positions[i]), s.tabs[i].column / 10.0, 0.05) << text;
            EXPECT_EQ(types[i], kTab[static_cast<int>(s.tabs[i].align)]) << text;
        }
    }
}

TEST(MacWrite2DiskOracle, LibmwawReadsWhatWeRead) {
    REQUIRE_PROGRAM("mwaw2raw");
    expect_same_reading(full_disk_document().build(), "full.mw2");
    Mw2DiskBuilder runs = full_disk_document();
    runs.block_runs(true);
    runs.columns(1, 0);
    runs.title_page(false);
    expect_same_reading(runs.build(), "runs.mw2");
    expect_same_reading(long_disk_document().build(), "long.mw2");
}

// mwaw2text's lines against ours: fields and pictures aside (libmwaw shows
// nothing for them), and the left-hand pages' header, which we leave for
// the right-hand pages'.
TEST(MacWrite2DiskOracle, LibmwawsTextIsOurs) {
    REQUIRE_PROGRAM("mwaw2text");
    ScratchDir dir;
    const std::string path = dir.write("full.mw2", full_disk_document().build());
    bool ok = false;
    const std::string theirs = run_command("mwaw2text '" + path + "' 2>/dev/null", &ok);
    ASSERT_TRUE(ok);
    const RunResult ours = run_mwconv(dir, "-t text '" + path + "'");
    ASSERT_EQ(ours.status, 0) << ours.err;
    auto lines = [](std::string text, bool mine) {
        std::multiset<std::string> set;
        text = without_soft_hyphens(text);
        for (const char *mark : {"#", "<date>", "<time>", "[picture 1]"})
            for (size_t at; mine && (at = text.find(mark)) != std::string::npos;) text.erase(at, std::strlen(mark));
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) {
            while (!l.empty() && l.back() == ' ') l.pop_back();
            if (!l.empty() && l != "Left header") set.insert(l);
        }
        return set;
    };
    EXPECT_EQ(lines(ours.out, true), lines(theirs, false));
}

// --- what is no MacWrite II document --------------------------------------

std::vector<std::string> lookalikes() {
    std::vector<std::string> files;
    std::mt19937 random(2812);
    auto text_of = [&](const std::string &line, size_t bytes) {
        std::string t;
        while (t.size() < bytes) t += line;
        return t.substr(0, bytes);
    };
    for (size_t size : {16u, 300u, 767u, 768u, 1024u, 5000u, 70000u}) {
        for (int n = 1; n <= 9; ++n) files.push_back(text_of(std::to_string(n) + ". Item number " + std::to_string(n) + "\n", size));
        files.push_back(text_of("A.B. Smith and C.D. Jones\n", size));
        files.push_back(text_of("J.R.R. Tolkien\n", size));
        files.push_back(text_of("Chapter 1 .......... 3\n", size));
        files.push_back(text_of("..\n", size));
        // The on-disk signature, then text.
        files.push_back(std::string("\0.\0.", 4).substr(0, std::min<size_t>(size, 4)) + text_of("text ", size > 4 ? size - 4 : 0));
        files.push_back(text_of("1.\t2.\t3.\r", size));
        files.push_back(text_of(".. note::\n   A reStructuredText note.\n", size));
    }
    for (int i = 0; i < 200; ++i) {
        std::string bytes(static_cast<size_t>(random() % 9000 + 4), '\0');
        for (char &b : bytes) b = static_cast<char>(random());
        if (i % 2 == 0) bytes[1] = '.';
        else bytes[3] = '.';
        files.push_back(bytes);
    }
    return files;
}

TEST(MacWrite2Recognition, FilesThatOnlyLookLikeOneAreNone) {
    const std::vector<std::string> files = lookalikes();
    ASSERT_GE(files.size(), 250u);
    int claimed = 0;
    for (const std::string &f : files) {
        const auto *head = reinterpret_cast<const uint8_t *>(f.data());
        const size_t n = std::min<size_t>(f.size(), 4096);
        if (macwrite_bid_ii(head, n) > 0 || macwrite_bid_5(head, n) > 0 || macwrite_bid_22(head, n) > 0) ++claimed;
        EXPECT_EQ(convert(import_macwrite_ii, f).result, -1);
    }
    EXPECT_EQ(claimed, 0);
    // The command says so of the first few, with its status for them.
    ScratchDir dir;
    const RunResult r = run_mwconv(dir, "'" + dir.write("list.txt", files[0]) + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("not a MacWrite document"), std::string::npos) << r.err;
}

TEST(MacWrite2Recognition, TheOnDiskLayoutBidsAboveTheOther) {
    const std::string doc = full_disk_document().build();
    const auto *head = reinterpret_cast<const uint8_t *>(doc.data());
    EXPECT_GT(macwrite_bid_ii(head, std::min<size_t>(doc.size(), 4096)), 40);
    EXPECT_EQ(macwrite_bid_5(head, std::min<size_t>(doc.size(), 4096)), 0);
    EXPECT_EQ(macwrite_bid_22(head, std::min<size_t>(doc.size(), 4096)), 0);
}

// A real document cut short, or with its document chain's first block
// zeroed, is still one: its text is kept as far as it goes and the damage
// said.
TEST(MacWrite2Disk, DamagedDocumentsAreRecognisedAndKeepWhatTheyCan) {
    const std::string doc = full_disk_document().build();
    std::string zeroed = doc;
    std::fill(zeroed.begin() + 2 * 256, zeroed.begin() + 3 * 256, '\0');
    const Converted z = convert(import_macwrite_ii, zeroed);
    EXPECT_EQ(z.result, kConvertedDamaged);
    const auto *head = reinterpret_cast<const uint8_t *>(zeroed.data());
    EXPECT_GT(macwrite_bid_ii(head, 4096), 0);
    const std::string cut = doc.substr(0, doc.size() * 3 / 4);
    const Converted c = convert(import_macwrite_ii, cut);
    EXPECT_EQ(c.result, kConvertedDamaged);
    EXPECT_NE(c.output.find("Plain start"), std::string::npos);
}

// A document whose first block is lost says nothing of itself; the Finder's
// type and creator that a container keeps say it is MacWrite II.  Without
// them the same bytes are no document.
TEST(MacWrite2Recognition, TheFindersWordsTellALostFirstBlock) {
    std::string doc = full_disk_document().build();
    std::fill(doc.begin(), doc.begin() + 256, '\0');
    ScratchDir dir;
    const std::string bare = dir.write("bare", doc);
    EXPECT_EQ(run_mwconv(dir, "'" + bare + "'").status, 2);
    const std::string single = dir.write(
        "single.as", AppleBuilder(AppleBuilder::kSingle, 2).name("Letter").finder("MW2D", "MWII").data(doc).build());
    const RunResult r = run_mwconv(dir, "-t text '" + single + "'");
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.out.find("Plain start"), std::string::npos);
    EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
}

}  // namespace
