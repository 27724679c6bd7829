#include <string>

#include "host/stream_codes.h"
#include "host/stream_reader.h"
#include "render/render.h"
#include "render/utf8.h"

namespace render {

namespace {

using kavrel::stream::Event;
using kavrel::stream::EventKind;
namespace code = kavrel::code;

enum class Flow { Main, Header, Footer, Note };

struct TextOutput {
    std::string header, main, footer, notes;
    Flow flow = Flow::Main;

    std::string &current() {
        switch (flow) {
        case Flow::Header: return header;
        case Flow::Footer: return footer;
        case Flow::Note: return notes;
        default: return main;
        }
    }

    void on_tag(const Event &ev) {
        switch (ev.code) {
        case code::kHeaderBlock: flow = Flow::Header; break;
        case code::kFooterBlock: flow = Flow::Footer; break;
        case code::kNoteCall: {
            const std::string mark = "[" + std::to_string(ev.param[1]) + "]";
            main += mark;
            end_line(notes);
            notes += mark + " ";
            flow = Flow::Note;
            break;
        }
        case code::kBlockEnd: flow = Flow::Main; break;
        case code::kNonBreakingSpace: append_utf8(current(), 0xA0); break;
        default: break;
        }
    }

    static void end_line(std::string &s) {
        if (!s.empty() && s.back() != '\n') s += '\n';
    }

    void on_event(const Event &ev) {
        std::string &s = current();
        switch (ev.kind) {
        case EventKind::Char:
            // Control characters other than the stream's own carry no text.
            if (ev.ch >= 0x20 && ev.ch != 0x7F) append_utf8(s, ev.ch);
            break;
        case EventKind::ParagraphEnd: s += '\n'; break;
        case EventKind::LineEnd: s += ' '; break;
        case EventKind::Tab: s += '\t'; break;
        case EventKind::PageBreak: s += '\f'; break;
        case EventKind::Tag: on_tag(ev); break;
        default: break;
        }
    }

    std::string finish() {
        std::string out;
        for (std::string *part : {&header, &main, &footer, &notes}) {
            if (part->empty()) continue;
            end_line(*part);
            if (!out.empty()) out += '\n';
            out += *part;
        }
        return out;
    }
};

}  // namespace

bool to_text(std::FILE *stream, std::FILE *out) {
    TextOutput text;
    kavrel::stream::Reader reader(stream);
    Event ev;
    while (reader.next(ev)) text.on_event(ev);
    const std::string result = text.finish();
    return std::fwrite(result.data(), 1, result.size(), out) == result.size();
}

}  // namespace render
