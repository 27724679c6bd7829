#include "render/styled.h"

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "host/kavrel.h"
#include "host/stream_codes.h"
#include "host/stream_reader.h"
#include "pict/pict.h"
#include "render/stored_pages.h"

namespace render {

namespace {

using kavrel::stream::Event;
using kavrel::stream::EventKind;
namespace code = kavrel::code;

// Characters are handed on in runs of at most this many, so a paragraph of
// any length costs no more memory than this.
constexpr size_t kRunLimit = 4096;

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kNoBreakSpace = 0xA0;

TabAlign tab_align(uint8_t kind) {
    switch (kind) {
    case KAVREL_TAB_CENTRED: return TabAlign::Centre;
    case KAVREL_TAB_RIGHT: return TabAlign::Right;
    case KAVREL_TAB_DECIMAL: return TabAlign::Decimal;
    default: return TabAlign::Left;
    }
}

struct Toggle {
    uint8_t on, off;
    Attribute attribute;
};

constexpr Toggle kToggles[] = {
    {code::kBoldOn, code::kBoldOff, kBold},
    {code::kBoldOn2, code::kBoldOff2, kBold},
    {code::kItalicOn, code::kItalicOff, kItalic},
    {code::kUnderlineOn, code::kUnderlineOff, kUnderline},
    {code::kUnderlineOn2, code::kUnderlineOff2, kUnderline},
    {code::kDoubleUnderlineOn, code::kDoubleUnderlineOff, kDoubleUnderline},
    {code::kStrikeoutOn, code::kStrikeoutOff, kStrikeout},
    {code::kOutlineOn, code::kOutlineOff, kOutline},
    {code::kShadowOn, code::kShadowOff, kShadow},
    {code::kSuperscriptOn, code::kSuperscriptOff, kSuperscript},
    {code::kSubscriptOn, code::kSubscriptOff, kSubscript},
    {code::kSmallCapsOn, code::kSmallCapsOff, kSmallCaps},
    {code::kAllCapsOn, code::kAllCapsOff, kAllCaps},
};

class StyledReader {
public:
    explicit StyledReader(StyledListener &listener) : out_(listener) {}

    void on_event(const Event &ev) {
        if (!page_given_) {
            PageSetup page;
            if (ev.kind == EventKind::Insert && page_of(ev.insert, page)) return give_page(page);
            give_page(page);
        }
        switch (ev.kind) {
        case EventKind::Char: add_char(ev.ch); break;
        case EventKind::ParagraphEnd:
            open_paragraph();
            close_paragraph();
            break;
        case EventKind::LineEnd: content().line_end(style_); break;
        case EventKind::Tab: content().tab(style_); break;
        case EventKind::PageBreak:
            flush_run();
            out_.page_break();
            break;
        case EventKind::Tag: on_tag(ev); break;
        case EventKind::Insert: add_insert(ev.insert); break;
        default: break;
        }
    }

    // Characters of the base set, read as a run: as many Char events would
    // do, in one go.
    void add_plain(std::span<const uint8_t> plain) {
        const uint8_t *bytes = plain.data();
        size_t n = plain.size();
        if (!page_given_) give_page(PageSetup{});
        open_paragraph();
        if (!run_.empty() && !(run_style_ == style_)) flush_run();
        while (n > 0) {
            if (run_.empty()) run_style_ = style_;
            const size_t take = n < kRunLimit - run_.size() ? n : kRunLimit - run_.size();
            const size_t at = run_.size();
            run_.resize(at + take);
            char16_t *const to = run_.data() + at;
            for (size_t i = 0; i < take; ++i) to[i] = bytes[i];
            bytes += take;
            n -= take;
            if (run_.size() >= kRunLimit) flush_run();
        }
    }

    void finish() {
        if (!page_given_) give_page(PageSetup{});
        close_block();
        close_paragraph();
        out_.end_document();
    }

private:
    enum class Where { Main, Header, Footer, Note };

    void give_page(const PageSetup &page) {
        page_given_ = true;
        out_.page_setup(page);
    }

