// ODT: an OpenDocument Text package.  The body streams into a scratch file;
// content.xml is the declarations and automatic styles, known only at the
// end, followed by that file.  The page header and footer are held for the
// master page in styles.xml; notes stay in place as text:note.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "render/package.h"
#include "render/render.h"
#include "render/sink.h"
#include "render/styled.h"
#include "render/xml.h"

namespace render {

namespace {

constexpr const char *kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr const char *kNamespaces =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
    " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\""
    " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
    " xmlns:xlink=\"http://www.w3.org/1999/xlink\""
    " office:version=\"1.3\"";
constexpr const char *kMediaType = "application/vnd.oasis.opendocument.text";

std::string attribute(const char *name, const std::string &value) {
    return std::string(" ") + name + "=\"" + value + "\"";
}

// A column is 1/10 inch.
std::string inches(int tenths) { return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "in"; }

std::string tab_type(TabAlign a) {
    switch (a) {
    case TabAlign::Centre: return " style:type=\"center\"";
    case TabAlign::Right: return " style:type=\"right\"";
    case TabAlign::Decimal: return " style:type=\"char\" style:char=\".\"";
    default: return "";
    }
}

std::string text_properties(const CharStyle &s) {
    std::string a;
    // A family the document names itself has no declaration: it is given by
    // its name.
    if (s.face != nullptr)
        a += s.face == font_face(s.face->number) ? attribute("style:font-name", xml::escaped(s.face->family))
                                                  : attribute("fo:font-family", xml::escaped(s.face->family));
    if (s.colour != Colour::Black) a += attribute("fo:color", "#" + std::string(colour_hex(s.colour)));
    if (s.size != 0) a += attribute("fo:font-size", std::to_string(s.size) + "pt");
    if (s.has(kBold)) a += " fo:font-weight=\"bold\"";
    if (s.has(kItalic)) a += " fo:font-style=\"italic\"";
    if (s.has(kUnderline) || s.has(kDoubleUnderline))
        a += std::string(s.has(kDoubleUnderline) ? " style:text-underline-type=\"double\"" : "") +
             " style:text-underline-style=\"solid\" style:text-underline-width=\"auto\""
             " style:text-underline-color=\"font-color\"";
    if (s.has(kStrikeout)) a += " style:text-line-through-style=\"solid\"";
    if (s.has(kOutline)) a += " style:text-outline=\"true\"";
    if (s.has(kShadow)) a += " fo:text-shadow=\"1pt 1pt\"";
    if (s.has(kSuperscript)) a += " style:text-position=\"super 58%\"";
    else if (s.has(kSubscript)) a += " style:text-position=\"sub 58%\"";
    // Small capitals of capital letters are capital letters: all capitals
    // win when a run has both.
    if (s.has(kAllCaps)) a += " fo:text-transform=\"uppercase\"";
    else if (s.has(kSmallCaps)) a += " fo:font-variant=\"small-caps\"";
    return a.empty() ? a : "<style:text-properties" + a + "/>";
}

std::string line_height(uint8_t interline) {
    // 8 is single spacing: 100%.
    const int halves = interline * 25;
    return std::to_string(halves / 2) + (halves % 2 != 0 ? ".5%" : "%");
}

// A length in twips as points.
std::string points(int twips) {
    const int magnitude = twips < 0 ? -twips : twips, hundredths = magnitude % 20 * 5;
    std::string s = (twips < 0 ? "-" : "") + std::to_string(magnitude / 20);
    if (hundredths != 0) s += (hundredths < 10 ? ".0" : ".") + std::to_string(hundredths);
    return s + "pt";
}

std::string geometry(const ParagraphStyle &p) {
    std::string a;
    if (p.left_indent != 0) a += attribute("fo:margin-left", points(p.left_indent));
    if (p.right_indent != 0) a += attribute("fo:margin-right", points(p.right_indent));
    if (p.first_indent != 0) a += attribute("fo:text-indent", points(p.first_indent));
    if (p.space_before > 0) a += attribute("fo:margin-top", points(p.space_before));
    if (p.space_after > 0) a += attribute("fo:margin-bottom", points(p.space_after));
    return a;
}

// `extra`: further attributes of the properties (the first page's number).
std::string paragraph_properties(const ParagraphStyle &p, bool break_before, const std::string &extra = "") {
    std::string a = geometry(p) + extra;
    switch (p.align) {
    case Align::Centre: a += " fo:text-align=\"center\""; break;
    case Align::Right: a += " fo:text-align=\"end\""; break;
    case Align::Justified: a += " fo:text-align=\"justify\""; break;
    default: break;
    }
    if (p.line_height > 0) a += attribute("fo:line-height", points(p.line_height));
    else if (p.interline != 8 && p.interline != 0) a += attribute("fo:line-height", line_height(p.interline));
    if (break_before) a += " fo:break-before=\"page\"";
    std::string tabs;
    for (const TabStop &t : p.tabs)
        tabs += "<style:tab-stop" + attribute("style:position", inches(t.column)) +
                tab_type(t.align) + "/>";
    if (!tabs.empty()) tabs = "<style:tab-stops>" + tabs + "</style:tab-stops>";
    if (a.empty() && tabs.empty()) return "";
    return "<style:paragraph-properties" + a + (tabs.empty() ? "/>" : ">" + tabs + "</style:paragraph-properties>");
}

std::string field_element(Field kind) {
    const std::string shown = xml::escaped(field_placeholder(kind));
    switch (kind) {
    case Field::Date: return "<text:date>" + shown + "</text:date>";
    case Field::Time: return "<text:time>" + shown + "</text:time>";
    default: return "<text:page-number text:select-page=\"current\">" + shown + "</text:page-number>";
    }
}

// A picture as a character in its line, at its frame's size.
std::string frame(const Media::File &f, int width, int height) {
    const std::string n = std::to_string(f.number);
    return "<draw:frame" + attribute("draw:name", "Picture " + n) + " text:anchor-type=\"as-char\"" +
           attribute("svg:width", std::to_string(width) + "pt") + attribute("svg:height", std::to_string(height) + "pt") +
           " draw:z-index=\"0\"><draw:image" + attribute("xlink:href", "Pictures/" + f.name()) +
           " xlink:type=\"simple\" xlink:show=\"embed\" xlink:actuate=\"onLoad\"/></draw:frame>";
}

std::string font_face_declarations() {
    std::string d = "<office:font-face-decls><style:font-face style:name=\"Times\" svg:font-family=\"Times\" "
                    "style:font-family-generic=\"roman\" style:font-pitch=\"variable\"/>";
    for (const FontFace &face : font_table()) {
        if (!first_of_family(face) || face.family == "Times") continue;
        const std::string name = xml::escaped(face.family);
        const bool spaced = face.family.find(' ') != std::string_view::npos;
        d += "<style:font-face" + attribute("style:name", name) +
             attribute("svg:font-family", spaced ? "&apos;" + name + "&apos;" : name) +
             attribute("style:font-family-generic", face.generic == Generic::SansSerif   ? "swiss"
                                                    : face.generic == Generic::Monospace ? "modern"
                                                                                         : "roman") +
             attribute("style:font-pitch", face.generic == Generic::Monospace ? "fixed" : "variable") + "/>";
    }
    return d + "</office:font-face-decls>";
}

// Automatic styles of one family, one for each distinct set of properties,
// named in the order they are first used.
class AutoStyles {
public:
    AutoStyles(std::string prefix, const char *family) : prefix_(std::move(prefix)), family_(family) {}

