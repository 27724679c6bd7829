#include <array>
#include <optional>
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
// than this is no column, and its tabs stay tab characters.
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

constexpr int kTwipsPerPoint = 20;

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

// Classes for the CSS of paragraph and character styles, so that a style
// is spelled once in the head and not on every run.  A first read of the
// stream names them in the order of first use; the head is written before
// the body, and the body is never held.  Past kMost distinct styles (only a
// crafted stream has so many) a style stays inline.
class StyleClasses {
public:
    void add(const std::string &css) {
        if (css.empty() || order_.size() == kMost || index_.count(css) != 0) return;
        index_.emplace(css, order_.size());
        order_.push_back(css);
    }
    // The class that carries `css`, or null.
    const std::string *find(const std::string &css) const {
        const auto it = index_.find(css);
        return it == index_.end() ? nullptr : &names_[it->second];
    }
    void name() {
        names_.clear();
        for (size_t i = 0; i < order_.size(); ++i) names_.push_back("mw-s" + std::to_string(i + 1));
    }
    std::string rules() const {
        std::string css;
        for (size_t i = 0; i < order_.size(); ++i) css += "." + names_[i] + "{" + order_[i] + "}\n";
        return css;
    }

private:
    static constexpr size_t kMost = 4096;
    std::unordered_map<std::string, size_t> index_;
    std::vector<std::string> order_, names_;
};

// `class` or `style` for the CSS of a style, with `classes` extra classes.
std::string css_attributes(const std::string &css, const StyleClasses *styles, const std::string &classes = "") {
    const std::string *name = styles != nullptr ? styles->find(css) : nullptr;
    if (name != nullptr) return " class=\"" + (classes.empty() ? *name : classes + " " + *name) + "\"";
    return (classes.empty() ? "" : " class=\"" + classes + "\"") + " style=\"" + css + "\"";
}

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

// What of a character style has no element of its own, as CSS; empty when
// nothing.
std::string span_css(const CharStyle &s) {
    std::string css;
    if (s.face != nullptr)
        css += "font-family:'" + std::string(s.face->family) + "'," + std::string(generic_name(s.face->generic)) + ";";
    if (s.size != 0) css += "font-size:" + std::to_string(s.size) + "pt;";
    if (s.has(kOutline)) css += "color:transparent;-webkit-text-stroke:0.04em #000;";
    if (s.has(kShadow)) css += "text-shadow:0.08em 0.08em 0.04em #999;";
    if (s.has(kSmallCaps)) css += "font-variant:small-caps;";
    if (s.has(kAllCaps)) css += "text-transform:uppercase;";
    if (!css.empty()) css.pop_back();
    return css;
}

// The elements that show a character style; the rest is one span.  Lines
// and raised or lowered text stay outside the span, as they take their
// colour, size and baseline from their parent; bold and italic, which the
// span does not touch, go inside it, so that a word that only turns bold
// leaves the span open.
Markup markup(const CharStyle &s, const StyleClasses *styles) {
    Markup m;
    if (s.has(kDoubleUnderline)) m.element("u", " style=\"text-decoration-style:double\"");
    else if (s.has(kUnderline)) m.element("u");
    if (s.has(kStrikeout)) m.element("s");
    if (s.has(kSuperscript)) m.element("sup");
    if (s.has(kSubscript)) m.element("sub");
    const std::string css = span_css(s);
    if (!css.empty()) m.element("span", css_attributes(css, styles, s.has(kSmallCaps) ? "smallcaps" : ""));
    if (s.has(kBold)) m.element("b");
    if (s.has(kItalic)) m.element("i");
    return m;
}

