#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <utility>
#include <vector>
#include <string>
#include <unordered_map>

#include "render/render.h"
#include "render/sink.h"
#include "render/styled.h"
#include "mactext/utf8.h"

namespace render {

namespace {

// A column is 1/10 inch: 7.2 points.
constexpr double kPointsPerColumn = 7.2;
// Past the last stop, a tab goes to the next half inch.
constexpr double kDefaultTabPoints = 36;
constexpr double kDefaultSize = 12;
// The text before a tab is held to learn where the tab goes; text longer
// than this is no column, and its tabs stay tab characters.  It counts
// what both reads of the stream hold alike: the text and the marks between
// it, not the attributes that only the second read names, nor a picture's
// drawing, which only it makes.
constexpr size_t kSegmentLimit = 16384;

// A number with at most one decimal.
std::string decimal(double v) {
    const long tenths = static_cast<long>(v * 10 + 0.5);
    std::string s = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        s += '.';
        s += std::to_string(tenths % 10);
    }
    return s;
}

std::string points(double pt) { return decimal(pt) + "pt"; }

// A browser measures text only as it lays it out; this is the width of a
// character in ems in a common face of the family, near enough to tell
// which tab stop a stretch of text reaches.
double em_width(char16_t c, const CharStyle &s) {
    if (s.face != nullptr && s.face->generic == Generic::Monospace) return 0.6;
    double w = 0.5;
    if (c == ' ' || c == 'i' || c == 'l' || c == 'j' || c == 't' || c == 'f' || c == 'r' || c == '.' || c == ',' ||
        c == ':' || c == ';' || c == '\'' || c == '|' || c == '!' || c == 'I')
        w = 0.28;
    else if (c == 'm' || c == 'w' || c == 'M' || c == 'W')
        w = 0.85;
    else if (c >= 'A' && c <= 'Z')
        w = 0.67;
    else if (c >= '0' && c <= '9')
        w = 0.56;
    if (s.has(kBold)) w *= 1.07;
    if (s.has(kSuperscript) || s.has(kSubscript)) w *= 0.7;
    return w;
}

// em_width of every ASCII character (and, last, of any other) for each
// combination of the attributes that scale it: the same products, made once.
struct EmTable {
    std::array<double, 129> width;
};

const EmTable &em_table(bool bold, bool script) {
    static const auto tables = [] {
        std::array<EmTable, 4> t{};
        for (int k = 0; k < 4; ++k) {
            CharStyle s;
            if (k & 1) s.attributes |= kBold;
            if (k & 2) s.attributes |= kSuperscript;
            for (char16_t c = 0; c <= 128; ++c) t[k].width[c] = em_width(c, s);
        }
        return t;
    }();
    return tables[(bold ? 1 : 0) | (script ? 2 : 0)];
}

double text_width(std::u16string_view run, const CharStyle &s) {
    double ems = 0;
    if (s.face != nullptr && s.face->generic == Generic::Monospace) {
        for (size_t i = 0; i < run.size(); ++i) ems += 0.6;
    } else {
        const EmTable &t = em_table(s.has(kBold), s.has(kSuperscript) || s.has(kSubscript));
        for (char16_t c : run) ems += t.width[c < 128 ? c : 128];
    }
    return ems * (s.size != 0 ? s.size : kDefaultSize);
}

// Room is made once for the longest form ("&amp;", five bytes).
void append_escaped(std::string &out, std::u16string_view run) {
    const size_t at = out.size();
    out.resize(at + 5 * run.size());
    char *const start = out.data() + at;
    char *p = start;
    auto put = [&p](std::string_view s) {
        for (char ch : s) *p++ = ch;
    };
    for (char16_t c : run) {
        if (c == '&') {
            put("&amp;");
        } else if (c == '<') {
            put("&lt;");
        } else if (c == '>') {
            put("&gt;");
        } else if (c < 0x80) {
            *p++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *p++ = static_cast<char>(0xC0 | c >> 6);
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *p++ = static_cast<char>(0xE0 | c >> 12);
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(at + static_cast<size_t>(p - start));
}

std::string escaped(std::string_view utf8) {
    std::string out;
    for (char c : utf8) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

// A length in twips in `unit` (`per_unit` twips each), to three decimals.
std::string length(int twips, int per_unit, const char *unit) {
    const long magnitude = twips < 0 ? -static_cast<long>(twips) : twips;
    const long thousandths = (magnitude * 1000 + per_unit / 2) / per_unit;
    std::string s = (twips < 0 ? "-" : "") + std::to_string(thousandths / 1000);
    if (long fraction = thousandths % 1000; fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, 3 - digits.size(), '0');
        while (digits.back() == '0') digits.pop_back();
        s += "." + digits;
    }
    return s + unit;
}

// Paragraphs keep their spaces and tabs (pre-wrap) and have no margins of
// their own: MacWrite spaces paragraphs only by their lines.
std::string paragraph_css(const ParagraphStyle &p) {
    std::string css = "margin:0;white-space:pre-wrap";
    switch (p.align) {
    case Align::Centre: css += ";text-align:center"; break;
    case Align::Right: css += ";text-align:right"; break;
    case Align::Justified: css += ";text-align:justify"; break;
    default: break;
    }
    if (p.left_indent != 0) css += ";margin-left:" + length(p.left_indent, kTwipsPerPoint, "pt");
    if (p.right_indent != 0) css += ";margin-right:" + length(p.right_indent, kTwipsPerPoint, "pt");
    if (p.first_indent != 0) css += ";text-indent:" + length(p.first_indent, kTwipsPerPoint, "pt");
    if (p.space_before > 0) css += ";margin-top:" + length(p.space_before, kTwipsPerPoint, "pt");
    if (p.space_after > 0) css += ";margin-bottom:" + length(p.space_after, kTwipsPerPoint, "pt");
    // Single spacing (8) is a line height of 1.2.
    if (p.line_height > 0) {
        css += ";line-height:" + length(p.line_height, kTwipsPerPoint, "pt");
    } else if (p.interline != 8 && p.interline != 0) {
        css += ";line-height:";
        css += decimal(p.interline * 0.15);
    }
    return css;
}

// What a page's head declares: a class for each distinct CSS of a
// paragraph, a run or a tab box, so that a style is spelled once in the
// head and not on every run; and which of the shared rules and font
// substitutes the body needs.  A first read of the stream fills it, in the
// order of first use; the head is written before the body, and the body is
// never held.  Past kMost distinct styles (only a crafted stream has so
// many) a style stays inline.
enum Feature : unsigned {
    kHeaderBlock = 1 << 0,
    kFooterBlock = 1 << 1,
    kNotes = 1 << 2,
    kFields = 1 << 3,
    kPageBreaks = 1 << 4,
    kPictures = 1 << 5,
    kTabs = 1 << 6,
    // A picture drawn in the page: its text names families of its own.
    kDrawings = 1 << 7,
    // The pages the author's layout starts, kept in print.
    kStoredPages = 1 << 8,
    kEveryFeature = (1 << 9) - 1,
};

// Declarations that undo, for a paragraph of CSS `css`, what `base` (the
// rule for every <p>) sets and `css` does not.  Every paragraph's CSS opens
// with "margin:0", which undoes the margins.  A paragraph whose font is not
// known (an empty one before any text) keeps the rule's, the document's
// commonest, rather than the reader's own.
std::string resets(const std::string &base, const std::string &css) {
    static constexpr std::pair<const char *, const char *> kInitial[] = {
        {"text-align:", "left"}, {"text-indent:", "0"}, {"line-height:", "normal"}};
    std::string out;
    for (const auto &[property, value] : kInitial)
        if (base.find(property) != std::string::npos && css.find(property) == std::string::npos)
            out += std::string(";") + property + value;
    return out;
}

class StyleSheet {
public:
    // A paragraph's CSS is counted: the commonest is that of a bare <p>.
    void add(const std::string &css, bool paragraph) {
        if (css.empty()) return;
        if (holding_) {
            held_.emplace_back(css, paragraph);
            return;
        }
        auto it = index_.find(css);
        if (it == index_.end()) {
            if (order_.size() == kMost) return;
            it = index_.emplace(css, order_.size()).first;
            order_.push_back(css);
            paragraphs_.push_back(0);
        }
        if (paragraph) ++paragraphs_[it->second];
    }
    void use(Feature f) { (holding_ ? held_features_ : features_) |= f; }
    void use(const FontFace *face) {
        if (face != nullptr) (holding_ ? held_families_ : families_).emplace(face->family);
    }
    // A header or footer is shown only when it has text: what it needs is
    // held until its end says whether it is.
    void hold() { holding_ = true; }
    void release(bool shown) {
        holding_ = false;
        if (shown) {
            for (const auto &[css, paragraph] : held_) add(css, paragraph);
            features_ |= held_features_;
            families_.insert(held_families_.begin(), held_families_.end());
        }
        held_.clear();
        held_features_ = 0;
        held_families_.clear();
    }
    // The class that carries `css`, or null.
    const std::string *find(const std::string &css) const {
        const auto it = index_.find(css);
        return it == index_.end() ? nullptr : &names_[it->second];
    }
    void name() {
        names_.clear();
        size_t bare = 0;
        for (size_t i = 0; i < order_.size(); ++i)
            if (paragraphs_[i] > paragraphs_[bare]) bare = i;
        if (order_.empty() || paragraphs_[bare] == 0) bare = order_.size();
        for (size_t i = 0, n = 0; i < order_.size(); ++i)
            names_.push_back(i == bare ? "" : "mw-s" + std::to_string(++n));
        named_ = true;
    }
    bool uses(Feature f) const { return !named_ || (features_ & f) != 0; }
    bool uses(const FontFace &face) const {
        return !named_ || (features_ & kDrawings) != 0 || families_.count(face.family) != 0;
    }
    // The bare <p>'s style is the rule for every <p> (readers such as
    // LibreOffice know no finer selector), so a paragraph class also resets
    // what that rule sets and the class does not.
    std::string rules() const {
        const auto bare = std::find(names_.begin(), names_.end(), std::string());
        const std::string base = bare == names_.end() ? "" : order_[static_cast<size_t>(bare - names_.begin())];
        std::string css;
        for (size_t i = 0; i < order_.size(); ++i) {
            if (names_[i].empty()) css += "p{" + order_[i] + "}\n";
            else css += "." + names_[i] + "{" + order_[i] + (paragraphs_[i] > 0 ? resets(base, order_[i]) : "") + "}\n";
        }
        return css;
    }

private:
    static constexpr size_t kMost = 4096;
    std::unordered_map<std::string, size_t> index_;
    std::vector<std::string> order_, names_;  // a bare <p>'s name is empty
    std::vector<size_t> paragraphs_;          // the paragraphs in each
    // Owned: a family the document names itself lives only as long as the
    // read that met it, and the sheet outlasts the first read.
    std::set<std::string, std::less<>> families_;
    unsigned features_ = 0;
    std::vector<std::pair<std::string, bool>> held_;
    std::set<std::string, std::less<>> held_families_;
    unsigned held_features_ = 0;
    bool holding_ = false;
    bool named_ = false;  // read whole: what it does not name, the page does not use
};

// The elements that show a character style, outermost first.
struct Markup {
    struct Element {
        std::string open, close;
    };
    std::vector<Element> elements;
    void element(const char *name, const std::string &attributes = "") {
        elements.push_back({std::string("<") + name + attributes + ">", std::string("</") + name + ">"});
    }
};

// A run's family and size.  A paragraph is set in the font of its first
// run, so that the browser takes its lines' height from the document's font
// and not from its own default; runs in that font need no span.
struct Font {
    const FontFace *face = nullptr;
    uint8_t size = 0;
    bool operator==(const Font &) const = default;
};

Font font_of(const CharStyle &s) { return {s.face, s.size}; }

// What of `f` differs from `base`, as CSS declarations each ending in ';'.
// What `f` has not said is the page's default, as where no paragraph font is.
std::string font_css(const Font &f, const Font &base = {}) {
    std::string css;
    if (f.face != base.face)
        css += f.face == nullptr ? "font-family:initial;"
                                 : "font-family:'" + std::string(f.face->family) + "'," +
                                       std::string(generic_name(f.face->generic)) + ";";
    if (f.size != base.size) css += f.size == 0 ? "font-size:medium;" : "font-size:" + std::to_string(f.size) + "pt;";
    return css;
}

// What of a character style has no element of its own, as CSS, against
// the paragraph's font; empty when nothing.  Raised and lowered text keeps
// its font on its span, as the <sup> and <sub> around it would scale it.
std::string span_css(const CharStyle &s, const Font &base) {
    const bool scripted = s.has(kSuperscript) || s.has(kSubscript);
    std::string css = font_css(font_of(s), scripted ? Font{} : base);
    if (s.has(kOutline)) css += "color:transparent;-webkit-text-stroke:0.04em #" + std::string(colour_hex(s.colour)) + ";";
    else if (s.colour != Colour::Black) css += "color:#" + std::string(colour_hex(s.colour)) + ";";
    if (s.has(kShadow)) css += "text-shadow:0.08em 0.08em 0.04em #999;";
    if (s.has(kSmallCaps)) css += "font-variant:small-caps;";
    if (s.has(kAllCaps)) css += "text-transform:uppercase;";
    if (!css.empty()) css.pop_back();
    return css;
}

// `class` or `style` attributes for CSS.  The first read only enters the
// CSS in the sheet; the second names its class, or, when the sheet does not
// know it (a fragment, a stream read once), spells it inline.
class Attributes {
public:
    Attributes(StyleSheet &sheet, bool collecting) : sheet_(sheet), collecting_(collecting) {}
    std::string operator()(const std::string &css, const std::string &classes = "", bool paragraph = false) const {
        if (collecting_) {
            sheet_.add(css, paragraph);
            return {};
        }
        const std::string *name = sheet_.find(css);
        if (name != nullptr && name->empty()) return {};
        if (name != nullptr) return " class=\"" + (classes.empty() ? *name : classes + " " + *name) + "\"";
        return (classes.empty() ? "" : " class=\"" + classes + "\"") + (css.empty() ? "" : " style=\"" + css + "\"");
    }
    bool collecting() const { return collecting_; }
    StyleSheet &sheet() const { return sheet_; }

private:
    StyleSheet &sheet_;
    bool collecting_;
};

// The elements that show a character style in a paragraph set in `base`;
// the rest is one span.  Lines and raised or lowered text stay outside the
// span, as they take their colour, size and baseline from their parent;
// bold and italic, which the span does not touch, go inside it, so that a
// word that only turns bold leaves the span open.
Markup markup(const CharStyle &s, const Font &base, const Attributes &attributes) {
    Markup m;
    if (s.has(kDoubleUnderline)) m.element("u", " style=\"text-decoration-style:double\"");
    else if (s.has(kUnderline)) m.element("u");
    if (s.has(kStrikeout)) m.element("s");
    if (s.has(kSuperscript)) m.element("sup");
    if (s.has(kSubscript)) m.element("sub");
    const std::string css = span_css(s, base);
    if (!css.empty()) m.element("span", attributes(css, s.has(kSmallCaps) ? "smallcaps" : ""));
    if (s.has(kBold)) m.element("b");
    if (s.has(kItalic)) m.element("i");
    return m;
}

const char *field_class(Field kind) {
    switch (kind) {
    case Field::Date: return "mw-field mw-date";
    case Field::Time: return "mw-field mw-time";
    default: return "mw-field mw-page-number";
    }
}

// The shared rules, each with what in the body needs it.
struct Rule {
    Feature needs;
    const char *css;
};
constexpr Rule kRules[] = {
    {kHeaderBlock, "header.mw-header{border-bottom:1px solid #ccc;margin-bottom:1em}\n"},
    {kFooterBlock, "footer.mw-footer{border-top:1px solid #ccc;margin-top:1em}\n"},
    {kNotes, "section.mw-notes{border-top:1px solid #ccc;margin-top:1em;font-size:90%}\n"},
    {kFields, ".mw-field{background:#e8e8e8;border-radius:2px}\n"},
    {kPageBreaks, "@media screen{.mw-page-break{border-top:1px dashed #bbb;margin:0.5em 0}}\n"},
    {kPictures, ".mw-picture svg,.mw-picture img{vertical-align:top;max-width:100%;height:auto}\n"},
    {kTabs, ".mw-tab{display:inline-block;tab-size:0;text-indent:0}\n"},
    // MacWrite moves no line to keep a paragraph's lines together.
    {kStoredPages, "@media print{.mw-page-start{break-after:page}p{orphans:1;widows:1}}\n"},
};

// The substitutes that LibreOffice prints the Mac families with, by their
// kind: a browser that prints the page then sets the same text in the same
// widths.
std::string_view substitute(Generic g) {
    switch (g) {
    case Generic::SansSerif: return "Liberation Sans";
    case Generic::Monospace: return "Liberation Mono";
    default: return "Liberation Serif";
    }
}

std::string font_substitutes(const StyleSheet &sheet) {
    std::string css;
    for (const FontFace &face : font_table())
        if (first_of_family(face) && sheet.uses(face))
            css += "@font-face{font-family:'" + std::string(face.family) + "';src:local('" +
                   std::string(substitute(face.generic)) + "')}\n";
    return css;
}

// The page of the document: its paper and margins when printed, and on
// screen a body as wide as its text block; without a page, a column of
// six and a half inches.  Printed, every page keeps the room that the
// header and footer take on the author's pages, so that a page holds what
// MacWrite's held.
std::string body_css(const PageSetup &page, const StyleSheet &sheet) {
    if (!page.said) return "body{max-width:6.5in;margin:1em auto;padding:0 1em}\n";
    const auto in = [](int twips) { return length(twips, kTwipsPerInch, "in"); };
    std::string css = "@page{size:" + in(page.width) + " " + in(page.height) + ";margin:" +
                      in(page.top + page.header_height) + " " + in(page.right) + " " +
                      in(page.bottom + page.footer_height) + " " + in(page.left) + "}\n";
    // The header shown stands in that room of the first page, which the
    // page's margin leaves to it.
    if (sheet.uses(kHeaderBlock) && page.header_height > 0) css += "@page:first{margin-top:" + in(page.top) + "}\n";
    return css + "body{margin:1em auto;width:" + in(page.text_width()) + "}\n@media print{body{margin:0}}\n" +
           font_substitutes(sheet);
}

// Printed, the header takes the room it has on the author's first page,
// and the footer after the text no more than its own lines.
std::string printed_blocks_css(const PageSetup &page, const StyleSheet &sheet) {
    std::string css;
    if (page.said && sheet.uses(kHeaderBlock))
        css += "header.mw-header{margin:0;border:0;min-height:" + length(page.header_height, kTwipsPerPoint, "pt") + "}";
    if (page.said && sheet.uses(kFooterBlock)) css += "footer.mw-footer{margin:0;border:0}";
    return css.empty() ? css : "@media print{" + css + "}\n";
}

std::string style_element(const PageSetup &page, const StyleSheet &sheet) {
    std::string css = "<style>\n" + body_css(page, sheet);
    for (const Rule &r : kRules)
        if (sheet.uses(r.needs)) css += r.css;
    return css + printed_blocks_css(page, sheet) + sheet.rules() + "</style>\n";
}

// One place the HTML goes (the page, the held footer, the held notes) and
// the state of what is open there.
struct Flow {
    explicit Flow(std::FILE *file = nullptr, bool discard = false)
        : sink(discard ? Sink(Sink::Discard{}) : Sink(file)) {}
    Sink sink;
    std::optional<CharStyle> run;  // the style whose elements are open
    std::vector<Markup::Element> open;
    // A paragraph's <p> waits for its first run, whose font it takes.
    bool in_paragraph = false, p_written = false, paragraph_empty = true;
    bool has_text = false;
    std::string paragraph_css;
    Font font;                     // the paragraph's
    std::vector<TabStop> tabs;
    std::string segment;           // the paragraph's text since its last tab
    size_t segment_content = 0;    // its length as kSegmentLimit counts it
    double segment_start = 0;      // where it starts, in points from the margin
    double line_start = 0;         // where the paragraph's first line starts, likewise
    double indent = 0;             // where its other lines start, likewise
    double segment_width = 0;      // how wide it is, estimated, as far as `unmeasured`
    bool measured = true;          // false once the position is lost
    // Text whose width is not yet added, and where each of its runs ends
    // with its style: a width is needed only where a tab follows, so text is
    // measured then, run by run in its order, as it would have been at once.
    std::u16string unmeasured;
    std::vector<std::pair<size_t, CharStyle>> unmeasured_runs;
    int backlink = 0;              // a note whose first paragraph is yet to come
};

class HtmlRenderer final : public StyledListener {
public:
    // The first read (`attributes` collecting) writes nothing and fills the
    // style sheet; the second writes the page to `out`.
    HtmlRenderer(std::FILE *out, const RenderOptions &options, const Attributes &attributes)
        : page_(out, attributes.collecting()), attributes_(attributes), options_(options) {}

    // A fragment has no pages of its own to follow.
    bool follows_stored_pages() const override { return !options_.fragment; }

    // The head, once the page is known.
    void page_setup(const PageSetup &page) override {
        page_said_ = page.said && !options_.fragment;
        if (options_.fragment || attributes_.collecting()) return;
        page_.sink.put("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + escaped(options_.title) +
                       "</title>\n" + style_element(page, attributes_.sheet()) + "</head>\n<body>\n");
    }

    bool ok() { return page_.sink.flush(); }

    // A header or footer is held until its end and shown only when it has
    // text; the footer waits for the end of the document.
    void begin_block(Block kind, int note_number) override {
        block_ = kind;
        if (kind != Block::Note) {
            flow_ = &block_flow_.emplace();
            if (attributes_.collecting()) attributes_.sheet().hold();
            return;
        }
        use(kNotes);
        flow_ = &notes_;
        flow_->sink.put("<div class=\"mw-note\" id=\"mw-note-" + std::to_string(note_number) + "\">\n");
        flow_->backlink = note_number;
    }

    void end_block() override {
        if (block_ != Block::Note && attributes_.collecting()) attributes_.sheet().release(flow_->has_text);
        if (block_ == Block::Note) {
            if (flow_->backlink != 0) flow_->sink.put("<p style=\"margin:0\">" + backlink(flow_->backlink) + "</p>\n");
            flow_->backlink = 0;
            flow_->sink.put("</div>\n");
        } else if (flow_->has_text) {
            const bool header = block_ == Block::Header;
            use(header ? kHeaderBlock : kFooterBlock);
            (header ? page_.sink : footer_.sink)
                .put(std::string(header ? "<header class=\"mw-header\">\n" : "<footer class=\"mw-footer\">\n") +
                     flow_->sink.held() + (header ? "</header>\n" : "</footer>\n"));
        }
        flow_ = &page_;
        block_.reset();
    }

    void begin_paragraph(const ParagraphStyle &style) override {
        open_main();
        Flow &f = *flow_;
        f.paragraph_css = paragraph_css(style);
        f.tabs = style.tabs;
        f.line_start = static_cast<double>(style.left_indent + style.first_indent) / kTwipsPerPoint;
        f.indent = static_cast<double>(style.left_indent) / kTwipsPerPoint;
        f.in_paragraph = true;
        f.p_written = false;
        f.paragraph_empty = true;
        f.measured = true;
    }

    void end_paragraph() override { close_paragraph(*flow_); }

    void text(std::u16string_view run, const CharStyle &style) override {
        set_run(style);
        // The first read writes nothing: the text's measure is all it needs.
        if (!attributes_.collecting()) append_escaped(flow_->segment, run);
        Flow &f = *flow_;
        if (f.measured) {
            f.unmeasured += run;
            f.unmeasured_runs.emplace_back(f.unmeasured.size(), style);
        }
        put_content({}, 0, run.size());
    }

    void tab(const CharStyle &style) override {
        Flow &f = *flow_;
        if (!f.measured) {
            set_run(style);
            put_content("\t", 0);
            return;
        }
        write_p(&style);
        close_run(f);
        use(kTabs);
        const double stop = next_stop(f);
        // The tab character stays for readers that copy or convert the text;
        // the box's tab-size makes it take no room.  A fragment has no head
        // to say so once.
        const std::string width = "min-width:" + points(stop - f.segment_start);
        f.sink.put("<span" +
                   attributes_(options_.fragment ? "display:inline-block;tab-size:0;text-indent:0;" + width : width,
                               "mw-tab") +
                   ">" + f.segment + "\t</span>");
        f.segment.clear();
        f.segment_content = 0;
        f.segment_start = stop;
        f.segment_width = 0;
        f.paragraph_empty = false;
        forget_unmeasured(f);
    }

    void line_end(const CharStyle &style) override {
        set_run(style);
        put_content(" ", text_width(u" ", style));
    }

    void page_break() override {
        open_main();
        use(kPageBreaks);
        Flow &f = *flow_;
        const bool written = f.in_paragraph && f.p_written;
        if (written) close_paragraph(f);
        f.sink.put("<div class=\"mw-page-break\" style=\"break-after:page\"></div>\n");
        if (written) {  // the paragraph goes on after the break, in its font
            f.in_paragraph = true;
            open_p(f);
        }
    }

    // A page the author's layout starts: a new page in print; on screen
    // the text flows on as the window is wide.
    void stored_page_break() override {
        open_main();
        use(kStoredPages);
        flow_->sink.put("<div class=\"mw-page-start\"></div>\n");
    }

    void note_call(int number, const CharStyle &style) override {
        set_run(style);
        const std::string n = std::to_string(number);
        put_content("<sup class=\"mw-note-ref\"><a id=\"mw-ref-" + n + "\" href=\"#mw-note-" + n + "\">[" + n +
                        "]</a></sup>",
                    text_width(u"[1]", style));
    }

    void field(Field kind, const CharStyle &style) override {
        set_run(style);
        use(kFields);
        std::string html = std::string("<span class=\"") + field_class(kind) + "\">";
        append_escaped(html, field_placeholder(kind));
        put_content(html + "</span>", text_width(field_placeholder(kind), style));
    }

    // Inline SVG at the frame's size, or the extracted file; a picture that
    // cannot be drawn shows its marker.  A picture between paragraphs is a
    // block of its own.
    void picture(const Picture &p) override {
        open_main();
        use(kPictures);
        if (p.drawable() && options_.media_dir.empty()) use(kDrawings);
        Flow &f = *flow_;
        const std::string html = picture_html(p);
        if (f.in_paragraph) {
            write_p(nullptr);
            close_run(f);
            put_content("<span class=\"mw-picture\">" + html + "</span>", p.width,
                        picture_placeholder(p.number).size());
            return;
        }
        f.sink.put("<div class=\"mw-picture\">" + html + "</div>\n");
        f.has_text = true;
    }

    void end_document() override {
        if (main_open_) page_.sink.put("</main>\n");
        page_.sink.put(footer_.sink.held());
        if (!notes_.sink.empty())
            page_.sink.put("<section class=\"mw-notes\">\n" + notes_.sink.held() + "</section>\n");
        if (!options_.fragment) page_.sink.put("</body>\n</html>\n");
    }

private:
    static std::string backlink(int number) {
        const std::string n = std::to_string(number);
        return "<a href=\"#mw-ref-" + n + "\">[" + n + "]</a>";
    }

    // A picture's frame is in points, as the page is: it prints at its size
    // in the document, and on screen keeps its size beside the text.
    std::string picture_size(const Picture &p) const {
        return page_said_ ? " style=\"width:" + std::to_string(p.width) + "pt\"" : "";
    }

    std::string picture_html(const Picture &p) const {
        const std::string name = picture_placeholder(p.number);
        const std::string label = name.substr(1, name.size() - 2);
        if (!p.drawable() || attributes_.collecting()) return name;
        if (!options_.media_dir.empty())
            return "<img src=\"" + escaped(options_.media_dir) + "/picture" + std::to_string(p.number) +
                   ".svg\" width=\"" + std::to_string(p.width) + "\" height=\"" + std::to_string(p.height) +
                   "\" alt=\"" + label + "\"" + picture_size(p) + ">";
        std::string svg = p.svg();
        svg.insert(4, " role=\"img\" aria-label=\"" + label + "\"" + picture_size(p));
        return svg;
    }

    void use(Feature f) {
        if (attributes_.collecting()) attributes_.sheet().use(f);
    }

    // The main text is one <main>, opened by its first paragraph.
    void open_main() {
        if (block_ || main_open_) return;
        page_.sink.put("<main>\n");
        main_open_ = true;
    }

    // A tab goes to the first stop past the end of the text before it.  The
    // text before it becomes a box at least as wide as the distance to that
    // stop, so what follows starts right at the stop.
    static double next_stop(Flow &f) {
        measure(f);
        const double end = f.segment_start + f.segment_width;
        double stop = (static_cast<int>(end / kDefaultTabPoints) + 1) * kDefaultTabPoints;
        for (const TabStop &t : f.tabs)
            if (t.column * kPointsPerColumn > end) {
                stop = t.column * kPointsPerColumn;
                break;
            }
        // The indent that a hanging first line starts left of is a stop of
        // its own, as in MacWrite and the word processors.
        return f.line_start < f.indent && end < f.indent ? std::min(stop, f.indent) : stop;
    }

    // Writes the paragraph's <p> if it waits, in the font of `first` (null:
    // of the text before it, as an empty line is as high as that).
    void write_p(const CharStyle *first) {
        Flow &f = *flow_;
        if (!f.in_paragraph || f.p_written) return;
        f.font = font_of(first != nullptr ? *first : last_style_);
        open_p(f);
        if (f.backlink != 0) {
            put_content(backlink(f.backlink) + " ", 3 * kDefaultSize);
            f.backlink = 0;
        }
    }

    void open_p(Flow &f) {
        if (attributes_.collecting()) attributes_.sheet().use(f.font.face);
        std::string css = f.paragraph_css + ";" + font_css(f.font);
        css.pop_back();
        f.sink.put("<p" + attributes_(css, "", true) + ">");
        f.p_written = true;
        f.paragraph_empty = true;
        f.segment_start = f.line_start;
        f.segment_width = 0;
        f.measured = true;
        forget_unmeasured(f);
    }

    void close_paragraph(Flow &f) {
        if (!f.in_paragraph) return;
        write_p(nullptr);
        close_run(f);
        flush_segment(f);
        // An empty paragraph keeps the height of a line.
        f.sink.put(f.paragraph_empty ? "<br></p>\n" : "</p>\n");
        f.in_paragraph = false;
    }

    static void measure(Flow &f) {
        size_t from = 0;
        for (const auto &[end, style] : f.unmeasured_runs) {
            f.segment_width += text_width(std::u16string_view(f.unmeasured).substr(from, end - from), style);
            from = end;
        }
        forget_unmeasured(f);
    }

    static void forget_unmeasured(Flow &f) {
        f.unmeasured.clear();
        f.unmeasured_runs.clear();
    }

    static void flush_segment(Flow &f) {
        f.sink.put(f.segment);
        f.segment.clear();
        f.segment_content = 0;
    }

    // Elements that the new style shares with the open ones, from the
    // outermost, stay open.
    void set_run(const CharStyle &style) {
        write_p(&style);
        last_style_ = style;
        Flow &f = *flow_;
        if (f.run && *f.run == style) return;
        const std::vector<Markup::Element> &wanted = markup_of(style, f.font).elements;
        size_t kept = 0;
        while (kept < f.open.size() && kept < wanted.size() && f.open[kept].open == wanted[kept].open) ++kept;
        close_to(f, kept);
        for (size_t i = kept; i < wanted.size(); ++i) {
            f.segment += wanted[i].open;
            f.open.push_back(wanted[i]);
        }
        f.run = style;
    }

    // Documents go back and forth between a few styles: their markup is
    // made once each.
    const Markup &markup_of(const CharStyle &style, const Font &base) {
        if (attributes_.collecting()) attributes_.sheet().use(style.face);
        for (const auto &[known, m] : markups_)
            if (known.first == style && known.second == base) return m;
        if (markups_.size() == kKnownStyles) markups_.erase(markups_.begin());
        markups_.emplace_back(std::pair(style, base), markup(style, base, attributes_));
        return markups_.back().second;
    }

    static void close_to(Flow &f, size_t depth) {
        for (; f.open.size() > depth; f.open.pop_back()) f.segment += f.open.back().close;
    }

    static void close_run(Flow &f) {
        close_to(f, 0);
        f.run.reset();
    }

    // `content`: what kSegmentLimit counts of it.
    void put_content(std::string_view html, double width, size_t content = std::string_view::npos) {
        Flow &f = *flow_;
        f.segment += html;
        f.segment_content += content != std::string_view::npos ? content : html.size();
        if (width != 0) measure(f);  // widths add up in the order of the text
        f.segment_width += width;
        f.paragraph_empty = false;
        f.has_text = true;
        if (f.segment_content < kSegmentLimit) return;
        flush_segment(f);
        f.measured = false;
        forget_unmeasured(f);
    }

    static constexpr size_t kKnownStyles = 8;
    std::vector<std::pair<std::pair<CharStyle, Font>, Markup>> markups_;
    Flow page_, footer_, notes_;
    bool page_said_ = false;  // the stream gave the page: lengths are the printed page's
    const Attributes &attributes_;
    std::optional<Flow> block_flow_;  // the header or footer being read
    Flow *flow_ = &page_;
    std::optional<Block> block_;
    CharStyle last_style_;            // of the last run, in any flow
    bool main_open_ = false;
    const RenderOptions &options_;
};

}  // namespace

// A standalone page reads the stream twice: first for the styles and rules
// that the head declares, then for the body.  A stream that cannot go back
// is read once, with every style inline and every rule in the head.
bool to_html(std::FILE *stream, std::FILE *out, const RenderOptions &options) {
    StyleSheet sheet;
    const long start = options.fragment ? -1 : std::ftell(stream);
    if (start >= 0) {
        const Attributes collect(sheet, true);
        HtmlRenderer first(nullptr, options, collect);
        read_styled(stream, first);
        if (std::fseek(stream, start, SEEK_SET) != 0) return false;
        sheet.name();
    }
    const Attributes write(sheet, false);
    HtmlRenderer html(out, options, write);
    read_styled(stream, html);
    return html.ok();
}

}  // namespace render