    // `master`: the master page that the paragraph starts, if any.
    const std::string &name(const std::string &parent, const std::string &properties, const std::string &master = "") {
        auto [it, added] = names_.try_emplace(parent + '\n' + master + '\n' + properties);
        if (added) {
            it->second = prefix_ + std::to_string(names_.size());
            definitions_ += "<style:style" + attribute("style:name", it->second) + attribute("style:family", family_) +
                            (parent.empty() ? "" : attribute("style:parent-style-name", parent)) +
                            (master.empty() ? "" : attribute("style:master-page-name", master)) + ">" + properties +
                            "</style:style>\n";
        }
        return it->second;
    }

    const std::string &definitions() const { return definitions_; }

private:
    std::string prefix_;
    const char *family_;
    std::map<std::string, std::string> names_;
    std::string definitions_;
};

// Where paragraphs go (the body, a note in it, the header, the footer), the
// styles they draw on and what is open there.
struct Flow {
    Flow(Sink &s, AutoStyles &p, AutoStyles &t, const char *parent)
        : sink(s), paragraphs(p), texts(t), parent(parent) {}
    Sink &sink;
    AutoStyles &paragraphs, &texts;
    const char *parent;
    bool paragraph = false;
    bool span = false;
    std::optional<CharStyle> style;  // the style of the text since the span (or its absence) began
    bool after_space = true;         // a space here must be written as text:s
    bool has_text = false;
    ParagraphStyle paragraph_style;
};

class OdtRenderer final : public StyledListener {
public:
    OdtRenderer(std::FILE *body_file, const RenderOptions &options) : body_(body_file), options_(options) {
        body_.put("<office:body><office:text>\n");
    }