// The first read: every paragraph and character style's CSS, in order.
class StyleCollector final : public StyledListener {
public:
    explicit StyleCollector(StyleClasses &styles) : styles_(styles) {}
    void begin_block(Block, int) override {}
    void end_block() override {}
    void begin_paragraph(const ParagraphStyle &style) override { styles_.add(paragraph_css(style)); }
    void end_paragraph() override {}
    void text(std::u16string_view, const CharStyle &style) override { note(style); }
    void tab(const CharStyle &style) override { note(style); }
    void line_end(const CharStyle &style) override { note(style); }
    void page_break() override {}
    void note_call(int, const CharStyle &style) override { note(style); }
    void field(Field, const CharStyle &style) override { note(style); }
    void picture(const Picture &) override {}
    void end_document() override {}

private:
    void note(const CharStyle &style) {
        if (last_ == style) return;
        last_ = style;
        styles_.add(span_css(style));
    }
    StyleClasses &styles_;
    CharStyle last_;
};

const char *field_class(Field kind) {
    switch (kind) {
    case Field::Date: return "mw-field mw-date";
    case Field::Time: return "mw-field mw-time";
    default: return "mw-field mw-page-number";
    }
}

const char *const kStyleSheet =
    "body{max-width:6.5in;margin:1em auto;padding:0 1em}\n"
    "header.mw-header{border-bottom:1px solid #ccc;margin-bottom:1em}\n"
    "footer.mw-footer{border-top:1px solid #ccc;margin-top:1em}\n"
    "section.mw-notes{border-top:1px solid #ccc;margin-top:1em;font-size:90%}\n"
    ".mw-field{background:#e8e8e8;border-radius:2px}\n"
    "@media screen{.mw-page-break{border-top:1px dashed #bbb;margin:0.5em 0}}\n"
    ".mw-picture svg,.mw-picture img{vertical-align:top;max-width:100%;height:auto}\n"
    ".mw-tab{display:inline-block;tab-size:0;text-indent:0}\n";

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

std::string font_substitutes() {
    std::string css;
    for (const FontFace &face : font_table())
        if (first_of_family(face))
            css += "@font-face{font-family:'" + std::string(face.family) + "';src:local('" +
                   std::string(substitute(face.generic)) + "')}\n";
    return css;
}

// The page of the document: its paper and margins when printed, and on
// screen a body as wide as its text block.
std::string page_css(const PageSetup &page) {
    if (!page.said) return {};
    const auto in = [](int twips) { return length(twips, kTwipsPerInch, "in"); };
    return "@page{size:" + in(page.width) + " " + in(page.height) + ";margin:" + in(page.top) + " " + in(page.right) +
           " " + in(page.bottom) + " " + in(page.left) + "}\nbody{max-width:none;width:" + in(page.text_width()) +
           ";padding:0}\n@media print{body{margin:0}}\n" + font_substitutes();
}

// One place the HTML goes (the page, the held footer, the held notes) and
// the state of what is open there.
struct Flow {
    explicit Flow(std::FILE *file = nullptr) : sink(file) {}
    Sink sink;
    std::optional<CharStyle> run;  // the style whose elements are open
    std::vector<Markup::Element> open;
    bool in_paragraph = false, paragraph_empty = true;
    bool has_text = false;
    std::string paragraph_attributes;  // of its <p>
    std::vector<TabStop> tabs;
    std::string segment;           // the paragraph's text since its last tab
    double segment_start = 0;      // where it starts, in points from the margin
    double line_start = 0;         // where the paragraph's first line starts, likewise
    double segment_width = 0;      // how wide it is, estimated
    bool measured = true;          // false once the position is lost
    int backlink = 0;              // a note whose first paragraph is yet to come
};

class HtmlRenderer final : public StyledListener {
public:
    // Styles that `styles` names are classes; without it (a fragment has
    // no head) every style is inline.
    HtmlRenderer(std::FILE *out, const RenderOptions &options, const StyleClasses *styles)
        : page_(out), styles_(styles), options_(options) {}

