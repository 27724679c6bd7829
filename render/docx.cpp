// DOCX: a WordprocessingML package.  The main text streams into a scratch
// file that becomes word/document.xml; the page header, the page footer and
// the notes are held and become their own parts at the end.
#include <cstdint>
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

// Twips (1/20 point) in a column of 1/10 inch.
constexpr int kTwipsPerColumn = 144;
// A line spacing of 240 is single; the stream's 8 is single.
constexpr int kLineUnitsPerInterline = 30;

constexpr const char *kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr const char *kNamespaces =
    " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
    " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
    " xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\"";
constexpr const char *kRelationships = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string attribute(const char *name, const std::string &value) {
    return std::string(" ") + name + "=\"" + value + "\"";
}

// The elements of a <w:rPr>, in the order the schema gives them.
std::string run_property_elements(const CharStyle &s) {
    std::string p;
    if (s.face != nullptr) {
        const std::string family = xml::escaped(s.face->family);
        p += "<w:rFonts" + attribute("w:ascii", family) + attribute("w:hAnsi", family) +
             attribute("w:eastAsia", family) + attribute("w:cs", family) + "/>";
    }
    if (s.has(kBold)) p += "<w:b/>";
    if (s.has(kItalic)) p += "<w:i/>";
    if (s.has(kAllCaps)) p += "<w:caps/>";
    if (s.has(kSmallCaps)) p += "<w:smallCaps/>";
    if (s.has(kStrikeout)) p += "<w:strike/>";
    if (s.has(kOutline)) p += "<w:outline/>";
    if (s.has(kShadow)) p += "<w:shadow/>";
    if (s.colour != Colour::Black) p += "<w:color" + attribute("w:val", std::string(colour_hex(s.colour))) + "/>";
    if (s.size != 0) p += "<w:sz" + attribute("w:val", std::to_string(s.size * 2)) + "/>";
    if (s.has(kDoubleUnderline)) p += "<w:u w:val=\"double\"/>";
    else if (s.has(kUnderline)) p += "<w:u w:val=\"single\"/>";
    if (s.has(kSuperscript)) p += "<w:vertAlign w:val=\"superscript\"/>";
    else if (s.has(kSubscript)) p += "<w:vertAlign w:val=\"subscript\"/>";
    return p;
}

const char *tab_kind(TabAlign a) {
    switch (a) {
    case TabAlign::Centre: return "center";
    case TabAlign::Right: return "right";
    case TabAlign::Decimal: return "decimal";
    default: return "left";
    }
}

std::string run_properties(const CharStyle &s) {
    const std::string p = run_property_elements(s);
    return p.empty() ? p : "<w:rPr>" + p + "</w:rPr>";
}

const char *alignment(Align a) {
    switch (a) {
    case Align::Centre: return "center";
    case Align::Right: return "right";
    case Align::Justified: return "both";
    default: return nullptr;
    }
}

// Line spacing, exact when the document fixed its lines' height.
std::string spacing(const ParagraphStyle &p) {
    std::string a;
    if (p.space_before > 0) a += attribute("w:before", std::to_string(p.space_before));
    if (p.space_after > 0) a += attribute("w:after", std::to_string(p.space_after));
    if (p.line_height > 0)
        a += attribute("w:line", std::to_string(p.line_height)) + " w:lineRule=\"exact\"";
    else if (p.interline != 8 && p.interline != 0)
        a += attribute("w:line", std::to_string(p.interline * kLineUnitsPerInterline)) + " w:lineRule=\"auto\"";
    return a.empty() ? a : "<w:spacing" + a + "/>";
}

std::string indents(const ParagraphStyle &p) {
    std::string a;
    if (p.left_indent != 0) a += attribute("w:left", std::to_string(p.left_indent));
    if (p.right_indent != 0) a += attribute("w:right", std::to_string(p.right_indent));
    if (p.first_indent > 0) a += attribute("w:firstLine", std::to_string(p.first_indent));
    if (p.first_indent < 0) a += attribute("w:hanging", std::to_string(-p.first_indent));
    return a.empty() ? a : "<w:ind" + a + "/>";
}