    bool finish(const std::shared_ptr<std::FILE> &body_file, std::FILE *out) {
        const bool body_written = body_.flush();
        Package package(out);
        package.add("mimetype", kMediaType, true);
        package.add("META-INF/manifest.xml", manifest());
        package.add("content.xml",
                    std::vector<Package::Piece>{{std::string(kDeclaration) + "<office:document-content" + kNamespaces +
                                                     ">" + font_face_declarations() + "<office:automatic-styles>\n" +
                                                     paragraph_styles_.definitions() + text_styles_.definitions() +
                                                     "</office:automatic-styles>",
                                                 nullptr},
                                                {"", body_file}});
        package.add("styles.xml", styles());
        package.add("meta.xml", meta());
        for (const Media::File &f : media_.files())
            package.add("Pictures/" + f.name(), std::vector<Package::Piece>{media_.piece(f)}, f.png);
        return package.close() && body_written && media_.ok();
    }

    void begin_block(Block kind, int note_number) override {
        close_span(*flow_);
        flow_ = kind == Block::Header ? &header_ : kind == Block::Footer ? &footer_ : &note_;
        if (kind != Block::Note) return;
        const std::string n = std::to_string(note_number);
        body_.put("<text:note" + attribute("text:id", "ftn" + n) +
                  " text:note-class=\"footnote\"><text:note-citation>" + n + "</text:note-citation><text:note-body>");
        note_paragraphs_ = 0;
        in_note_ = true;
    }

    void end_block() override {
        close_paragraph(*flow_);
        if (in_note_) {
            if (note_paragraphs_ == 0) body_.put("<text:p text:style-name=\"Footnote\"/>");
            body_.put("</text:note-body></text:note>");
        }
        in_note_ = false;
        flow_ = &main_;
    }

    bool follows_stored_pages() const override { return true; }

    void page_setup(const PageSetup &page) override { page_ = page; }

    void begin_paragraph(const ParagraphStyle &style) override {
        Flow &f = *flow_;
        const bool main = flow_ == &main_;
        const bool break_before = main && page_break_pending_;
        if (main) page_break_pending_ = false;
        if (in_note_) ++note_paragraphs_;
        f.paragraph_style = style;
        if (main && !main_started_) {
            main_started_ = true;
            return open_first_paragraph(f, break_before);
        }
        open_paragraph(f, break_before);
    }

    void end_paragraph() override { close_paragraph(*flow_); }

    void text(std::u16string_view run, const CharStyle &style) override {
        Flow &f = *flow_;
        set_span(f, style);
        std::string x;
        size_t start = 0;
        for (size_t i = 0; i < run.size(); ++i) {
            if (run[i] != ' ') {
                f.after_space = false;
                continue;
            }
            xml::append_escaped(x, run.substr(start, i - start));
            // Spaces that follow a space, or start a paragraph, would be
            // collapsed: each is written as a space element.
            x += f.after_space ? "<text:s/>" : " ";
            f.after_space = true;
            start = i + 1;
        }
        xml::append_escaped(x, run.substr(start));
        f.sink.put(x);
        f.has_text = true;
    }

    void tab(const CharStyle &style) override {
        Flow &f = *flow_;
        set_span(f, style);
        f.sink.put("<text:tab/>");
        f.after_space = true;
    }

    void line_end(const CharStyle &style) override { text(u" ", style); }

    void line_break(const CharStyle &style) override {
        Flow &f = *flow_;
        set_span(f, style);
        f.sink.put("<text:line-break/>");
        f.after_space = true;
    }

    // Headers and notes have no pages to break.  A page break is a property
    // of the paragraph it comes before: one inside a paragraph splits it.
    void page_break() override {
        if (flow_ != &main_) return;
        if (!main_.paragraph) {
            page_break_pending_ = true;
            return;
        }
        close_paragraph(main_);
        open_paragraph(main_, true);
    }

    void note_call(int, const CharStyle &) override { close_span(*flow_); }

    void field(Field kind, const CharStyle &style) override {
        Flow &f = *flow_;
        set_span(f, style);
        f.sink.put(field_element(kind));
        f.after_space = false;
        f.has_text = true;
    }