    void set_geometry(const Event &ev) {
        const int v = static_cast<int16_t>(ev.param[0] << 8 | ev.param[1]);
        switch (ev.code) {
        case code::kLeftIndent: paragraph_.left_indent = v; break;
        case code::kRightIndent: paragraph_.right_indent = v; break;
        case code::kFirstIndent: paragraph_.first_indent = v; break;
        case code::kSpaceBefore: paragraph_.space_before = v < 0 ? 0 : v; break;
        case code::kSpaceAfter: paragraph_.space_after = v < 0 ? 0 : v; break;
        default: paragraph_.line_height = v < 0 ? 0 : v; break;
        }
    }

    void on_tag(const Event &ev) {
        if (toggle(ev.code)) return;
        if (ev.code >= code::kFirstGeometryCode && ev.code <= code::kLastGeometryCode) return set_geometry(ev);
        switch (ev.code) {
        case code::kCentre: paragraph_.align = Align::Centre; break;
        case code::kLeft: paragraph_.align = Align::Left; break;
        case code::kJustify: paragraph_.align = Align::Justified; break;
        case code::kRight: paragraph_.align = Align::Right; break;
        case code::kInterline: paragraph_.interline = ev.param[0]; break;
        case code::kSize: style_.size = ev.param[0]; break;
        case code::kFont:
            style_.font = ev.param[0] << 8 | ev.param[1];
            style_.face = face_of(style_.font);
            break;
        case code::kTextColour:
            if (ev.param[1] <= static_cast<uint8_t>(Colour::Yellow)) style_.colour = static_cast<Colour>(ev.param[1]);
            break;
        case code::kColumnBreak: content().column_break(style_); break;
        case code::kLineBreak: content().line_break(style_); break;
        case code::kTabSet: set_tab(ev.param[1], ev.param[0]); break;
        case code::kTabClear: set_tab(ev.param[1], 0); break;
        case code::kNonBreakingSpace: add_char(kNoBreakSpace); break;
        case code::kField: add_field(ev.param[0]); break;
        case code::kHeaderBlock: begin_block(Where::Header, Block::Header); break;
        case code::kFooterBlock: begin_block(Where::Footer, Block::Footer); break;
        case code::kNoteCall: call_note(); break;
        case code::kBlockEnd: close_block(); break;
        default: break;
        }
    }

    bool toggle(uint8_t c) {
        for (const Toggle &t : kToggles) {
            if (c == t.on) style_.attributes |= t.attribute;
            else if (c == t.off) style_.attributes &= static_cast<uint16_t>(~t.attribute);
            else continue;
            return true;
        }
        return false;
    }

    void set_tab(uint8_t column, uint8_t kind) {
        if (column == 0) return;
        tab_kinds_[column] = kind;
        tabs_changed_ = true;
        tab_positions_.clear();  // stale until a TABS insert says them again
    }

    bool &paragraph_open() { return where_ == Where::Main ? main_paragraph_ : block_paragraph_; }

    void open_paragraph() {
        if (paragraph_open()) return;
        if (tabs_changed_) {
            paragraph_.tabs.clear();
            for (int c = 1; c < 256; ++c)
                if (tab_kinds_[c] != 0)
                    paragraph_.tabs.push_back({static_cast<uint8_t>(c), tab_align(tab_kinds_[c])});
            paragraph_.tab_positions = tab_positions_;
            tabs_changed_ = false;
        }
        out_.begin_paragraph(paragraph_);
        paragraph_open() = true;
    }

    void close_paragraph() {
        flush_run();
        if (!paragraph_open()) return;
        out_.end_paragraph();
        paragraph_open() = false;
    }

    // The listener, once the paragraph that receives a non-character event
    // is open and the characters before it are handed on.
    StyledListener &content() {
        open_paragraph();
        flush_run();
        return out_;
    }

    void add_char(uint16_t ch) {
        // Control characters other than the stream's own carry no text.
        if (ch < 0x20 || ch == 0x7F) return;
        if (ch >= 0xD800 && ch <= 0xDFFF) ch = kReplacement;
        open_paragraph();
        if (!run_.empty() && !(run_style_ == style_)) flush_run();
        if (run_.empty()) run_style_ = style_;
        run_.push_back(static_cast<char16_t>(ch));
        if (run_.size() >= kRunLimit) flush_run();
    }