// The elements of a <w:pPr>, in the order the schema gives them.  Tab stops
// are measured from the page's margin, the stream's from the left indent.
std::string paragraph_properties(const ParagraphStyle &p, const char *style, bool break_before) {
    std::string props;
    if (style != nullptr) props += "<w:pStyle" + attribute("w:val", style) + "/>";
    if (break_before) props += "<w:pageBreakBefore/>";
    if (!p.tabs.empty()) {
        props += "<w:tabs>";
        for (const TabStop &t : p.tabs)
            props += std::string("<w:tab w:val=\"") + tab_kind(t.align) + "\"" +
                     attribute("w:pos", std::to_string(p.left_indent + t.column * kTwipsPerColumn)) + "/>";
        props += "</w:tabs>";
    }
    props += spacing(p) + indents(p);
    if (const char *jc = alignment(p.align)) props += "<w:jc" + attribute("w:val", jc) + "/>";
    return props.empty() ? props : "<w:pPr>" + props + "</w:pPr>";
}

// The section: the page's size and margins.  The header and footer stand at
// the margins, and the text between them, as MacWrite prints them inside
// the printable page.
std::string section_page(const PageSetup &page) {
    const auto n = [](int v) { return std::to_string(v); };
    std::string s = "<w:pgSz" + attribute("w:w", n(page.width)) + attribute("w:h", n(page.height)) + "/>";
    if (!page.said) {
        // One-inch margins, the header and footer half an inch from the edge.
        s += "<w:pgMar w:top=\"1440\" w:right=\"1440\" w:bottom=\"1440\" w:left=\"1440\" w:header=\"720\" "
             "w:footer=\"720\" w:gutter=\"0\"/>";
        return s;
    }
    s += "<w:pgMar" + attribute("w:top", n(page.top + page.header_height)) + attribute("w:right", n(page.right)) +
         attribute("w:bottom", n(page.bottom + page.footer_height)) + attribute("w:left", n(page.left)) +
         attribute("w:header", n(page.top)) + attribute("w:footer", n(page.bottom)) + " w:gutter=\"0\"/>";
    if (page.first_page != 1) s += "<w:pgNumType" + attribute("w:start", n(page.first_page)) + "/>";
    if (page.columns > 1) s += "<w:cols" + attribute("w:num", n(page.columns)) + attribute("w:space", n(page.column_gap)) + "/>";
    if (page.title_page) s += "<w:titlePg/>";
    return s;
}

// English Metric Units in a point.
constexpr long kEmuPerPoint = 12700;

// A picture as an inline drawing at its frame's size.  An SVG goes through
// the extension Word reads SVG by; the image it names for readers without
// that extension is the SVG too, which LibreOffice shows as well.
std::string drawing(const Media::File &f, int width, int height) {
    const std::string n = std::to_string(f.number), id = "rIdPicture" + n;
    const std::string extent = " cx=\"" + std::to_string(width * kEmuPerPoint) + "\" cy=\"" +
                               std::to_string(height * kEmuPerPoint) + "\"";
    const std::string blip =
        f.png ? "<a:blip r:embed=\"" + id + "\"/>"
              : "<a:blip r:embed=\"" + id + "\"><a:extLst><a:ext uri=\"{96DAC541-7B7A-43D3-8B79-37D633B846F1}\">"
                "<asvg:svgBlip xmlns:asvg=\"http://schemas.microsoft.com/office/drawing/2016/SVG/main\" r:embed=\"" +
                    id + "\"/></a:ext></a:extLst></a:blip>";
    return "<w:drawing><wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\"><wp:extent" + extent +
           "/><wp:docPr id=\"" + n + "\" name=\"Picture " + n +
           "\"/><a:graphic xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
           "<a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\">"
           "<pic:pic xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:nvPicPr><pic:cNvPr id=\"" +
           n + "\" name=\"" + f.name() + "\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill>" + blip +
           "<a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext" + extent +
           "/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData>"
           "</a:graphic></wp:inline></w:drawing>";
}

const char *field_instruction(Field kind) {
    switch (kind) {
    case Field::Date: return " DATE ";
    case Field::Time: return " TIME ";
    default: return " PAGE ";
    }
}