    // A picture between paragraphs gets a paragraph of its own.
    void picture(const Picture &p) override {
        const bool alone = !flow_->paragraph;
        if (alone) begin_paragraph(ParagraphStyle{});
        Flow &f = *flow_;
        std::string data = p.png();
        const bool png = !data.empty();
        if (!png) data = p.svg();
        if (data.empty()) {
            const std::string mark = picture_placeholder(p.number);
            text(std::u16string(mark.begin(), mark.end()), CharStyle{});
        } else {
            close_span(f);
            media_.add(p.number, data, png);
            f.sink.put(frame(media_.files().back(), p.width, p.height));
            f.after_space = false;
            f.has_text = true;
        }
        if (alone) end_paragraph();
    }

    void end_document() override {
        if (page_break_pending_) {
            const std::string &name = paragraph_styles_.name("Standard", paragraph_properties({}, true));
            main_.sink.put("<text:p" + attribute("text:style-name", name) + "/>\n");
        }
        body_.put("</office:text></office:body></office:document-content>\n");
    }

private:
    // The first paragraph of the main text starts the first page: a title
    // page has a master page of its own, and the number it is printed with
    // goes here.
    void open_first_paragraph(Flow &f, bool break_before) {
        const std::string master = page_.title_page ? "First" : page_.first_page != 1 ? "Standard" : "";
        const std::string number =
            page_.first_page != 1 ? attribute("style:page-number", std::to_string(page_.first_page)) : "";
        const std::string &name =
            f.paragraphs.name(f.parent, paragraph_properties(f.paragraph_style, break_before, number), master);
        f.sink.put("<text:p" + attribute("text:style-name", name) + ">");
        f.paragraph = true;
        f.after_space = true;
    }

    static void open_paragraph(Flow &f, bool break_before) {
        const std::string &name = f.paragraphs.name(f.parent, paragraph_properties(f.paragraph_style, break_before));
        f.sink.put("<text:p" + attribute("text:style-name", name) + ">");
        f.paragraph = true;
        f.after_space = true;
    }

    static void close_paragraph(Flow &f) {
        close_span(f);
        if (!f.paragraph) return;
        f.sink.put("</text:p>\n");
        f.paragraph = false;
    }

    static void set_span(Flow &f, const CharStyle &style) {
        if (f.style && *f.style == style) return;
        close_span(f);
        f.style = style;
        const std::string properties = text_properties(style);
        if (properties.empty()) return;
        f.sink.put("<text:span" + attribute("text:style-name", f.texts.name("", properties)) + ">");
        f.span = true;
    }

    static void close_span(Flow &f) {
        if (f.span) f.sink.put("</text:span>");
        f.span = false;
        f.style.reset();
    }

    std::string manifest() const {
        const auto entry = [](const std::string &path, const std::string &type) {
            return "<manifest:file-entry" + attribute("manifest:full-path", path) +
                   attribute("manifest:media-type", type) + "/>";
        };
        std::string pictures;
        for (const Media::File &f : media_.files()) pictures += entry("Pictures/" + f.name(), f.media_type());
        return std::string(kDeclaration) +
               "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
               "manifest:version=\"1.3\"><manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.3\"" +
               attribute("manifest:media-type", kMediaType) + "/>" + entry("content.xml", "text/xml") +
               entry("styles.xml", "text/xml") + entry("meta.xml", "text/xml") + pictures + "</manifest:manifest>\n";
    }

    // The title and the program, and the dates only when the input gave
    // them, so the same input gives the same package.
    std::string meta() const {
        std::string generator = options_.generator;
        if (!options_.version.empty()) generator += "/" + options_.version;
        std::string dates;
        if (options_.created) dates += "<meta:creation-date>" + w3c_date(*options_.created) + "</meta:creation-date>";
        if (options_.modified) dates += "<dc:date>" + w3c_date(*options_.modified) + "</dc:date>";
        return std::string(kDeclaration) +
               "<office:document-meta xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
               "xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\" "
               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" office:version=\"1.3\"><office:meta><meta:generator>" +
               xml::escaped(generator) + "</meta:generator><dc:title>" + xml::escaped(options_.title) + "</dc:title>" +
               dates + "</office:meta></office:document-meta>\n";
    }