    // The head, once the page is known.
    void page_setup(const PageSetup &page) override {
        if (options_.fragment) return;
        page_.sink.put("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + escaped(options_.title) +
                       "</title>\n<style>\n" + kStyleSheet + page_css(page) +
                       (styles_ != nullptr ? styles_->rules() : "") + "</style>\n</head>\n<body>\n");
    }

    bool ok() { return page_.sink.flush(); }

    // A header or footer is held until its end and shown only when it has
    // text; the footer waits for the end of the document.
    void begin_block(Block kind, int note_number) override {
        block_ = kind;
        if (kind != Block::Note) {
            flow_ = &block_flow_.emplace();
            return;
        }
        flow_ = &notes_;
        flow_->sink.put("<div class=\"mw-note\" id=\"mw-note-" + std::to_string(note_number) + "\">\n");
        flow_->backlink = note_number;
    }

    void end_block() override {
        if (block_ == Block::Note) {
            if (flow_->backlink != 0) flow_->sink.put("<p style=\"margin:0\">" + backlink(flow_->backlink) + "</p>\n");
            flow_->backlink = 0;
            flow_->sink.put("</div>\n");
        } else if (flow_->has_text) {
            const bool header = block_ == Block::Header;
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
        f.paragraph_attributes = css_attributes(paragraph_css(style), styles_);
        f.tabs = style.tabs;
        f.line_start = static_cast<double>(style.left_indent + style.first_indent) / kTwipsPerPoint;
        open_paragraph(f);
        if (f.backlink != 0) {
            put_content(backlink(f.backlink) + " ", 3 * kDefaultSize);
            f.backlink = 0;
        }
    }

    void end_paragraph() override { close_paragraph(*flow_); }

    void text(std::u16string_view run, const CharStyle &style) override {
        set_run(style);
        append_escaped(flow_->segment, run);
        put_content({}, text_width(run, style));
    }

    void tab(const CharStyle &style) override {
        Flow &f = *flow_;
        if (!f.measured) {
            set_run(style);
            put_content("\t", 0);
            return;
        }
        close_run(f);
        const double stop = next_stop(f);
        // The tab character stays for readers that copy or convert the text;
        // the box's tab-size makes it take no room.  A fragment has no head
        // to say so once.
        f.sink.put(std::string("<span class=\"mw-tab\" style=\"") +
                   (options_.fragment ? "display:inline-block;tab-size:0;text-indent:0;" : "") + "min-width:" +
                   points(stop - f.segment_start) + "\">" + f.segment + "\t</span>");
        f.segment.clear();
        f.segment_start = stop;
        f.segment_width = 0;
        f.paragraph_empty = false;
    }

    void line_end(const CharStyle &style) override {
        set_run(style);
        put_content(" ", text_width(u" ", style));
    }

    void page_break() override {
        open_main();
        Flow &f = *flow_;
        const bool inside = f.in_paragraph;
        if (inside) close_paragraph(f);
        f.sink.put("<div class=\"mw-page-break\" style=\"break-after:page\"></div>\n");
        if (inside) open_paragraph(f);  // the paragraph goes on after the break
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
        std::string html = std::string("<span class=\"") + field_class(kind) + "\">";
        append_escaped(html, field_placeholder(kind));
        put_content(html + "</span>", text_width(field_placeholder(kind), style));
    }

    // Inline SVG at the frame's size, or the extracted file; a picture that
    // cannot be drawn shows its marker.  A picture between paragraphs is a
    // block of its own.
    void picture(const Picture &p) override {
        open_main();
        Flow &f = *flow_;
        const std::string name = picture_placeholder(p.number);
        std::string html = name;
        if (p.drawable() && !options_.media_dir.empty()) {
            html = "<img src=\"" + escaped(options_.media_dir) + "/picture" + std::to_string(p.number) + ".svg\" width=\"" +
                   std::to_string(p.width) + "\" height=\"" + std::to_string(p.height) + "\" alt=\"" + name.substr(1, name.size() - 2) + "\">";
        } else if (p.drawable()) {
            html = p.svg();
            html.insert(4, " role=\"img\" aria-label=\"" + name.substr(1, name.size() - 2) + "\"");
        }
        if (f.in_paragraph) {
            close_run(f);
            put_content("<span class=\"mw-picture\">" + html + "</span>", p.width);
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

    // The main text is one <main>, opened by its first paragraph.
    void open_main() {
        if (block_ || main_open_) return;
        page_.sink.put("<main>\n");
        main_open_ = true;
    }

    // A tab goes to the first stop past the end of the text before it.  The
    // text before it becomes a box at least as wide as the distance to that
    // stop, so what follows starts right at the stop.
    static double next_stop(const Flow &f) {
        const double end = f.segment_start + f.segment_width;
        for (const TabStop &t : f.tabs)
            if (t.column * kPointsPerColumn > end) return t.column * kPointsPerColumn;
        return (static_cast<int>(end / kDefaultTabPoints) + 1) * kDefaultTabPoints;
    }

    static void open_paragraph(Flow &f) {
        f.sink.put("<p" + f.paragraph_attributes + ">");
        f.in_paragraph = true;
        f.paragraph_empty = true;
        f.segment_start = f.line_start;
        f.segment_width = 0;
        f.measured = true;
    }

    static void close_paragraph(Flow &f) {
        if (!f.in_paragraph) return;
        close_run(f);
        flush_segment(f);
        // An empty paragraph keeps the height of a line.
        f.sink.put(f.paragraph_empty ? "<br></p>\n" : "</p>\n");
        f.in_paragraph = false;
    }

    static void flush_segment(Flow &f) {
        f.sink.put(f.segment);
        f.segment.clear();
    }

    // Elements that the new style shares with the open ones, from the
    // outermost, stay open.
    void set_run(const CharStyle &style) {
        Flow &f = *flow_;
        if (f.run && *f.run == style) return;
        const std::vector<Markup::Element> &wanted = markup_of(style).elements;
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
    const Markup &markup_of(const CharStyle &style) {
        for (const auto &[known, m] : markups_)
            if (known == style) return m;
        if (markups_.size() == kKnownStyles) markups_.erase(markups_.begin());
        markups_.emplace_back(style, markup(style, styles_));
        return markups_.back().second;
    }

    static void close_to(Flow &f, size_t depth) {
        for (; f.open.size() > depth; f.open.pop_back()) f.segment += f.open.back().close;
    }

    static void close_run(Flow &f) {
        close_to(f, 0);
        f.run.reset();
    }

    void put_content(std::string_view html, double width) {
        Flow &f = *flow_;
        f.segment += html;
        f.segment_width += width;
        f.paragraph_empty = false;
        f.has_text = true;
        if (f.segment.size() < kSegmentLimit) return;
        flush_segment(f);
        f.measured = false;
    }

    static constexpr size_t kKnownStyles = 8;
    std::vector<std::pair<CharStyle, Markup>> markups_;
    Flow page_, footer_, notes_;
    const StyleClasses *styles_;
    std::optional<Flow> block_flow_;  // the header or footer being read
    Flow *flow_ = &page_;
    std::optional<Block> block_;
    bool main_open_ = false;
    const RenderOptions &options_;
};

}  // namespace

// A standalone page reads the stream twice: first for the styles that the
// head names, then for the body.  A stream that cannot go back is read once,
// with every style inline.
bool to_html(std::FILE *stream, std::FILE *out, const RenderOptions &options) {
    StyleClasses styles;
    const long start = options.fragment ? -1 : std::ftell(stream);
    if (start >= 0) {
        StyleCollector collector(styles);
        read_styled(stream, collector);
        if (std::fseek(stream, start, SEEK_SET) != 0) return false;
        styles.name();
    }
    HtmlRenderer html(out, options, start >= 0 ? &styles : nullptr);
    read_styled(stream, html);
    return html.ok();
}

}  // namespace render
