#include <charconv>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "render/render.h"
#include "render/sink.h"
#include "render/styled.h"
#include "mactext/utf8.h"

namespace render {

namespace {

// Twips (1/20 point) in a column of 1/10 inch.
constexpr int kTwipsPerColumn = 144;

// ASCII as itself, RTF's own characters escaped, everything else as \uN
// (a signed 16-bit number) and "?" for readers without Unicode.  A space
// ends the control word before the "?", so no reader can take the "?" or
// the character after it for part of the number.
void append_escaped(std::string &out, std::u16string_view run) {
    out.reserve(out.size() + run.size());
    for (char16_t c : run) {
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char number[8];
            const auto end = std::to_chars(number, number + sizeof number, static_cast<int16_t>(c)).ptr;
            out += "\\u";
            out.append(number, end);
            out += " ?";
        }
    }
}

std::string escaped(std::string_view utf8) {
    std::string out;
    append_escaped(out, mactext::utf16_of(utf8));
    return out;
}

// \f0 is the default font; the table's fonts follow in its order.  The font
// table comes before the text, so a family the document names itself takes
// its number's family from the table, or the default font.
int font_index(const FontFace *face) {
    const std::span<const FontFace> table = font_table();
    if (face != nullptr && (face < table.data() || face >= table.data() + table.size())) face = font_face(face->number);
    return face == nullptr ? 0 : static_cast<int>(face - table.data()) + 1;
}

// Colours \cf1 to \cf8 are the stream's eight, in its order.
std::string colour_table_group() {
    std::string t = "{\\colortbl;";
    for (int c = 0; c < 8; ++c) {
        const std::string_view hex = colour_hex(static_cast<Colour>(c));
        const auto channel = [&](size_t at) { return std::to_string(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16)); };
        t += "\\red" + channel(0) + "\\green" + channel(2) + "\\blue" + channel(4) + ";";
    }
    return t + "}\n";
}

const char *family_word(Generic g) {
    switch (g) {
    case Generic::SansSerif: return "\\fswiss";
    case Generic::Monospace: return "\\fmodern";
    default: return "\\froman";
    }
}

std::string font_table_group() {
    std::string t = "{\\fonttbl{\\f0\\froman\\fcharset0 Times;}";
    for (const FontFace &face : font_table())
        t += "{\\f" + std::to_string(font_index(&face)) + family_word(face.generic) + "\\fcharset0 " +
             std::string(face.family) + ";}";
    return t + "}\n";
}

const char *tab_control(TabAlign a) {
    switch (a) {
    case TabAlign::Centre: return "\\tqc";
    case TabAlign::Right: return "\\tqr";
    case TabAlign::Decimal: return "\\tqdec";
    default: return "";
    }
}

std::string paragraph_controls(const ParagraphStyle &p) {
    // Pair kerning, as LibreOffice sets its own documents and prints the
    // originals: without it lines come out wider and break elsewhere.
    std::string c = "\\pard\\plain\\kerning1";
    switch (p.align) {
    case Align::Centre: c += "\\qc"; break;
    case Align::Right: c += "\\qr"; break;
    case Align::Justified: c += "\\qj"; break;
    default: c += "\\ql"; break;
    }
    if (p.left_indent != 0) c += "\\li" + std::to_string(p.left_indent);
    if (p.right_indent != 0) c += "\\ri" + std::to_string(p.right_indent);
    if (p.first_indent != 0) c += "\\fi" + std::to_string(p.first_indent);
    if (p.space_before > 0) c += "\\sb" + std::to_string(p.space_before);
    if (p.space_after > 0) c += "\\sa" + std::to_string(p.space_after);
    // A negative \sl is an exact height in twips; with \slmult1 it counts
    // in 240ths of a single line.
    if (p.line_height > 0) c += "\\sl-" + std::to_string(p.line_height) + "\\slmult0";
    else if (p.interline != 8 && p.interline != 0) c += "\\sl" + std::to_string(p.interline * 30) + "\\slmult1";
    // Tab stops are measured from the page's margin, the stream's from the
    // left indent.
    for (const TabStop &t : p.tabs)
        c += std::string(tab_control(t.align)) + "\\tx" + std::to_string(p.left_indent + t.column * kTwipsPerColumn);
    return c + " ";
}