// One place paragraphs go (the main text, the header, the footer, the
// notes) and what is open there.
struct Flow {
    explicit Flow(std::FILE *file = nullptr) : sink(file) {}
    Sink sink;
    bool paragraph = false;
    std::optional<CharStyle> run;  // the style of the open <w:r>
    bool text_open = false;        // a <w:t> is open in it
    bool has_text = false;
};

class DocxRenderer final : public StyledListener {
public:
    DocxRenderer(std::FILE *body_file, const RenderOptions &options) : body_(body_file), options_(options) {
        body_.sink.put(std::string(kDeclaration) + "<w:document" + kNamespaces + "><w:body>\n");
    }

    // Writes the package into `out`; the main text's scratch file goes with it.
    bool finish(const std::shared_ptr<std::FILE> &body_file, std::FILE *out) {
        const bool body_written = body_.sink.flush();
        Package package(out);
        package.add("[Content_Types].xml", content_types());
        package.add("_rels/.rels", package_relationships());
        package.add("docProps/core.xml", core_properties());
        package.add("docProps/app.xml", app_properties());
        package.add("word/document.xml", std::vector<Package::Piece>{{"", body_file}});
        package.add("word/_rels/document.xml.rels", document_relationships());
        package.add("word/styles.xml", styles());
        package.add("word/settings.xml", settings());
        package.add("word/fontTable.xml", font_table_part());
        if (has_notes()) add_part(package, "footnotes.xml", footnotes());
        if (has_header()) add_part(package, "header1.xml", header_footer("hdr", header_));
        if (has_footer()) add_part(package, "footer1.xml", header_footer("ftr", footer_));
        for (const Media::File &f : media_.files())
            package.add("word/media/" + f.name(), std::vector<Package::Piece>{media_.piece(f)}, f.png);
        return package.close() && body_written && media_.ok();
    }

    bool follows_stored_pages() const override { return true; }

    void page_setup(const PageSetup &page) override { page_ = page; }

    void begin_block(Block kind, int note_number) override {
        close_run(*flow_);
        block_ = kind;
        flow_ = kind == Block::Header ? &header_ : kind == Block::Footer ? &footer_ : &notes_;
        if (kind != Block::Note) return;
        notes_.sink.put("<w:footnote" + attribute("w:id", std::to_string(note_number)) + ">");
        note_paragraphs_ = 0;
    }

    void end_block() override {
        close_paragraph(*flow_);
        if (block_ == Block::Note) {
            if (note_paragraphs_ == 0) notes_.sink.put("<w:p>" + note_mark() + "</w:p>");
            notes_.sink.put("</w:footnote>\n");
        }
        flow_ = &body_;
        block_.reset();
    }

    void begin_paragraph(const ParagraphStyle &style) override {
        Flow &f = *flow_;
        const char *name = !block_ ? nullptr
                           : *block_ == Block::Header ? "Header"
                           : *block_ == Block::Footer ? "Footer"
                                                      : "FootnoteText";
        const bool break_before = !block_ && page_break_pending_;
        if (!block_) page_break_pending_ = false;
        f.sink.put("<w:p>" + paragraph_properties(style, name, break_before));
        f.paragraph = true;
        // A note's first paragraph starts with its number and a space.
        if (block_ == Block::Note && note_paragraphs_++ == 0)
            f.sink.put(note_mark() + "<w:r><w:t xml:space=\"preserve\"> </w:t></w:r>");
    }

    void end_paragraph() override { close_paragraph(*flow_); }

    void text(std::u16string_view run, const CharStyle &style) override {
        open_text(style);
        std::string x;
        xml::append_escaped(x, run);
        flow_->sink.put(x);
        flow_->has_text = true;
    }

    void tab(const CharStyle &style) override {
        Flow &f = *flow_;
        open_run(style);
        close_text(f);
        f.sink.put("<w:tab/>");
    }

    void line_end(const CharStyle &style) override {
        open_text(style);
        flow_->sink.put(" ");
    }

    void line_break(const CharStyle &style) override {
        close_run(*flow_);
        flow_->sink.put("<w:r>" + run_properties(style) + "<w:br/></w:r>");
        flow_->has_text = true;
    }

    void column_break(const CharStyle &style) override {
        if (block_ || !body_.paragraph) return line_end(style);
        close_run(body_);
        body_.sink.put("<w:r><w:br w:type=\"column\"/></w:r>");
    }

