// The MacWrite 4.6/5 export: one pass over the internal stream, decoding each
// event into text, format runs, page breaks and rulers.
#include <algorithm>
#include <array>

#include "catalogue/boundary.h"
#include "host/stream_codes.h"
#include "host/stream_reader.h"
#include "macwrite5/export_state.h"

namespace macwrite5 {

namespace {

using kavrel::stream::Event;
using kavrel::stream::EventKind;
namespace code = kavrel::code;

constexpr uint8_t kMacNonBreakingSpace = 0xCA;
constexpr uint8_t kSymbolFont = 23, kSelector2Font = 237;
// The printable page's width in twips that the opening's print record gives.
constexpr int32_t kDefaultTextWidth = 576 * 20;

// What the stream asked of the paragraphs' alignment, for a ruler that waits
// for the end of the open paragraph.
enum class PendingRuler { None, Left, Centred };

// A header or footer block of the stream.  Until it holds something to
// show (a character, a tab, a field) it writes nothing: a block of blank
// paragraphs leaves the document's empty header or footer as it is.
struct Block {
    AreaIndex area = kMainArea;   // kMainArea: no block is open
    bool shown = false;
    int blank_paragraphs = 0;     // returns before anything was shown
};

struct Exporter {
    ExportState s;
    PendingRuler pending = PendingRuler::None;
    Block block;
    bool stream_centred = false;                  // what the stream says
    std::array<RulerGeometry, 3> written{};       // what each area's last ruler says
    int open_notes = 0;                           // whose block-end tags are theirs

    void mark_font(uint8_t font) {
        if (s.ca.special_font == font) return;
        s.ca.special_font = font;
        s.ca.changed = 1;
    }

    void set_style(uint8_t bit, bool on) {
        s.ca.style = static_cast<uint8_t>(on ? s.ca.style | bit : s.ca.style & ~bit);
        s.ca.changed = 1;
    }

    // A plain byte below 0x80 is the same in Mac OS Roman; a letter or more
    // ends a special font, while spaces, digits and punctuation keep it.
    void plain_char(uint8_t c) {
        if (c >= 0x41) mark_font(0);
        write_text_char(s, c, true);
    }

    // A character through the export tables, which also choose its font.  The
    // base set has its table too: its upper half is ISO 8859-1, not Mac bytes.
    void table_char(uint16_t ch) {
        const uint16_t v = s.font_tables[((ch >> 8) - 1) & 0xFF][ch & 0xFF];
        switch (v >> 8) {
        case 0: mark_font(0); break;
        case 1: mark_font(kSymbolFont); break;
        case 2: mark_font(kSelector2Font); break;
        default: break;
        }
        if ((v & 0xFF) == 0) {
            if (s.ca.changed) write_format_run(s);
            return;
        }
        write_text_char(s, static_cast<uint8_t>(v & 0xFF), true);
    }

    void on_char(const Event &ev) {
        if (ev.code == code::kBackslash)
            write_text_char(s, code::kEscape, true);
        else if (ev.code == 0 && ev.ch < 0x80)
            plain_char(static_cast<uint8_t>(ev.ch));
        else
            table_char(ev.ch);
    }

    void ruler(bool centred) {
        write_ruler(s, centred);
        written[s.area] = s.ruler;
        written[s.area].centred = centred;
    }

    RulerGeometry wanted() const {
        RulerGeometry g = s.ruler;
        g.centred = stream_centred;
        return g;
    }

    // A ruler stands in place of a paragraph that has no text yet; after text
    // it follows the paragraph.
    void alignment(PendingRuler want) {
        if (s.paragraph_chars == 0) {
            ruler(want == PendingRuler::Centred);
            pending = PendingRuler::None;
        } else {
            pending = want;
        }
    }

    void paragraph_end() {
        end_paragraph(s, false);
        if (pending == PendingRuler::None) return;
        ruler(pending == PendingRuler::Centred);
        pending = PendingRuler::None;
    }

    // Whether what comes now is written: always in the main text, in a block
    // once it shows something.
    bool writing() const { return block.area == kMainArea || block.shown; }

    // The alignment that the stream says goes on in an area that begins or
    // resumes, whose last ruler may say otherwise.
    void resume_alignment() {
        if (!(written[s.area] == wanted())) alignment(stream_centred ? PendingRuler::Centred : PendingRuler::Left);
    }

