// The MacWrite 4.6/5 export: one pass over the internal stream, decoding each
// event into text, format runs, page breaks and rulers.
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

// What the stream asked of the paragraphs' alignment, for a ruler that waits
// for the end of the open paragraph.
enum class PendingRuler { None, Left, Centred };

struct Exporter {
    ExportState s;
    PendingRuler pending = PendingRuler::None;

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

    // A ruler stands in place of a paragraph that has no text yet; after text
    // it follows the paragraph.
    void alignment(PendingRuler want) {
        if (s.paragraph_chars == 0) {
            write_ruler(s, want == PendingRuler::Centred);
            pending = PendingRuler::None;
        } else {
            pending = want;
        }
    }

    void paragraph_end() {
        end_paragraph(s, false);
        if (pending == PendingRuler::None) return;
        write_ruler(s, pending == PendingRuler::Centred);
        pending = PendingRuler::None;
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
        case code::kCentre: alignment(PendingRuler::Centred); break;
        case code::kLeft: alignment(PendingRuler::Left); break;
        case code::kNonBreakingSpace: write_text_char(s, kMacNonBreakingSpace, false); break;
        case code::kNoteCall: traitement_note(s.out); break;
        default:
            if (ev.code >= 0x9C && ev.code <= 0xA1) traitement_insert(ev.code, s.out);
            break;
        }
    }

    void on_event(const Event &ev) {
        switch (ev.kind) {
        case EventKind::Char: on_char(ev); break;
        case EventKind::LineEnd: plain_char(' '); break;
        case EventKind::Tab: plain_char(code::kTab); break;
        case EventKind::ParagraphEnd: paragraph_end(); break;
        case EventKind::PageBreak:
            if (s.paragraph_chars != 0) end_paragraph(s, false);
            write_page_break(s);
            break;
        case EventKind::Tag: on_tag(ev); break;
        default: break;  // an insert's body is consumed by the reader
        }
    }

    int32_t run(std::FILE *input) {
        kavrel::stream::Reader reader(input);
        Event ev;
        while (reader.next(ev)) {
            on_event(ev);
            if (s.refusal != kConverted) return s.refusal;
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
    s.entry_file = sec_fopen("PAR.###", "w+b");
    s.run_file = sec_fopen("ATT.###", "w+b");
    write_opening(s);
    return e.run(input);
}

}  // namespace macwrite5

extern "C" int32_t export_macwrite_5(FILE *input, FILE *output) {
    return macwrite::at_boundary([&] { return macwrite5::export_document(input, output); });
}