std::string character_controls(const CharStyle &s) {
    std::string c;
    if (s.has(kBold)) c += "\\b";
    if (s.has(kItalic)) c += "\\i";
    if (s.has(kDoubleUnderline)) c += "\\uldb";
    else if (s.has(kUnderline)) c += "\\ul";
    if (s.has(kStrikeout)) c += "\\strike";
    if (s.has(kSuperscript)) c += "\\super";
    if (s.has(kSubscript)) c += "\\sub";
    if (s.has(kOutline)) c += "\\outl";
    if (s.has(kShadow)) c += "\\shad";
    if (s.has(kSmallCaps)) c += "\\scaps";
    if (s.has(kAllCaps)) c += "\\caps";
    if (s.colour != Colour::Black) c += "\\cf" + std::to_string(static_cast<int>(s.colour) + 1);
    if (s.face != nullptr) c += "\\f" + std::to_string(font_index(s.face));
    if (s.size != 0) c += "\\fs" + std::to_string(s.size * 2);
    return c;
}

void append_hex(std::string &out, std::string_view bytes) {
    static const char *digits = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 64 == 0) out += '\n';
        const auto b = static_cast<uint8_t>(bytes[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
}

// A picture made of bitmaps alone goes as PNG, which every reader takes;
// any other as the QuickDraw picture itself, which RTF has a word for.  Its
// goal size is the frame's, in twips.
std::string picture_group(const Picture &p) {
    const std::string png = p.png();
    std::string g = std::string("{\\pict") + (png.empty() ? "\\macpict" : "\\pngblip") + "\\picw" +
                    std::to_string(p.width) + "\\pich" + std::to_string(p.height) + "\\picwgoal" +
                    std::to_string(p.width * 20) + "\\pichgoal" + std::to_string(p.height * 20);
    append_hex(g, png.empty() ? p.pict : std::string_view(png));
    return g + "}";
}

const char *field_instruction(Field kind) {
    switch (kind) {
    case Field::Date: return "DATE";
    case Field::Time: return "TIME";
    default: return "PAGE";
    }
}

// Everything is written where the stream puts it: the header and footer as
// destinations before the main text, each note as a footnote at its call.
// A run of one style is one group, so nothing is left to undo after it.
class RtfRenderer final : public StyledListener {
public:
    RtfRenderer(std::FILE *out, const RenderOptions &options) : out_(out) {
        out_.put("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n" + font_table_group() + colour_table_group() + "{\\info{\\title " +
                 escaped(options.title) + "}}\n");
    }

    // The header and footer stand at the margins, against the text, as
    // MacWrite prints them inside the printable page.
    bool follows_stored_pages() const override { return true; }

    void page_setup(const PageSetup &page) override {
        const auto n = [](int v) { return std::to_string(v); };
        std::string c = "\\paperw" + n(page.width) + "\\paperh" + n(page.height) + "\\margl" + n(page.left) +
                        "\\margr" + n(page.right) + "\\margt" + n(page.top + page.header_height) + "\\margb" +
                        n(page.bottom + page.footer_height);
        if (page.said) {
            c += "\\sectd\\headery" + n(page.top) + "\\footery" + n(page.bottom);
            if (page.first_page != 1) c += "\\pgnstarts" + n(page.first_page) + "\\pgnrestart";
            if (page.title_page) c += "\\titlepg";
            if (page.columns > 1) c += "\\cols" + n(page.columns) + "\\colsx" + n(page.column_gap);
        }
        out_.put(c + "\n");
    }

    bool ok() { return out_.flush(); }

    void begin_block(Block kind, int) override {
        close_run();
        switch (kind) {
        case Block::Header: hold("{\\header "); break;
        case Block::Footer: hold("{\\footer "); break;
        case Block::Note: to_->put("{\\footnote "); break;
        }
        in_note_ = kind == Block::Note;
        note_paragraphs_ = 0;
    }

    void end_block() override {
        close_run();
        if (in_note_ && note_paragraphs_ == 0) to_->put("\\pard\\plain {\\super\\chftn}");
        to_->put("}");
        if (!in_note_) release();
        in_note_ = false;
    }

    void begin_paragraph(const ParagraphStyle &style) override {
        if (break_pending_) to_->put("\\page\n");
        break_pending_ = false;
        in_paragraph_ = true;
        // A footnote's paragraphs are separated, not ended, by \par: the
        // note ends with its text.
        if (in_note_ && note_paragraphs_++ > 0) to_->put("\\par\n");
        to_->put(paragraph_controls(style));
        if (in_note_ && note_paragraphs_ == 1) to_->put("{\\super\\chftn} ");
    }

    void end_paragraph() override {
        close_run();
        if (!in_note_) to_->put("\\par\n");
        in_paragraph_ = false;
    }

    void text(std::u16string_view run, const CharStyle &style) override {
        held_text_ = true;
        set_run(style);
        rtf_.clear();
        append_escaped(rtf_, run);
        to_->put(rtf_);
    }

    void tab(const CharStyle &style) override {
        held_text_ = true;
        set_run(style);
        to_->put("\\tab ");
    }

    void line_end(const CharStyle &style) override {
        set_run(style);
        to_->put(" ");
    }

    void line_break(const CharStyle &style) override {
        set_run(style);
        to_->put("\\line ");
    }

    void column_break(const CharStyle &style) override {
        set_run(style);
        to_->put("\\column ");
    }

    // A break between paragraphs waits for the next one: after the last,
    // only a paragraph that starts a page of its own keeps the blank page.
    void page_break() override {
        close_run();
        if (in_paragraph_) to_->put("\\page\n");
        else break_pending_ = true;
    }

    void note_call(int, const CharStyle &) override {
        close_run();
        to_->put("{\\super\\chftn}");
    }

    void field(Field kind, const CharStyle &style) override {
        held_text_ = true;
        set_run(style);
        std::string rtf = std::string("{\\field{\\*\\fldinst ") + field_instruction(kind) + "}{\\fldrslt ";
        append_escaped(rtf, field_placeholder(kind));
        to_->put(rtf + "}}");
    }

    // A picture between paragraphs gets a paragraph of its own; one that
    // cannot be drawn shows its marker (plain ASCII, nothing to escape).
    void picture(const Picture &p) override {
        held_text_ = true;
        close_run();
        const bool alone = !in_paragraph_;
        if (alone && break_pending_) to_->put("\\page\n");
        if (alone) {
            break_pending_ = false;
            to_->put("\\pard\\plain ");
        }
        to_->put(p.drawable() ? picture_group(p) : picture_placeholder(p.number));
        if (alone) to_->put("\\par\n");
    }

    void end_document() override {
        close_run();
        if (break_pending_) to_->put("\\pard\\plain\\pagebb\\par\n");
        to_->put("}\n");
    }

private:
    void set_run(const CharStyle &style) {
        if (run_open_ && run_ == style) return;
        close_run();
        const std::string &controls = controls_of(style);
        if (controls.empty()) return;
        to_->put("{");
        to_->put(controls);
        to_->put(" ");
        run_ = style;
        run_open_ = true;
    }

    // Documents go back and forth between a few styles: their controls are
    // made once each.
    const std::string &controls_of(const CharStyle &style) {
        for (const auto &[known, c] : controls_)
            if (known == style) return c;
        if (controls_.size() == kKnownStyles) controls_.erase(controls_.begin());
        controls_.emplace_back(style, character_controls(style));
        return controls_.back().second;
    }

    void close_run() {
        if (!run_open_) return;
        to_->put("}");
        run_open_ = false;
    }

    static constexpr size_t kKnownStyles = 8;
    std::vector<std::pair<CharStyle, std::string>> controls_;
    std::string rtf_;  // a run escaped, kept for its room
    // A header or footer is held until its end, and written only when it has
    // something to show: an empty one would take a line of the page.
    void hold(const char *opening) {
        held_.emplace();
        held_text_ = false;
        to_ = &*held_;
        to_->put(opening);
    }

    void release() {
        to_ = &out_;
        if (held_text_) out_.put(held_->held() + "\n");
        held_.reset();
    }

    Sink out_;
    Sink *to_ = &out_;
    std::optional<Sink> held_;
    bool held_text_ = false;
    CharStyle run_;
    bool run_open_ = false;
    bool in_note_ = false;
    bool break_pending_ = false;
    int note_paragraphs_ = 0;
    bool in_paragraph_ = false;
};

}  // namespace

bool to_rtf(std::FILE *stream, std::FILE *out, const RenderOptions &options) {
    RtfRenderer rtf(out, options);
    read_styled(stream, rtf);
    return rtf.ok();
}

}  // namespace render