    // Headers and notes have no pages to break.  A break between paragraphs
    // goes with the next paragraph, so no empty paragraph is made for it.
    void page_break() override {
        if (block_) return;
        if (!body_.paragraph) {
            page_break_pending_ = true;
            return;
        }
        close_run(body_);
        body_.sink.put("<w:r><w:br w:type=\"page\"/></w:r>");
    }

    void note_call(int number, const CharStyle &style) override {
        close_run(body_);
        body_.sink.put("<w:r><w:rPr><w:rStyle w:val=\"FootnoteReference\"/>" + run_property_elements(style) +
                       "</w:rPr><w:footnoteReference" + attribute("w:id", std::to_string(number)) + "/></w:r>");
        ++notes_count_;
    }

    void field(Field kind, const CharStyle &style) override {
        Flow &f = *flow_;
        close_run(f);
        f.sink.put(std::string("<w:fldSimple w:instr=\"") + field_instruction(kind) + "\"><w:r>" +
                   run_properties(style) + "<w:t>" + xml::escaped(field_placeholder(kind)) +
                   "</w:t></w:r></w:fldSimple>");
        f.has_text = true;
    }

    // A picture between paragraphs gets a paragraph of its own.
    void picture(const Picture &p) override {
        const bool alone = !flow_->paragraph;
        if (alone) begin_paragraph(ParagraphStyle{});
        Flow &f = *flow_;
        close_run(f);
        std::string data = p.png();
        const bool png = !data.empty();
        if (!png) data = p.svg();
        if (data.empty()) {
            const std::string mark = picture_placeholder(p.number);
            text(std::u16string(mark.begin(), mark.end()), CharStyle{});
            close_run(f);
        } else {
            media_.add(p.number, data, png);
            f.sink.put("<w:r>" + drawing(media_.files().back(), p.width, p.height) + "</w:r>");
            f.has_text = true;
        }
        if (alone) end_paragraph();
    }

    void end_document() override {
        if (page_break_pending_) body_.sink.put("<w:p><w:r><w:br w:type=\"page\"/></w:r></w:p>\n");
        std::string section = "<w:sectPr>";
        if (has_header()) section += "<w:headerReference w:type=\"default\" r:id=\"rIdHeader\"/>";
        if (has_footer()) section += "<w:footerReference w:type=\"default\" r:id=\"rIdFooter\"/>";
        body_.sink.put(section + section_page(page_) + "</w:sectPr></w:body></w:document>\n");
    }

private:
    static std::string note_mark() {
        return "<w:r><w:rPr><w:rStyle w:val=\"FootnoteReference\"/></w:rPr><w:footnoteRef/></w:r>";
    }

    bool has_header() const { return header_.has_text; }
    bool has_footer() const { return footer_.has_text; }
    bool has_notes() const { return notes_count_ > 0; }

    void open_run(const CharStyle &style) {
        Flow &f = *flow_;
        if (f.run && *f.run == style) return;
        close_run(f);
        f.sink.put("<w:r>" + run_properties(style));
        f.run = style;
    }

    void open_text(const CharStyle &style) {
        open_run(style);
        Flow &f = *flow_;
        if (f.text_open) return;
        f.sink.put("<w:t xml:space=\"preserve\">");
        f.text_open = true;
    }

    static void close_text(Flow &f) {
        if (!f.text_open) return;
        f.sink.put("</w:t>");
        f.text_open = false;
    }

    static void close_run(Flow &f) {
        close_text(f);
        if (!f.run) return;
        f.sink.put("</w:r>");
        f.run.reset();
    }

    static void close_paragraph(Flow &f) {
        close_run(f);
        if (!f.paragraph) return;
        f.sink.put("</w:p>\n");
        f.paragraph = false;
    }