    // Something to show in a block: the block becomes its area, taking over
    // the open paragraph (a main paragraph with text is closed first), with
    // the blank paragraphs it held so far.
    void show() {
        if (block.area == kMainArea || block.shown) return;
        block.shown = true;
        if (s.paragraph_chars != 0) paragraph_end();
        s.area = block.area;
        resume_alignment();
        for (; block.blank_paragraphs > 0; --block.blank_paragraphs) end_paragraph(s, false);
    }

    void open_block(AreaIndex area) {
        if (block.area != kMainArea) close_block();
        block = Block{area};
    }

    void close_block() {
        if (block.shown) {
            if (s.paragraph_chars != 0) end_paragraph(s, false);
            pending = PendingRuler::None;
            s.area = kMainArea;
        }
        block = Block{};
        resume_alignment();
    }

    void block_end() {
        if (open_notes > 0)
            --open_notes;
        else if (block.area != kMainArea)
            close_block();
    }

    void set_alignment(bool centred) {
        stream_centred = centred;
        if (writing()) alignment(centred ? PendingRuler::Centred : PendingRuler::Left);
    }

    // Margins, first line and spacing go into the next ruler, which the
    // paragraph to come gets when they change what its area's ruler says.
    void set_geometry(const Event &ev) {
        const int32_t twips = static_cast<int16_t>(ev.param[0] << 8 | ev.param[1]);
        const int32_t text_width = s.page_said ? s.page.width - s.page.left - s.page.right : kDefaultTextWidth;
        switch (ev.code) {
        case code::kLeftIndent:
            s.ruler.first = static_cast<int16_t>(s.ruler.first - s.ruler.left + twips_to_points(twips));
            s.ruler.left = twips_to_points(twips);
            break;
        case code::kRightIndent: s.ruler.right = twips_to_points(text_width - twips); break;
        case code::kFirstIndent: s.ruler.first = static_cast<int16_t>(s.ruler.left + twips_to_points(twips)); break;
        default: return;  // spacing and line heights MacWrite works out itself
        }
        if (writing()) resume_alignment();
    }

    // Single, one and a half, double.
    void set_spacing(uint8_t interline) {
        s.ruler.spacing = interline <= 8 ? kSingle : interline <= 12 ? kOneAndHalf : kDouble;
        if (writing()) resume_alignment();
    }

    // MacWrite keeps fields in headers and footers only.
    void field(uint8_t kind) {
        if (block.area == kMainArea || kind < code::kFieldPageNumber || kind > code::kFieldTime) return;
        show();
        place_field(s, kind);
    }

    void on_tag(const Event &ev) {
        switch (ev.code) {
        case code::kBoldOn: set_style(KAVREL_BOLD, true); break;
        case code::kBoldOff: case code::kBoldOff2: set_style(KAVREL_BOLD, false); break;
        case code::kUnderlineOn: set_style(KAVREL_UNDERLINE, true); break;
        case code::kUnderlineOff: case code::kUnderlineOff2: set_style(KAVREL_UNDERLINE, false); break;
        case code::kSubscriptOn: set_style(KAVREL_SUBSCRIPT, true); break;
        case code::kSubscriptOff: set_style(KAVREL_SUBSCRIPT, false); break;
        case code::kSuperscriptOn: set_style(KAVREL_SUPERSCRIPT, true); break;
        case code::kSuperscriptOff: set_style(KAVREL_SUPERSCRIPT, false); break;
        case code::kItalicOn: set_style(KAVREL_ITALIC, true); break;
        case code::kItalicOff: set_style(KAVREL_ITALIC, false); break;
        case code::kBoldOn2:
            if (!(s.ca.style & KAVREL_BOLD)) set_style(KAVREL_BOLD, true);
            break;
        case code::kUnderlineOn2:
            if (!(s.ca.style & KAVREL_UNDERLINE)) set_style(KAVREL_UNDERLINE, true);
            break;
        case code::kCentre: set_alignment(true); break;
        case code::kLeft: set_alignment(false); break;
        case code::kNonBreakingSpace:
            show();
            write_text_char(s, kMacNonBreakingSpace, false);
            break;
        case code::kNoteCall:
            traitement_note(s.out);
            ++open_notes;
            break;
        case code::kBlockEnd: block_end(); break;
        case code::kField: field(ev.param[0]); break;
        case code::kInterline: set_spacing(ev.param[0]); break;
        default:
            if (ev.code >= code::kFirstGeometryCode && ev.code <= code::kLastGeometryCode) return set_geometry(ev);
            if (ev.code >= 0x9C && ev.code <= 0xA1) traitement_insert(ev.code, s.out);
            if (ev.code == code::kHeaderBlock) open_block(kHeaderArea);
            if (ev.code == code::kFooterBlock) open_block(kFooterArea);
            break;
        }
    }