    void flush_run() {
        if (run_.empty()) return;
        out_.text(run_, run_style_);
        run_.clear();
    }

    void add_field(uint8_t kind) {
        if (kind < code::kFieldPageNumber || kind > code::kFieldTime) return;  // kinds to come
        content().field(static_cast<Field>(kind), style_);
    }

    void add_insert(const std::string &insert) {
        if (name_font(insert)) return;
        if (tabs_of(insert, tab_positions_)) {
            tabs_changed_ = true;
            return;
        }
        Placement place;
        if (!placement_of(insert, place)) return add_picture(insert);
        if (where_ != Where::Main) return;
        close_paragraph();
        out_.placement(place);
    }

    void add_picture(const std::string &insert) {
        Picture p;
        if (!picture_of(insert, p)) return;
        p.number = ++pictures_;
        flush_run();
        out_.picture(p);
    }

    // A family named by the document for a font number: it stands for the
    // Mac's own name of that number from here on.  Names that no output
    // could quote as they are (not printable ASCII) are left out.
    bool name_font(const std::string &insert) {
        const size_t head = code::kInsertKindSize + 2;
        if (insert.size() <= head || insert.compare(0, code::kInsertKindSize, code::kFontInsert, code::kInsertKindSize) != 0)
            return false;
        const std::string family = insert.substr(head);
        for (const char c : family)
            if (c < 0x20 || c > 0x7E || c == '"' || c == '<' || c == '>' || c == '&' || c == '\\' || c == ';' || c == '{' || c == '}')
                return true;
        const int number = static_cast<uint8_t>(insert[4]) << 8 | static_cast<uint8_t>(insert[5]);
        families_.push_back(family);
        const FontFace *known = font_face(number);
        named_[number] = FontFace{static_cast<uint16_t>(number), families_.back(), known ? known->generic : Generic::Serif};
        return true;
    }

    const FontFace *face_of(int number) const {
        const auto named = named_.find(number);
        return named != named_.end() ? &named->second : font_face(number);
    }

    // Header and footer blocks stand between paragraphs: one that starts
    // inside a paragraph of the main text ends it.
    void begin_block(Where where, Block kind) {
        close_block();
        close_paragraph();
        where_ = where;
        out_.begin_block(kind, 0);
    }

    // Notes are called from the main text only; a call inside a block is
    // dropped and its text read as the block's.
    void call_note() {
        if (where_ != Where::Main) return;
        content().note_call(++notes_, style_);
        where_ = Where::Note;
        out_.begin_block(Block::Note, notes_);
    }

    void close_block() {
        if (where_ == Where::Main) return;
        close_paragraph();
        out_.end_block();
        where_ = Where::Main;
    }