    std::string content_types() const {
        const std::string wml = "application/vnd.openxmlformats-officedocument.wordprocessingml.";
        const auto part = [](const std::string &name, const std::string &type) {
            return "<Override PartName=\"" + name + "\" ContentType=\"" + type + "\"/>";
        };
        std::string t = std::string(kDeclaration) +
                        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                        "<Default Extension=\"rels\" "
                        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
        if (media_.has(true)) t += "<Default Extension=\"png\" ContentType=\"image/png\"/>";
        if (media_.has(false)) t += "<Default Extension=\"svg\" ContentType=\"image/svg+xml\"/>";
        t += part("/word/document.xml", wml + "document.main+xml");
        t += part("/word/styles.xml", wml + "styles+xml");
        t += part("/word/settings.xml", wml + "settings+xml");
        t += part("/word/fontTable.xml", wml + "fontTable+xml");
        if (has_notes()) t += part("/word/footnotes.xml", wml + "footnotes+xml");
        if (has_header()) t += part("/word/header1.xml", wml + "header+xml");
        if (has_footer()) t += part("/word/footer1.xml", wml + "footer+xml");
        t += part("/docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml");
        t += part("/docProps/app.xml", "application/vnd.openxmlformats-officedocument.extended-properties+xml");
        return t + "</Types>\n";
    }

    // A part beside the main text, with the pictures' relationships when it
    // may show some.
    void add_part(Package &package, const std::string &name, std::string xml) const {
        package.add("word/" + name, std::move(xml));
        if (!media_.files().empty()) package.add("word/_rels/" + name + ".rels", relationships(picture_relationships()));
    }

    std::string picture_relationships() const {
        std::string list;
        for (const Media::File &f : media_.files())
            list += relationship("rIdPicture" + std::to_string(f.number), std::string(kRelationships) + "image",
                                 "media/" + f.name());
        return list;
    }

    static std::string relationship(const std::string &id, const std::string &type, const std::string &target) {
        return "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
    }

    static std::string relationships(const std::string &list) {
        return std::string(kDeclaration) +
               "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + list +
               "</Relationships>\n";
    }

    static std::string package_relationships() {
        return relationships(
            relationship("rIdDocument", std::string(kRelationships) + "officeDocument", "word/document.xml") +
            relationship("rIdCore",
                         "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
                         "docProps/core.xml") +
            relationship("rIdApp", std::string(kRelationships) + "extended-properties", "docProps/app.xml"));
    }

    std::string document_relationships() const {
        const std::string r = kRelationships;
        std::string list = relationship("rIdStyles", r + "styles", "styles.xml") +
                           relationship("rIdSettings", r + "settings", "settings.xml") +
                           relationship("rIdFonts", r + "fontTable", "fontTable.xml");
        if (has_notes()) list += relationship("rIdNotes", r + "footnotes", "footnotes.xml");
        if (has_header()) list += relationship("rIdHeader", r + "header", "header1.xml");
        if (has_footer()) list += relationship("rIdFooter", r + "footer", "footer1.xml");
        return relationships(list + picture_relationships());
    }

    // The title and the program, and the dates only when the input gave
    // them, so the same input gives the same package.
    std::string core_properties() const {
        std::string dates;
        auto date = [&](const char *name, const std::optional<int64_t> &t) {
            if (t) dates += std::string("<dcterms:") + name + " xsi:type=\"dcterms:W3CDTF\">" + w3c_date(*t) + "</dcterms:" + name + ">";
        };
        date("created", options_.created);
        date("modified", options_.modified);
        return std::string(kDeclaration) +
               "<cp:coreProperties"
               " xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\""
               " xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\""
               " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><dc:title>" +
               xml::escaped(options_.title) + "</dc:title>" + dates + "</cp:coreProperties>\n";
    }

    std::string app_properties() const {
        std::string generator = options_.generator;
        if (!options_.version.empty()) generator += " " + options_.version;
        return std::string(kDeclaration) +
               "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
               "<Application>" +
               xml::escaped(generator) + "</Application></Properties>\n";
    }