    // A picture becomes a picture paragraph of its own; other inserts are
    // passed over.
    void on_insert(const Event &ev) {
        const std::string &body = ev.insert;
        if (render_page(body)) return;
        if (body.size() <= code::kInsertKindSize + code::kPictureRectSize ||
            body.compare(0, code::kInsertKindSize, code::kPictureInsert, code::kInsertKindSize) != 0)
            return;
        if (s.paragraph_chars != 0) end_paragraph(s, false);
        const auto *data = reinterpret_cast<const uint8_t *>(body.data()) + code::kInsertKindSize;
        write_picture(s, data, body.size() - code::kInsertKindSize);
    }

    // The page insert: the print record's page and paper, written at the end.
    bool render_page(const std::string &body) {
        const size_t size = code::kInsertKindSize + 2 * code::kPageInsertWords;
        if (body.size() < size || body.compare(0, code::kInsertKindSize, code::kPageInsert, code::kInsertKindSize) != 0)
            return false;
        const auto *p = reinterpret_cast<const uint8_t *>(body.data()) + code::kInsertKindSize;
        const auto word = [p](int i) { return static_cast<uint16_t>(p[2 * i] << 8 | p[2 * i + 1]); };
        s.page = {word(0), word(1), word(2), word(3), word(4), word(5), static_cast<int16_t>(word(6)),
                  (word(7) & code::kPageTitle) != 0, word(8), word(9), 0, 0};
        s.page_said = s.page.width > s.page.left + s.page.right && s.page.height > s.page.top + s.page.bottom;
        return true;
    }

    void on_event(const Event &ev) {
        switch (ev.kind) {
        case EventKind::Char:
            show();
            on_char(ev);
            break;
        case EventKind::LineEnd:
            show();
            plain_char(' ');
            break;
        case EventKind::Tab:
            show();
            plain_char(code::kTab);
            break;
        case EventKind::ParagraphEnd:
            if (writing())
                paragraph_end();
            else
                ++block.blank_paragraphs;
            break;
        case EventKind::PageBreak:
            if (block.area != kMainArea) break;  // a header or footer has no pages of its own
            if (s.paragraph_chars != 0) end_paragraph(s, false);
            write_page_break(s);
            break;
        case EventKind::Tag: on_tag(ev); break;
        case EventKind::Insert: on_insert(ev); break;
        default: break;
        }
    }

    // Plain bytes of the base set, as their Char events would go: stretches
    // of ASCII that change nothing at once, the others one by one.
    void on_plain(std::span<const uint8_t> bytes) {
        show();
        for (size_t i = 0; i < bytes.size() && s.refusal == kConverted;) {
            if (const size_t n = write_ascii_text(s, bytes.data() + i, bytes.size() - i)) {
                i += n;
                continue;
            }
            if (bytes[i] < 0x80)
                plain_char(bytes[i]);
            else
                table_char(bytes[i]);
            ++i;
        }
    }

    int32_t run(std::FILE *input) {
        kavrel::stream::Reader reader(input);
        Event ev;
        for (;;) {
            if (const auto plain = reader.plain_run(); !plain.empty())
                on_plain(plain);
            else if (reader.next(ev))
                on_event(ev);
            else
                break;
            if (s.refusal != kConverted) return s.refusal;
        }
        if (block.shown) {  // a block the stream left open ends with it
            if (s.paragraph_chars != 0) end_paragraph(s, false);
            s.area = kMainArea;
        }
        if (s.paragraph_chars != 0) end_paragraph(s, true);
        if (s.refusal == kConverted) write_trailer(s);
        return s.refusal;
    }
};

}  // namespace

int32_t export_document(std::FILE *input, std::FILE *output) {
    Exporter e;
    ExportState &s = e.s;
    if (init_format(input, &s.ca, &s.pf, &s.tc) == -2) return kInitRefused;
    s.out = output;
    s.font_tables = chargement_dpolice(2);
    for (AreaEntries &area : s.areas) area.entry_file = sec_fopen("PAR.###", "w+b");
    s.areas[kHeaderArea].stacked = s.areas[kFooterArea].stacked = true;
    write_opening(s);
    return e.run(input);
}

}  // namespace macwrite5

extern "C" int32_t export_macwrite_5(FILE *input, FILE *output) {
    return macwrite::at_boundary([&] { return macwrite5::export_document(input, output); });
}