    // Without a page from the stream, US Letter with one-inch margins; a
    // header or footer takes the outer half inch of its margin and keeps a
    // quarter inch from the text.  With one, its margins, and the header and
    // footer inside them against the text, as MacWrite prints them.
    std::string page_layout() const {
        const bool header = header_.has_text, footer = footer_.has_text;
        const PageSetup &p = page_;
        const auto twips = [](int v) { return points(v); };
        std::string l = "<style:page-layout style:name=\"Page\"><style:page-layout-properties" +
                        attribute("fo:page-width", twips(p.width)) + attribute("fo:page-height", twips(p.height)) +
                        attribute("fo:margin-left", twips(p.left)) + attribute("fo:margin-right", twips(p.right));
        // A header or footer without text keeps its height as margin.
        if (p.said)
            l += attribute("fo:margin-top", twips(p.top + (header ? 0 : p.header_height))) +
                 attribute("fo:margin-bottom", twips(p.bottom + (footer ? 0 : p.footer_height)));
        else
            l += attribute("fo:margin-top", header ? "0.5in" : "1in") + attribute("fo:margin-bottom", footer ? "0.5in" : "1in");
        if (p.columns > 1)
            l += "><style:columns" + attribute("fo:column-count", std::to_string(p.columns)) +
                 attribute("fo:column-gap", twips(p.column_gap)) + "/></style:page-layout-properties>";
        else
            l += "/>";
        const std::string gap = p.said ? "0in" : "0.25in";
        if (header)
            l += "<style:header-style><style:header-footer-properties" +
                 attribute("fo:min-height", p.said ? twips(p.header_height) : "0in") + attribute("fo:margin-bottom", gap) +
                 "/></style:header-style>";
        if (footer)
            l += "<style:footer-style><style:header-footer-properties" +
                 attribute("fo:min-height", p.said ? twips(p.footer_height) : "0in") + attribute("fo:margin-top", gap) +
                 "/></style:footer-style>";
        return l + "</style:page-layout>\n";
    }

    std::string styles() const {
        std::string s = std::string(kDeclaration) + "<office:document-styles" + kNamespaces + ">" +
                        font_face_declarations() +
                        "<office:styles><style:default-style style:family=\"paragraph\">"
                        // MacWrite spaces paragraphs by their lines alone;
                        // tabs past the last stop go to the next half inch.
                        "<style:paragraph-properties fo:margin-top=\"0in\" fo:margin-bottom=\"0in\" "
                        "style:tab-stop-distance=\"0.5in\"/>"
                        "<style:text-properties style:font-name=\"Times\" fo:font-size=\"12pt\"/></style:default-style>"
                        "<style:style style:name=\"Standard\" style:family=\"paragraph\" style:class=\"text\"/>"
                        "<style:style style:name=\"Header\" style:family=\"paragraph\" "
                        "style:parent-style-name=\"Standard\" style:class=\"extra\"/>"
                        "<style:style style:name=\"Footer\" style:family=\"paragraph\" "
                        "style:parent-style-name=\"Standard\" style:class=\"extra\"/>"
                        "<style:style style:name=\"Footnote\" style:family=\"paragraph\" "
                        "style:parent-style-name=\"Standard\" style:class=\"extra\">"
                        "<style:text-properties fo:font-size=\"10pt\"/></style:style></office:styles>"
                        "<office:automatic-styles>\n" +
                        page_layout() + block_paragraph_styles_.definitions() + block_text_styles_.definitions() +
                        "</office:automatic-styles><office:master-styles>"
                        "<style:master-page style:name=\"Standard\" style:page-layout-name=\"Page\">";
        if (header_.has_text) s += "<style:header>" + header_held_.held() + "</style:header>";
        if (footer_.has_text) s += "<style:footer>" + footer_held_.held() + "</style:footer>";
        s += "</style:master-page>";
        if (page_.title_page)
            s += "<style:master-page style:name=\"First\" style:page-layout-name=\"Page\" "
                 "style:next-style-name=\"Standard\"/>";
        return s + "</office:master-styles></office:document-styles>\n";
    }

    PageSetup page_;
    bool main_started_ = false;
    Sink body_;
    Sink header_held_, footer_held_;
    AutoStyles paragraph_styles_{"P", "paragraph"}, text_styles_{"T", "text"};
    AutoStyles block_paragraph_styles_{"MP", "paragraph"}, block_text_styles_{"MT", "text"};
    Flow main_{body_, paragraph_styles_, text_styles_, "Standard"};
    Flow note_{body_, paragraph_styles_, text_styles_, "Footnote"};
    Flow header_{header_held_, block_paragraph_styles_, block_text_styles_, "Header"};
    Flow footer_{footer_held_, block_paragraph_styles_, block_text_styles_, "Footer"};
    Flow *flow_ = &main_;
    bool in_note_ = false;
    int note_paragraphs_ = 0;
    bool page_break_pending_ = false;
    Media media_;
    const RenderOptions &options_;
};

}  // namespace

bool to_odt(std::FILE *stream, std::FILE *out, const RenderOptions &options) {
    const std::shared_ptr<std::FILE> body = Package::scratch();
    OdtRenderer odt(body.get(), options);
    read_styled(stream, odt);
    return odt.finish(body, out);
}

}  // namespace render