    static std::string styles() {
        return std::string(kDeclaration) + "<w:styles" + kNamespaces +
               "><w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Times\" w:hAnsi=\"Times\" "
               "w:eastAsia=\"Times\" w:cs=\"Times\"/><w:kern w:val=\"2\"/><w:sz w:val=\"24\"/></w:rPr></w:rPrDefault>"
               // MacWrite spaces paragraphs by their lines alone.
               "<w:pPrDefault><w:pPr><w:widowControl w:val=\"0\"/><w:spacing w:before=\"0\" w:after=\"0\" w:line=\"240\" w:lineRule=\"auto\"/>"
               "</w:pPr></w:pPrDefault></w:docDefaults>"
               "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/></w:style>"
               "<w:style w:type=\"character\" w:default=\"1\" w:styleId=\"DefaultParagraphFont\">"
               "<w:name w:val=\"Default Paragraph Font\"/></w:style>"
               "<w:style w:type=\"paragraph\" w:styleId=\"Header\"><w:name w:val=\"header\"/>"
               "<w:basedOn w:val=\"Normal\"/></w:style>"
               "<w:style w:type=\"paragraph\" w:styleId=\"Footer\"><w:name w:val=\"footer\"/>"
               "<w:basedOn w:val=\"Normal\"/></w:style>"
               "<w:style w:type=\"paragraph\" w:styleId=\"FootnoteText\"><w:name w:val=\"footnote text\"/>"
               "<w:basedOn w:val=\"Normal\"/><w:rPr><w:sz w:val=\"20\"/></w:rPr></w:style>"
               "<w:style w:type=\"character\" w:styleId=\"FootnoteReference\"><w:name w:val=\"footnote reference\"/>"
               "<w:rPr><w:vertAlign w:val=\"superscript\"/></w:rPr></w:style></w:styles>\n";
    }

    // Tabs past the last stop go to the next half inch, as in MacWrite.
    std::string settings() const {
        std::string s = std::string(kDeclaration) + "<w:settings" + kNamespaces + "><w:defaultTabStop w:val=\"720\"/>";
        if (has_notes()) s += "<w:footnotePr><w:footnote w:id=\"-1\"/><w:footnote w:id=\"0\"/></w:footnotePr>";
        return s + "<w:compat><w:compatSetting w:name=\"compatibilityMode\" "
                   "w:uri=\"http://schemas.microsoft.com/office/word\" w:val=\"15\"/></w:compat></w:settings>\n";
    }

    static std::string font_table_part() {
        std::string t = std::string(kDeclaration) + "<w:fonts" + kNamespaces +
                        "><w:font w:name=\"Times\"><w:family w:val=\"roman\"/><w:pitch w:val=\"variable\"/></w:font>";
        for (const FontFace &face : font_table()) {
            if (!first_of_family(face) || face.family == "Times") continue;
            const char *family = face.generic == Generic::SansSerif   ? "swiss"
                                 : face.generic == Generic::Monospace ? "modern"
                                                                      : "roman";
            t += "<w:font" + attribute("w:name", xml::escaped(face.family)) + "><w:family" +
                 attribute("w:val", family) + "/><w:pitch" +
                 attribute("w:val", face.generic == Generic::Monospace ? "fixed" : "variable") + "/></w:font>";
        }
        return t + "</w:fonts>\n";
    }

    std::string footnotes() const {
        return std::string(kDeclaration) + "<w:footnotes" + kNamespaces +
               "><w:footnote w:type=\"separator\" w:id=\"-1\"><w:p><w:r><w:separator/></w:r></w:p></w:footnote>"
               "<w:footnote w:type=\"continuationSeparator\" w:id=\"0\"><w:p><w:r><w:continuationSeparator/></w:r>"
               "</w:p></w:footnote>\n" +
               notes_.sink.held() + "</w:footnotes>\n";
    }

    static std::string header_footer(const char *element, const Flow &f) {
        return std::string(kDeclaration) + "<w:" + element + kNamespaces + ">\n" + f.sink.held() + "</w:" + element +
               ">\n";
    }

    Flow body_, header_, footer_, notes_;
    Flow *flow_ = &body_;
    std::optional<Block> block_;
    int note_paragraphs_ = 0;
    int notes_count_ = 0;
    bool page_break_pending_ = false;
    PageSetup page_;
    Media media_;
    const RenderOptions &options_;
};

}  // namespace

bool to_docx(std::FILE *stream, std::FILE *out, const RenderOptions &options) {
    const std::shared_ptr<std::FILE> body = Package::scratch();
    DocxRenderer docx(body.get(), options);
    read_styled(stream, docx);
    return docx.finish(body, out);
}

}  // namespace render