    StyledListener &out_;
    // Families the document names, kept for the whole reading: styles point
    // at them.
    std::deque<std::string> families_;
    std::map<int, FontFace> named_;
    CharStyle style_;
    ParagraphStyle paragraph_;
    uint8_t tab_kinds_[256] = {};
    std::vector<TabPosition> tab_positions_;
    bool tabs_changed_ = false;
    Where where_ = Where::Main;
    bool main_paragraph_ = false, block_paragraph_ = false;
    int notes_ = 0;
    int pictures_ = 0;
    bool page_given_ = false;
    std::u16string run_;
    CharStyle run_style_;
};

}  // namespace

void read_styled(std::FILE *stream, StyledListener &listener) {
    std::unique_ptr<StyledListener> pages;
    if (listener.follows_stored_pages()) pages = following_stored_pages(listener);
    StyledReader reader(pages ? *pages : listener);
    kavrel::stream::Reader events(stream);
    Event ev;
    for (;;) {
        if (const auto plain = events.plain_run(); !plain.empty()) {
            reader.add_plain(plain);
            continue;
        }
        if (!events.next(ev)) break;
        reader.on_event(ev);
    }
    reader.finish();
}

bool picture_of(std::string_view insert, Picture &out) {
    const size_t head = code::kInsertKindSize + code::kPictureRectSize;
    if (insert.size() <= head || insert.substr(0, code::kInsertKindSize) != std::string_view(code::kPictureInsert, 4))
        return false;
    out.pict = insert.substr(head);
    const auto *rect = reinterpret_cast<const uint8_t *>(insert.data()) + code::kInsertKindSize;
    const auto word = [rect](int i) { return static_cast<int16_t>(rect[2 * i] << 8 | rect[2 * i + 1]); };
    out.left = word(1);
    out.box_width = word(3) - word(1);
    out.box_height = word(2) - word(0);
    const auto *bytes = reinterpret_cast<const uint8_t *>(out.pict.data());
    const pict::Rect frame = pict::frame_of(bytes, out.pict.size());
    out.width = frame.width();
    out.height = frame.height();
    return true;
}

bool tabs_of(std::string_view insert, std::vector<TabPosition> &out) {
    if (insert.size() < code::kInsertKindSize || insert.substr(0, code::kInsertKindSize) != std::string_view(code::kTabsInsert, 4))
        return false;
    const auto *p = reinterpret_cast<const uint8_t *>(insert.data());
    out.clear();
    for (size_t i = code::kInsertKindSize; i + 1 < insert.size(); i += 2) {
        const auto word = static_cast<uint16_t>(p[i] << 8 | p[i + 1]);
        out.push_back({word & ~code::kTabsDecimal, (word & code::kTabsDecimal) != 0});
    }
    return true;
}

bool placement_of(std::string_view insert, Placement &out) {
    const size_t head = code::kInsertKindSize + code::kLaidHeadSize;
    if (insert.size() < head || insert.substr(0, code::kInsertKindSize) != std::string_view(code::kLaidInsert, 4))
        return false;
    const auto *p = reinterpret_cast<const uint8_t *>(insert.data()) + code::kInsertKindSize;
    out.page = p[0] << 8 | p[1];
    out.top = static_cast<int16_t>(p[2] << 8 | p[3]);
    out.lines.assign(p + code::kLaidHeadSize, p + (insert.size() - code::kInsertKindSize));
    return true;
}

bool page_of(std::string_view insert, PageSetup &out) {
    const size_t size = code::kInsertKindSize + 2 * code::kPageInsertWords;
    if (insert.size() < size || insert.substr(0, code::kInsertKindSize) != std::string_view(code::kPageInsert, 4))
        return false;
    const auto *p = reinterpret_cast<const uint8_t *>(insert.data()) + code::kInsertKindSize;
    uint16_t w[code::kPageInsertWords];
    for (int i = 0; i < code::kPageInsertWords; ++i) w[i] = static_cast<uint16_t>(p[2 * i] << 8 | p[2 * i + 1]);
    // A text block narrower or shorter than an inch is no page to lay out.
    if (w[0] < w[3] + w[5] + kTwipsPerInch || w[1] < w[2] + w[4] + kTwipsPerInch) return false;
    out = {w[0], w[1], w[2], w[3], w[4], w[5], static_cast<int16_t>(w[6]), (w[7] & code::kPageTitle) != 0, true,
           w[8], w[9], 1, 0};
    if (insert.size() >= code::kInsertKindSize + 2 * code::kPageInsertColumnWords) {
        const int columns = p[20] << 8 | p[21], gap = p[22] << 8 | p[23];
        // Columns narrower than an inch are no columns to lay out.
        if (columns > 1 && columns <= 10 && (out.text_width() - gap * (columns - 1)) / columns >= kTwipsPerInch) {
            out.columns = columns;
            out.column_gap = gap;
        }
    }
    return true;
}

std::string Picture::svg() const { return pict::to_svg(reinterpret_cast<const uint8_t *>(pict.data()), pict.size()); }

std::string Picture::png() const { return pict::to_png(reinterpret_cast<const uint8_t *>(pict.data()), pict.size()); }

std::string_view colour_hex(Colour c) {
    static constexpr std::string_view kHex[] = {"000000", "FFFFFF", "FF0000", "00FF00", "0000FF", "00FFFF", "FF00FF", "FFFF00"};
    return kHex[static_cast<size_t>(c) & 7];
}

std::string picture_placeholder(int number) { return "[picture " + std::to_string(number) + "]"; }

std::u16string_view field_placeholder(Field kind) {
    switch (kind) {
    case Field::Date: return u"<date>";
    case Field::Time: return u"<time>";
    default: return u"#";
    }
}

}  // namespace render
