// Measuring a printed PDF against the pages a MacWrite 4.6/5 document
// stores: poppler's `pdftotext -bbox-layout` gives every printed line's page
// and box; the page count and where each page's first paragraph starts are
// compared with the author's.  Any PDF is measured alike: LibreOffice's print
// of our DOCX, ODT or RTF or of the original, Chromium's of our HTML.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/stored_layout.h"
#include "tests/support/tools.h"

namespace testing_support {

struct PrintedLine {
    double top = 0, bottom = 0, left = 0;  // points from the paper's top left
    std::string text;                      // its words, one space apart
};

struct PrintedPage {
    double width = 0, height = 0;
    std::vector<PrintedLine> lines;  // from the top of the page down
};

namespace printed_detail {

inline double attribute(const std::string &line, const char *name) {
    const std::string key = std::string(name) + "=\"";
    const size_t at = line.find(key);
    return at == std::string::npos ? 0 : std::atof(line.c_str() + at + key.size());
}

// The text of one <word> element, entities reduced to their characters.
inline std::string word_text(const std::string &line) {
    const size_t open = line.find('>'), close = line.rfind("</word>");
    if (open == std::string::npos || close == std::string::npos || close < open) return "";
    std::string raw = line.substr(open + 1, close - open - 1), text;
    static const std::pair<const char *, char> kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'},
                                                              {"&quot;", '"'}, {"&apos;", '\''}};
    for (size_t i = 0; i < raw.size();) {
        bool replaced = false;
        for (const auto &[entity, c] : kEntities)
            if (raw.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                text += c;
                i += std::char_traits<char>::length(entity);
                replaced = true;
                break;
            }
        if (!replaced) text += raw[i++];
    }
    return text;
}

// Letters and digits of ASCII alone: what the Mac's text and the PDF's
// surely share, whatever the fonts did to the rest.
inline std::string key_of(const std::string &text) {
    std::string key;
    for (unsigned char c : text)
        if (c < 0x80 && std::isalnum(c)) key += static_cast<char>(c);
    return key;
}

}  // namespace printed_detail

// Every line of `pdf`, page by page.
inline std::vector<PrintedPage> printed_lines(const std::string &pdf) {
    using namespace printed_detail;
    std::vector<PrintedPage> pages;
    const std::string xml = run_command("pdftotext -bbox-layout '" + pdf + "' - 2>/dev/null");
    PrintedLine *open = nullptr;
    for (size_t at = 0; at < xml.size();) {
        size_t end = xml.find('\n', at);
        if (end == std::string::npos) end = xml.size();
        const std::string line = xml.substr(at, end - at);
        at = end + 1;
        if (line.find("<page ") != std::string::npos) {
            pages.push_back({attribute(line, "width"), attribute(line, "height"), {}});
        } else if (line.find("<line ") != std::string::npos && !pages.empty()) {
            pages.back().lines.push_back({attribute(line, "yMin"), attribute(line, "yMax"), attribute(line, "xMin"), ""});
            open = &pages.back().lines.back();
        } else if (line.find("<word ") != std::string::npos && open != nullptr) {
            open->text += (open->text.empty() ? "" : " ") + word_text(line);
        } else if (line.find("</line>") != std::string::npos) {
            open = nullptr;
        }
    }
    for (PrintedPage &p : pages)
        std::stable_sort(p.lines.begin(), p.lines.end(),
                         [](const PrintedLine &a, const PrintedLine &b) { return a.top < b.top; });
    return pages;
}

// Where one stored paragraph printed.
struct ParagraphStart {
    int page = 0;           // the stored page, from 0
    bool first = false;     // the first paragraph with text on its stored page
    std::string text;       // the paragraph's first characters
    double stored = 0;      // its top, points from the paper's top
    int printed_page = -1;  // where it printed, -1 when nowhere
    double printed = 0;     // the top of its first line there
    double offset() const { return printed - stored; }
    bool within(double points) const { return printed_page == page && std::fabs(offset()) <= points; }
};

struct LayoutFigures {
    int stored_pages = 0, printed_pages = 0;
    std::vector<ParagraphStart> paragraphs;  // those measured
    // Pages whose first paragraph printed on that page within `points` of
    // its stored top, and how many pages were measured.
    int pages_within(double points) const {
        return static_cast<int>(std::count_if(paragraphs.begin(), paragraphs.end(),
                                              [&](const ParagraphStart &p) { return p.first && p.within(points); }));
    }
    int pages_measured() const {
        return static_cast<int>(
            std::count_if(paragraphs.begin(), paragraphs.end(), [](const ParagraphStart &p) { return p.first; }));
    }
    int paragraphs_within(double points) const {
        return static_cast<int>(std::count_if(paragraphs.begin(), paragraphs.end(),
                                              [&](const ParagraphStart &p) { return p.within(points); }));
    }
};

namespace printed_detail {

// Paragraphs too short to know again are passed over.
constexpr size_t kMinKey = 4, kKeyLength = 16;

inline bool starts_with(const std::string &paragraph_key, const PrintedLine &line) {
    const std::string key = key_of(line.text);
    const size_t n = std::min({kKeyLength, paragraph_key.size(), key.size()});
    return n >= kMinKey && paragraph_key.compare(0, n, key, 0, n) == 0;
}

// Where the last paragraph found printed: the search for the next one
// starts after it, as the text goes on.
struct Cursor {
    size_t page = 0, line = 0;
};

inline void find_start(ParagraphStart &s, const std::string &key, const std::vector<PrintedPage> &pages, Cursor &at) {
    for (size_t p = at.page; p < pages.size(); ++p)
        for (size_t l = p == at.page ? at.line : 0; l < pages[p].lines.size(); ++l)
            if (starts_with(key, pages[p].lines[l])) {
                s.printed_page = static_cast<int>(p);
                s.printed = pages[p].lines[l].top;
                at = {p, l + 1};
                return;
            }
}

}  // namespace printed_detail

// The figures of a print of the document whose stored layout is `stored`.
// The page rectangle lies where the print record puts it on the paper, or,
// when the record does not say, centred on the printed paper.  A printed
// line's top is where its glyphs start, which is the top of its line (within
// about 1.5 points) when the line holds one size: paragraphs that mix sizes
// are not measured, nor paragraphs too short to know again; a page whose
// first paragraph with text is one of them has its start unmeasured.
inline LayoutFigures measure_layout(const StoredLayout &stored, const std::vector<PrintedPage> &pages) {
    using namespace printed_detail;
    LayoutFigures f;
    f.stored_pages = stored.pages();
    f.printed_pages = static_cast<int>(pages.size());
    const double paper = pages.empty() ? 0 : pages.front().height;
    const double rect_top = stored.on_paper ? stored.rect_top : (paper - stored.rect_height) / 2;
    int page = -1;
    Cursor at;
    for (const StoredParagraph &p : stored.main) {
        const std::string key = key_of(p.text);
        if (p.kind != StoredParagraph::Text || key.empty()) continue;
        // A page's start is measured where its first paragraph with text is.
        const bool first = p.page > page;
        page = std::max(page, p.page);
        if (key.size() < kMinKey || !p.one_size) continue;
        ParagraphStart s;
        s.page = p.page;
        s.first = first;
        s.text = p.text.substr(0, 24);
        s.stored = rect_top + p.top;
        find_start(s, key, pages, at);
        f.paragraphs.push_back(s);
    }
    return f;
}

}  // namespace testing_support
