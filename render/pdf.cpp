// PDF: the document's pages, set with pango and drawn by cairo.  Where the
// document records how its author's Mac laid it out (each paragraph's page,
// top and line heights), each paragraph starts on its page at its top and its
// lines take their heights; elsewhere paragraphs flow down the page.
//
// Pages are written as they are finished.  The header, the footer and the
// notes wait in memory (they are drawn on every page, the notes at the foot
// of the page that calls them); the main text is laid out one paragraph at a
// time.
#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/pdf_fonts.h"
#include "render/pdf_logo.h"
#include "render/pdf_picture.h"
#include "render/render.h"
#include "render/styled.h"

namespace render {

namespace {

constexpr double kPointsPerTwip = 1.0 / 20;
constexpr double kTabPitch = 7.2;  // a tab column, 1/10 inch, in points
constexpr int kDefaultSize = 12;
// How far a substitute font's widths may be stretched or narrowed to give a
// paragraph the author's number of lines, and in what steps.
constexpr double kWidthStep = 0.005;
constexpr int kWidthSteps = 16;
// Line spacing beyond triple (8 is single) is no document's: a stream that
// says more gets triple.
constexpr int kMostInterline = 24;
// Bytes of a paragraph's text laid out at a time.
constexpr size_t kPieceBytes = 1500;


template <typename T, void (*Free)(T *)>
struct Freer {
    void operator()(T *p) const { Free(p); }
};
void unref_object(PangoLayout *p) { g_object_unref(p); }
void unref_context(PangoContext *p) { g_object_unref(p); }
using Layout = std::unique_ptr<PangoLayout, Freer<PangoLayout, unref_object>>;
using Context = std::unique_ptr<PangoContext, Freer<PangoContext, unref_context>>;
using Surface = std::unique_ptr<cairo_surface_t, Freer<cairo_surface_t, cairo_surface_destroy>>;
using Cairo = std::unique_ptr<cairo_t, Freer<cairo_t, cairo_destroy>>;

// What a paragraph holds until it is laid out.
struct Piece {
    enum Kind : uint8_t { Text, Tab, LineEnd, FieldMark, NoteCall } kind = Text;
    std::string utf8;
    CharStyle style;
    Field field = Field::PageNumber;
    int note = 0;
};

struct Lines;

struct Paragraph {
    ParagraphStyle style;
    CharStyle font;  // of its last character, or the last before it: an empty line's height
    std::vector<Piece> pieces;
    std::optional<Placement> place;
    mutable std::shared_ptr<Lines> laid;  // a header's or footer's lines, when they are the same on every page
    bool empty() const { return pieces.empty(); }
};

// What the fields show on one page.
struct PageValues {
    int number = 1;
    std::string date, time;
};

void append_utf8(std::string &out, std::u16string_view run) {
    for (const char16_t c : run) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

// "1986-12-07T10:30:00", the form cairo's metadata takes; the Mac's clock
// is local time without a zone, kept as it reads.
std::string iso_date(int64_t unix_seconds) {
    const std::time_t t = static_cast<std::time_t>(unix_seconds);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) return {};
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

// The date and time fields print the day the document was last saved (the
// conversion's own time when that is unknown), as the Mac's short forms.
void date_fields(std::optional<int64_t> when, PageValues &values) {
    const std::time_t t = when ? static_cast<std::time_t>(*when) : std::time(nullptr);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) return;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d/%d/%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year % 100);
    values.date = buf;
    const int hour = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    std::snprintf(buf, sizeof buf, "%d:%02d %s", hour, tm.tm_min, tm.tm_hour < 12 ? "AM" : "PM");
    values.time = buf;
}

void add_attribute(PangoAttrList *list, PangoAttribute *a, size_t from, size_t to) {
    a->start_index = static_cast<guint>(from);
    a->end_index = static_cast<guint>(to);
    pango_attr_list_insert(list, a);
}

// The character style as pango attributes over bytes [from, to).
PangoFontDescription *font_of(const CharStyle &style) {
    PangoFontDescription *font = pango_font_description_new();
    pango_font_description_set_family(font, std::string(pdf_family(style.face)).c_str());
    pango_font_description_set_size(font, (style.size != 0 ? style.size : kDefaultSize) * PANGO_SCALE);
    pango_font_description_set_weight(font, style.has(kBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(font, style.has(kItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return font;
}

void style_attributes(PangoAttrList *list, const CharStyle &style, size_t from, size_t to) {
    PangoFontDescription *font = font_of(style);
    add_attribute(list, pango_attr_font_desc_new(font), from, to);
    pango_font_description_free(font);
    if (style.has(kUnderline) || style.has(kDoubleUnderline))
        add_attribute(list, pango_attr_underline_new(style.has(kDoubleUnderline) ? PANGO_UNDERLINE_DOUBLE : PANGO_UNDERLINE_SINGLE),
                      from, to);
    if (style.has(kStrikeout)) add_attribute(list, pango_attr_strikethrough_new(TRUE), from, to);
    if (style.has(kSuperscript) || style.has(kSubscript)) {
        const bool up = style.has(kSuperscript);
        add_attribute(list, pango_attr_baseline_shift_new(up ? PANGO_BASELINE_SHIFT_SUPERSCRIPT : PANGO_BASELINE_SHIFT_SUBSCRIPT),
                      from, to);
        add_attribute(list, pango_attr_font_scale_new(up ? PANGO_FONT_SCALE_SUPERSCRIPT : PANGO_FONT_SCALE_SUBSCRIPT), from,
                      to);
    }
    if (style.has(kAllCaps)) add_attribute(list, pango_attr_text_transform_new(PANGO_TEXT_TRANSFORM_UPPERCASE), from, to);
    if (style.has(kSmallCaps)) add_attribute(list, pango_attr_variant_new(PANGO_VARIANT_SMALL_CAPS), from, to);
}

// A paragraph's text, with fields filled in for one page, and its styles.
struct Assembled {
    std::string text;
    std::vector<std::pair<size_t, int>> calls;  // where each note call stands, and its note
    PangoAttrList *attributes = pango_attr_list_new();
    Assembled() = default;
    Assembled(const Assembled &) = delete;
    Assembled &operator=(const Assembled &) = delete;
    ~Assembled() { pango_attr_list_unref(attributes); }
};

// Text as drawn: the Apple logo left out, rather than drawn as a
// missing-glyph box, where no face has it.
void append_drawn(std::string &out, std::string_view text, const AppleLogo *logo) {
    if (logo != nullptr) {
        out += text;
        return;
    }
    for (size_t at = 0, next; at < text.size(); at = next + (next < text.size() ? kAppleLogoUtf8.size() : 0)) {
        next = std::min(text.find(kAppleLogoUtf8, at), text.size());
        out += text.substr(at, next - at);
    }
}

void assemble(const Paragraph &p, const PageValues &page, const AppleLogo *logo, Assembled &out) {
    for (const Piece &piece : p.pieces) {
        const size_t from = out.text.size();
        switch (piece.kind) {
        case Piece::Text: append_drawn(out.text, piece.utf8, logo); break;
        case Piece::Tab: out.text += '\t'; break;
        case Piece::LineEnd: out.text += "\u2028"; break;
        case Piece::NoteCall:
            out.calls.emplace_back(from, piece.note);
            out.text += std::to_string(piece.note);
            break;
        case Piece::FieldMark:
            out.text += piece.field == Field::Date   ? page.date
                        : piece.field == Field::Time ? page.time
                                                     : std::to_string(page.number);
            break;
        }
        CharStyle style = piece.style;
        if (piece.kind == Piece::NoteCall) style.attributes |= kSuperscript;
        if (out.text.size() > from) style_attributes(out.attributes, style, from, out.text.size());
        if (logo != nullptr && piece.kind == Piece::Text)
            logo->mark(out.attributes, out.text, from, out.text.size(), style.size != 0 ? style.size : kDefaultSize);
    }
    // Every character in the family it names: no machine's fallback font.
    add_attribute(out.attributes, pango_attr_fallback_new(FALSE), 0, out.text.size());
    // The Mac set text letter by letter, without pair kerning or
    // ligatures; so does this (and shaping takes a tenth less time).
    add_attribute(out.attributes, pango_attr_font_features_new("kern 0, liga 0"), 0, out.text.size());
}

// Where a paragraph's layout starts, in twips from the page's margin: at
// its left indent, or further left at its first line when that hangs
// (pango indents the lines after the first by a negative indent).
int layout_left(const ParagraphStyle &style) { return style.left_indent + std::min(style.first_indent, 0); }

// Tab stops from the layout's left: where the document measures them when
// the stream says, else by their columns (which the imports count from the
// left indent).
PangoTabAlign pango_align(TabAlign align) {
    switch (align) {
        case TabAlign::Centre: return PANGO_TAB_CENTER;
        case TabAlign::Right: return PANGO_TAB_RIGHT;
        case TabAlign::Decimal: return PANGO_TAB_DECIMAL;
        case TabAlign::Left: break;
    }
    return PANGO_TAB_LEFT;
}

PangoTabArray *tab_array(const ParagraphStyle &style, double scale, double shift) {
    struct Stop {
        int twips;
        TabAlign align;
    };
    std::vector<Stop> stops;
    const int left = layout_left(style);
    for (const TabPosition &t : style.tab_positions)
        stops.push_back({t.twips - left, t.decimal ? TabAlign::Decimal : TabAlign::Left});
    if (style.tab_positions.empty())
        for (const TabStop &t : style.tabs)
            stops.push_back({static_cast<int>(t.column * kTabPitch * 20) + style.left_indent - left, t.align});
    PangoTabArray *tabs = pango_tab_array_new(0, FALSE);
    int i = 0;
    for (const Stop &t : stops) {
        const double at = t.twips * kPointsPerTwip / scale - shift;
        if (at <= 0) continue;
        pango_tab_array_resize(tabs, i + 1);
        pango_tab_array_set_tab(tabs, i, pango_align(t.align), static_cast<int>(at * PANGO_SCALE));
        if (t.align == TabAlign::Decimal) pango_tab_array_set_decimal_point(tabs, i, '.');
        ++i;
    }
    return tabs;
}

// One laid-out line: where it sits in its paragraph's layout.
struct LineBox {
    PangoLayoutLine *line;
    std::vector<int> notes;  // the notes it calls
    double x;       // of the line's start, from the paragraph's layout's left
    double ascent;  // above the baseline
    double height;  // pango's, with the line spacing
};

// A paragraph's lines and the layouts that hold them.
struct Lines {
    std::vector<std::pair<size_t, int>> calls;
    std::vector<Layout> layouts;
    std::vector<LineBox> boxes;
};

// cairo 1.16 writes the structure tree but not the catalogue's MarkInfo,
// without which readers do not take the document for tagged, and names
// itself the producer.  Both stand in the last objects, just before the
// cross-reference table: the file's end is held from the document
// information on, mended, and the table's offsets moved by what the mending
// added.
class FileEnd {
public:
    explicit FileEnd(std::FILE *out) : out_(out) {}

    bool write(std::string_view bytes) {
        if (!holding_) {
            const size_t at = bytes.find(kInformation);
            if (at == std::string_view::npos) return put(bytes);
            holding_ = true;
            held_from_ = written_ + at;
            if (!put(bytes.substr(0, at))) return false;
            bytes.remove_prefix(at);
        }
        tail_.append(bytes);
        return true;
    }

    bool finish(const std::string &producer) {
        if (!holding_) return true;
        std::vector<Change> changes;
        const size_t information = tail_.find(kProducer);
        const size_t line_end = information == std::string::npos ? information : tail_.find('\n', information);
        if (line_end != std::string::npos)
            changes.push_back({information, line_end - information, "<< /Producer (" + escaped(producer) + ")"});
        const size_t catalog = tail_.find(kCatalog);
        if (catalog != std::string::npos) changes.push_back({catalog + kCatalog.size(), 0, std::string(kMarked)});
        // From the last to the first, so that each place still holds.
        std::sort(changes.begin(), changes.end(), [](const Change &a, const Change &b) { return a.at > b.at; });
        for (const Change &c : changes) {
            tail_.replace(c.at, c.removed, c.text);
            edits_.push_back({held_from_ + c.at, static_cast<long>(c.text.size()) - static_cast<long>(c.removed)});
        }
        move_offsets();
        return put(tail_);
    }

private:
    static constexpr std::string_view kInformation = "<< /Producer (";
    static constexpr std::string_view kProducer = "<< /Producer (cairo ";
    static constexpr std::string_view kCatalog = "<< /Type /Catalog\n";
    static constexpr std::string_view kMarked = "   /MarkInfo << /Marked true >>\n";

    struct Change {
        size_t at, removed;  // in the held bytes as cairo wrote them
        std::string text;
    };
    struct Edit {
        size_t at;  // in the file as cairo wrote it
        long delta;
    };

    static std::string escaped(const std::string &text) {
        std::string out;
        for (const char c : text) {
            if (c == '(' || c == ')' || c == '\\') out += '\\';
            out += c;
        }
        return out;
    }

    long moved(size_t offset) const {
        long delta = 0;
        for (const Edit &e : edits_)
            if (e.at < offset) delta += e.delta;
        return delta;
    }

    // The entries "nnnnnnnnnn ggggg n" of the table and the number after
    // startxref.
    void move_offsets() {
        const size_t table = tail_.find("\nxref\n");
        if (table == std::string::npos) return;
        size_t line = tail_.find('\n', tail_.find('\n', table + 6) + 1);
        for (; line != std::string::npos && line + 20 <= tail_.size() && tail_[line + 18] == 'n'; line += 20) {
            const size_t original = std::stoull(tail_.substr(line + 1, 10));
            char number[16];
            std::snprintf(number, sizeof number, "%010zu", original + moved(original));
            tail_.replace(line + 1, 10, number);
        }
        const size_t start = tail_.rfind("startxref\n");
        if (start == std::string::npos) return;
        const size_t from = start + 10, to = tail_.find('\n', from);
        const size_t original = std::stoull(tail_.substr(from, to - from));
        tail_.replace(from, to - from, std::to_string(original + moved(original)));
    }

    bool put(std::string_view bytes) {
        written_ += bytes.size();
        return std::fwrite(bytes.data(), 1, bytes.size(), out_) == bytes.size();
    }

    std::FILE *out_;
    bool holding_ = false;
    size_t written_ = 0, held_from_ = 0;
    std::string tail_;
    std::vector<Edit> edits_;
};

}  // namespace

class PdfWriter : public StyledListener {
public:
    PdfWriter(std::FILE *out, const RenderOptions &options) : out_(out), options_(options) {
        date_fields(options.modified ? options.modified : options.created, values_);
    }

    bool ok() const { return ok_; }

    void page_setup(const PageSetup &page) override {
        page_ = page;
        surface_.reset(cairo_pdf_surface_create_for_stream(write_out, this, width(), height()));
        cairo_pdf_surface_restrict_to_version(surface_.get(), CAIRO_PDF_VERSION_1_5);
        set_metadata();
        cr_.reset(cairo_create(surface_.get()));
        // The thread's own font map: fonts found and loaded for one document
        // serve the next that the same thread converts.
        context_.reset(pango_font_map_create_context(pdf_font_map()));
        cairo_font_options_t *fo = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
        pango_cairo_context_set_font_options(context_.get(), fo);
        cairo_font_options_destroy(fo);
        pango_cairo_context_set_resolution(context_.get(), 72);
        pango_context_set_round_glyph_positions(context_.get(), FALSE);
    }

    void begin_block(Block kind, int note_number) override {
        block_ = kind;
        in_block_ = true;
        if (kind == Block::Note) note_ = note_number;
    }

    void end_block() override { in_block_ = false; }

    void begin_paragraph(const ParagraphStyle &style) override {
        Paragraph &p = open();
        p.style = style;
        p.font = last_font_;
    }

    void end_paragraph() override {
        if (!in_block_) return finish_main_paragraph();
        Paragraph done = std::move(block_paragraph_);
        block_paragraph_ = {};
        held().push_back(std::move(done));
    }

    void text(std::u16string_view run, const CharStyle &style) override {
        open().font = last_font_ = style;
        Piece piece{Piece::Text, {}, style};
        append_utf8(piece.utf8, run);
        std::vector<Piece> &pieces = open().pieces;
        if (!pieces.empty() && pieces.back().kind == Piece::Text && pieces.back().style == style)
            pieces.back().utf8 += piece.utf8;
        else
            pieces.push_back(std::move(piece));
    }

    void tab(const CharStyle &style) override { open().pieces.push_back({Piece::Tab, {}, style}); }
    void line_end(const CharStyle &style) override { open().pieces.push_back({Piece::LineEnd, {}, style}); }

    // A break inside a paragraph ends its first part there; the rest keeps
    // the paragraph's style.
    void page_break() override {
        if (in_block_) return;
        if (!main_.empty()) {
            const ParagraphStyle style = main_.style;
            finish_main_paragraph();
            main_.style = style;
            main_.font = last_font_;
        }
        if (page_open_) break_after_ = true;
    }

    void note_call(int number, const CharStyle &style) override {
        Piece piece{Piece::NoteCall, {}, style};
        piece.note = number;
        open().pieces.push_back(std::move(piece));
    }

    void field(Field kind, const CharStyle &style) override {
        Piece piece{Piece::FieldMark, {}, style};
        piece.field = kind;
        open().pieces.push_back(std::move(piece));
    }

    void picture(const Picture &picture) override {
        if (in_block_ || !picture.drawable()) return;
        place_picture(picture);
    }

    void placement(const Placement &place) override { place_ = place; }

    void end_document() override {
        if (!cr_) page_setup(PageSetup{});
        if (!main_.empty()) finish_main_paragraph();
        if (!page_open_) open_page();
        close_page();
        cr_.reset();
        cairo_surface_finish(surface_.get());
        ok_ = end_.finish(producer()) && ok_;
        const cairo_status_t status = cairo_surface_status(surface_.get());
        if (status != CAIRO_STATUS_SUCCESS) std::fprintf(stderr, "cairo: %s\n", cairo_status_to_string(status));
        ok_ = ok_ && status == CAIRO_STATUS_SUCCESS;
        surface_.reset();
    }

private:
    static cairo_status_t write_out(void *closure, const unsigned char *data, unsigned int length) {
        auto *self = static_cast<PdfWriter *>(closure);
        self->ok_ = self->end_.write(std::string_view(reinterpret_cast<const char *>(data), length)) && self->ok_;
        return self->ok_ ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
    }

    std::string producer() const {
        return options_.generator + (options_.version.empty() ? "" : " " + options_.version) + " with cairo " +
               cairo_version_string();
    }


    double width() const { return page_.width * kPointsPerTwip; }
    double height() const { return page_.height * kPointsPerTwip; }
    double margin_left() const { return page_.left * kPointsPerTwip; }
    double margin_top() const { return page_.top * kPointsPerTwip; }
    double text_width() const { return page_.text_width() * kPointsPerTwip; }
    double bottom_limit() const { return height() - page_.bottom * kPointsPerTwip - footer_room(); }

    void set_metadata() {
        cairo_surface_t *s = surface_.get();
        cairo_pdf_surface_set_metadata(s, CAIRO_PDF_METADATA_TITLE, options_.title.c_str());
        const std::string creator = options_.generator + (options_.version.empty() ? "" : " " + options_.version);
        cairo_pdf_surface_set_metadata(s, CAIRO_PDF_METADATA_CREATOR, creator.c_str());
        // Without the Finder's date the PDF says none, rather than the time
        // of the conversion (cairo's own choice), so that the same input
        // always gives the same bytes.
        cairo_pdf_surface_set_metadata(s, CAIRO_PDF_METADATA_CREATE_DATE,
                                       options_.created ? iso_date(*options_.created).c_str() : "");
        if (options_.modified) cairo_pdf_surface_set_metadata(s, CAIRO_PDF_METADATA_MOD_DATE, iso_date(*options_.modified).c_str());
    }

    Paragraph &open() { return in_block_ ? block_paragraph_ : main_; }

    std::vector<Paragraph> &held() {
        if (block_ == Block::Header) return header_;
        if (block_ == Block::Footer) return footer_;
        return notes_[note_];
    }

    // A header or footer with nothing to show takes no room on the page.
    static bool shows(const std::vector<Paragraph> &block) {
        for (const Paragraph &p : block)
            if (!p.empty()) return true;
        return false;
    }

    bool has_furniture() const { return !(page_.title_page && page_number_ == 0); }
    double header_room() const {
        if (!has_furniture() || !shows(header_)) return 0;
        return page_.header_height > 0 ? page_.header_height * kPointsPerTwip : header_height_;
    }
    double footer_room() const {
        if (!has_furniture() || !shows(footer_)) return 0;
        return page_.footer_height > 0 ? page_.footer_height * kPointsPerTwip : footer_height_;
    }

    // ---- laying out ----

    // One layout of a paragraph's text from byte `from` on: the first piece
    // has the first-line indent; a later one starts at a line after the
    // first, `shift` layout units right of the paragraph's layout when the
    // first line hangs.
    Layout piece_layout(const Paragraph &p, const Assembled &a, size_t from, size_t to, double scale, double shift) {
        Layout layout(pango_layout_new(context_.get()));
        PangoLayout *l = layout.get();
        pango_layout_set_text(l, a.text.data() + from, static_cast<int>(to - from));
        PangoFontDescription *font = font_of(p.font);
        pango_layout_set_font_description(l, font);
        pango_font_description_free(font);
        PangoAttrList *attributes = pango_attr_list_copy(a.attributes);
        if (from > 0) pango_attr_list_update(attributes, 0, static_cast<int>(from), 0);
        pango_layout_set_attributes(l, attributes);
        pango_attr_list_unref(attributes);
        const double w = text_width() - (layout_left(p.style) + p.style.right_indent) * kPointsPerTwip;
        pango_layout_set_width(l, static_cast<int>((std::max(w, 36.0) / scale - shift) * PANGO_SCALE));
        pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
        if (from == 0) pango_layout_set_indent(l, static_cast<int>(p.style.first_indent * kPointsPerTwip / scale * PANGO_SCALE));
        pango_layout_set_alignment(l, p.style.align == Align::Centre  ? PANGO_ALIGN_CENTER
                                      : p.style.align == Align::Right ? PANGO_ALIGN_RIGHT
                                                                      : PANGO_ALIGN_LEFT);
        pango_layout_set_justify(l, p.style.align == Align::Justified);
        if (!p.style.tabs.empty() || !p.style.tab_positions.empty()) {
            PangoTabArray *tabs = tab_array(p.style, scale, shift);
            pango_layout_set_tabs(l, tabs);
            pango_tab_array_free(tabs);
        }
        return layout;
    }

    void add_lines(PangoLayout *l, const ParagraphStyle &style, double shift, int count, size_t from, Lines &out) {
        PangoLayoutIter *it = pango_layout_get_iter(l);
        for (int i = 0; i < count; ++i, pango_layout_iter_next_line(it)) {
            const PangoLayoutLine *line = pango_layout_iter_get_line_readonly(it);
            const size_t start = from + static_cast<size_t>(line->start_index), end = start + static_cast<size_t>(line->length);
            std::vector<int> notes;
            for (const auto &[at, note] : out.calls)
                if (at >= start && at < end) notes.push_back(note);
            PangoRectangle logical;
            pango_layout_iter_get_line_extents(it, nullptr, &logical);
            const double baseline = pango_layout_iter_get_baseline(it) / double(PANGO_SCALE);
            const double top = logical.y / double(PANGO_SCALE);
            double h = logical.height / double(PANGO_SCALE);
            if (style.line_height > 0) h = std::max(h, style.line_height * kPointsPerTwip);
            h = std::min(h * std::clamp<int>(style.interline, 8, kMostInterline) / 8.0, body_height());
            out.boxes.push_back({pango_layout_iter_get_line_readonly(it), std::move(notes), shift + logical.x / double(PANGO_SCALE),
                                 baseline - top, h});
        }
        pango_layout_iter_free(it);
    }

    // The Apple logo's face, for a paragraph that has the logo; looked for
    // the first time one has.
    const AppleLogo *logo_for(const Paragraph &p) {
        const bool wanted = std::any_of(p.pieces.begin(), p.pieces.end(), [](const Piece &piece) {
            return piece.kind == Piece::Text && piece.utf8.find(kAppleLogoUtf8) != std::string::npos;
        });
        if (!wanted) return nullptr;
        if (!logo_looked_) {
            logo_looked_ = true;
            logo_ = AppleLogo::find(pango_context_get_font_map(context_.get()));
        }
        if (logo_ != nullptr) logo_->attach(context_.get());
        return logo_.get();
    }

    // A paragraph's lines.  Pango shapes the rest of a paragraph again at
    // every line it breaks, so a long paragraph is laid out in pieces: the
    // lines of a piece but its last are kept, and the next piece starts
    // where that last line did.  Lines break first-fit, so the pieces give
    // the lines that the whole would.
    Lines lines_of(const Paragraph &p, const PageValues &values, double scale) {
        Assembled a;
        assemble(p, values, logo_for(p), a);
        Lines out;
        out.calls = std::move(a.calls);
        const double hang = p.style.first_indent < 0 ? -p.style.first_indent * kPointsPerTwip / scale : 0;
        size_t from = 0, piece = kPieceBytes;
        for (;;) {
            size_t to = std::min(a.text.size(), from + piece);
            while (to < a.text.size() && (static_cast<uint8_t>(a.text[to]) & 0xC0) == 0x80) --to;
            const double shift = from == 0 ? 0 : hang;
            Layout layout = piece_layout(p, a, from, to, scale, shift);
            const int n = pango_layout_get_line_count(layout.get());
            if (to == a.text.size() || n >= 2) {
                const bool last = to == a.text.size();
                add_lines(layout.get(), p.style, shift, last ? n : n - 1, from, out);
                if (!last) from += static_cast<size_t>(pango_layout_get_line_readonly(layout.get(), n - 1)->start_index);
                out.layouts.push_back(std::move(layout));
                if (last) return out;
                piece = kPieceBytes;
            } else {
                piece *= 2;  // one line longer than the piece
            }
        }
    }

    // The lines of a main-text paragraph: where the author's line count is
    // known and pango's differs, the substitute font is stretched or narrowed
    // by up to kWidthSteps * kWidthStep until the counts agree.
    Lines fitted_lines(const Paragraph &p, double &scale) {
        scale = 1;
        Lines lines = lines_of(p, values_, 1);
        if (!p.place || p.place->lines.empty()) return lines;
        const int want = static_cast<int>(p.place->lines.size());
        const int have = static_cast<int>(lines.boxes.size());
        if (have == want) return lines;
        const double direction = have > want ? -1 : 1;  // too many lines: narrow the text
        for (int step = 1; step <= kWidthSteps; ++step) {
            const double s = 1 + direction * step * kWidthStep;
            Lines trial = lines_of(p, values_, s);
            const int n = static_cast<int>(trial.boxes.size());
            if (n == want) {
                scale = s;
                return trial;
            }
            if ((n - want) * (have - want) < 0) break;  // passed it
        }
        return lines;
    }

    // ---- pages ----

    void open_page() {
        // Streams that do not say what the header and footer take (MacWrite
        // II's) give them the height of their lines.
        if (!measured_) {
            header_height_ = measure_block(header_);
            footer_height_ = measure_block(footer_);
            measured_ = true;
        }
        page_open_ = true;
        values_.number = page_.first_page + page_number_;
        y_ = margin_top() + header_room();
        if (has_furniture()) draw_block(header_, margin_top());
    }

    void close_page() {
        draw_page_notes();
        if (has_furniture()) draw_block(footer_, height() - page_.bottom * kPointsPerTwip - footer_room());
        cairo_show_page(cr_.get());
        page_open_ = false;
        ++page_number_;
        break_after_ = false;
    }

    void new_page() {
        if (!page_open_) open_page();
        close_page();
        open_page();
    }

    // Opens the page a paragraph or picture starts on and sets where.
    void start_at(const std::optional<Placement> &place) {
        if (!page_open_) open_page();
        if (break_after_) new_page();
        if (!place) return;
        // A paragraph starts at most one page after the one before ends: a
        // stream cannot ask for pages of nothing.
        if (page_number_ < place->page) new_page();
        if (page_number_ == place->page) y_ = std::max(y_, margin_top() + place->top);
    }

    // Draws a held block's paragraphs from `top` down; gives their height.
    // The lines of a header's or footer's paragraph on this page: laid out
    // once when it holds no field, which alone differs from page to page.
    const Lines &block_lines(const Paragraph &p, std::unique_ptr<Lines> &page_lines) {
        const bool fields = std::any_of(p.pieces.begin(), p.pieces.end(), [](const Piece &x) { return x.kind == Piece::FieldMark; });
        if (fields) {
            page_lines = std::make_unique<Lines>(lines_of(p, values_, 1));
            return *page_lines;
        }
        if (!p.laid) p.laid = std::make_shared<Lines>(lines_of(p, values_, 1));
        return *p.laid;
    }

    double draw_block(const std::vector<Paragraph> &block, double top) {
        double y = top;
        for (const Paragraph &p : block) {
            if (y > height()) break;  // what falls off the paper is not laid out on every page
            y += p.style.space_before * kPointsPerTwip;
            std::unique_ptr<Lines> page_lines;
            const Lines &lines = block_lines(p, page_lines);
            const double x = margin_left() + layout_left(p.style) * kPointsPerTwip;
            for (const LineBox &line : lines.boxes) {
                draw_line(line, x, y, 1);
                y += line.height;
            }
            y += p.style.space_after * kPointsPerTwip;
        }
        return y - top;
    }

    void draw_line(const LineBox &line, double x, double top, double scale) {
        cairo_t *cr = cr_.get();
        cairo_save(cr);
        cairo_translate(cr, x, top + line.ascent);
        cairo_scale(cr, scale, 1);
        cairo_move_to(cr, line.x, 0);
        pango_cairo_show_layout_line(cr, line.line);
        cairo_restore(cr);
    }


    void finish_main_paragraph() {
        Paragraph p = std::move(main_);
        main_ = {};
        p.place = std::move(place_);
        place_.reset();
        place_paragraph(p);
    }

    void place_paragraph(const Paragraph &p) {
        start_at(p.place);
        double scale = 1;
        Lines laid = fitted_lines(p, scale);
        std::vector<LineBox> &lines = laid.boxes;
        const bool stored = p.place && p.place->lines.size() == lines.size();
        if (stored)
            for (size_t i = 0; i < lines.size(); ++i) lines[i].height = p.place->lines[i];
        y_ += std::min(p.style.space_before * kPointsPerTwip, body_height());
        const double x = margin_left() + layout_left(p.style) * kPointsPerTwip;
        // A first line that the author's Mac put on this page stays, though
        // it reach a few points into the bottom margin.
        bool kept = p.place && p.place->page == page_number_;
        cairo_tag_begin(cr_.get(), "P", nullptr);
        for (const LineBox &line : lines) {
            // A line that calls a note needs the note's room below on its page.
            double notes = 0;
            for (const int n : line.notes) notes += note_height(n);
            const bool fits = y_ + line.height <= (kept ? height() : bottom_limit() - notes_room_ - notes);
            kept = false;
            if (!fits && y_ > body_top() + 0.5) {
                cairo_tag_end(cr_.get(), "P");
                new_page();
                cairo_tag_begin(cr_.get(), "P", nullptr);
            }
            draw_line(line, x, y_, scale);
            y_ += line.height;
            for (const int n : line.notes) queue_note(n);
        }
        cairo_tag_end(cr_.get(), "P");
        y_ += std::min(p.style.space_after * kPointsPerTwip, body_height());
    }

    double body_top() const { return margin_top() + header_room(); }
    // No line or space is taller than the page's room for text.
    double body_height() const { return std::max(bottom_limit() - body_top(), 12.0); }

    void place_picture(const Picture &picture) {
        start_at(place_);
        place_.reset();
        const double w = picture.box_width > 0 ? picture.box_width : picture.width;
        const double h = picture.box_height > 0 ? picture.box_height : picture.height;
        if (y_ + h > bottom_limit() - notes_room_ && y_ > body_top() + 0.5) new_page();
        const double x = margin_left() + (picture.box_width > 0 ? picture.left : 0);
        cairo_tag_begin(cr_.get(), "Figure", nullptr);
        draw_picture(cr_.get(), picture, x, y_, w, h);
        cairo_tag_end(cr_.get(), "Figure");
        y_ += h;
    }

    // ---- notes ----

    double note_height(int number) {
        const auto it = notes_.find(number);
        return it == notes_.end() ? 0 : measure_block(it->second);
    }

    void queue_note(int number) {
        if (notes_.find(number) == notes_.end()) return;
        notes_room_ += note_height(number);
        page_notes_.push_back(number);
    }

    double measure_block(const std::vector<Paragraph> &block) {
        double h = 0;
        for (const Paragraph &p : block) {
            for (const LineBox &line : lines_of(p, values_, 1).boxes) h += line.height;
            h += (p.style.space_before + p.style.space_after) * kPointsPerTwip;
        }
        return h;
    }

    void draw_page_notes() {
        if (page_notes_.empty()) return;
        double y = bottom_limit() - notes_room_;
        cairo_tag_begin(cr_.get(), "Note", nullptr);
        for (const int n : page_notes_) {
            y += draw_block(notes_[n], y);
            notes_.erase(n);
        }
        cairo_tag_end(cr_.get(), "Note");
        page_notes_.clear();
        notes_room_ = 0;
    }

    std::FILE *out_;
    const RenderOptions &options_;
    bool ok_ = true;
    FileEnd end_{out_};
    PageSetup page_;
    Surface surface_;
    Cairo cr_;
    Context context_;
    std::unique_ptr<AppleLogo> logo_;
    bool logo_looked_ = false;
    PageValues values_;

    bool in_block_ = false;
    Block block_ = Block::Header;
    int note_ = 0;
    Paragraph main_, block_paragraph_;
    CharStyle last_font_;
    std::vector<Paragraph> header_, footer_;
    std::map<int, std::vector<Paragraph>> notes_;
    double header_height_ = 0, footer_height_ = 0;
    bool measured_ = false;
    std::optional<Placement> place_;

    bool page_open_ = false, break_after_ = false;
    int page_number_ = 0;  // counted from 0
    double y_ = 0;
    std::vector<int> page_notes_;
    double notes_room_ = 0;
};

bool to_pdf(std::FILE *stream, std::FILE *out, const RenderOptions &options) {
    PdfWriter writer(out, options);
    read_styled(stream, writer);
    return writer.ok() && std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace render
