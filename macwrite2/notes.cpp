// The note pass: the first stage left each note call as a numberless
// placeholder and each note's text behind a note-text tag; here the output is
// rebuilt so that the k-th call carries the k-th note's text and a number, and
// nothing from the first note text on stays in the main flow.  The scan goes
// by the stream's framing rule, so a parameter byte 0x5C never passes for
// the start of a tag.
//
// One scan of the first stage finds where the calls and the notes' texts
// stand; the output is then copied from it range by range, so the pass holds
// two offsets a call or a note, never the text.
#include <vector>

#include "host/scratch.h"
#include "host/stream_codes.h"
#include "host/stream_reader.h"
#include "host/stream_writer.h"
#include "macwrite2/context.h"

namespace macwrite2 {

namespace {

using kavrel::stream::Event;
using kavrel::stream::EventKind;
namespace code = kavrel::code;

bool is_tag(const Event &ev, uint8_t c) { return ev.kind == EventKind::Tag && ev.code == c; }

// A stretch of the first stage, by byte offsets.
struct Range {
    long begin, end;
};

struct Layout {
    std::vector<Range> calls;   // each call's placeholder tag
    std::vector<Range> notes;   // each note's text, without its tags
    long main_end = 0;          // where the main flow ends
};

// The main flow runs to the first note-text tag.  A note's text runs from its
// tag to the next block end, which is consumed with it; what follows, up to
// the next note-text tag, is no note's.  A tag cut short by the end of the
// stream belongs to nothing.
Layout scan(std::FILE *first) {
    enum class State { Main, InNote, BetweenNotes } state = State::Main;
    Layout layout;
    kavrel::stream::Reader reader(first);
    Event ev;
    long note_begin = 0, last_end = 0;
    while (reader.next(ev)) {
        last_end = reader.offset();
        switch (state) {
        case State::Main:
            if (is_tag(ev, code::kNoteCall)) layout.calls.push_back({ev.offset, last_end});
            if (!is_tag(ev, code::kNoteText)) break;
            layout.main_end = ev.offset;
            state = State::InNote;
            note_begin = last_end;
            break;
        case State::InNote:
            if (!is_tag(ev, code::kBlockEnd)) break;
            layout.notes.push_back({note_begin, ev.offset});
            state = State::BetweenNotes;
            break;
        case State::BetweenNotes:
            if (!is_tag(ev, code::kNoteText)) break;
            state = State::InNote;
            note_begin = last_end;
            break;
        }
    }
    if (state == State::Main) layout.main_end = last_end;
    if (state == State::InNote) layout.notes.push_back({note_begin, last_end});
    return layout;
}

void copy_range(std::FILE *from, Range r, std::FILE *to) {
    if (r.end <= r.begin || std::fseek(from, r.begin, SEEK_SET) != 0) return;
    frecopie(from, to, static_cast<int32_t>(r.end - r.begin));
}

}  // namespace

void relink_notes(ImportContext &ctx) {
    std::FILE *first = kavrel::open_scratch_stream();
    std::rewind(ctx.out);
    frecopie(ctx.out, first, INT32_MAX);
    std::rewind(first);
    const Layout layout = scan(first);
    ctx.out = kavrel_reopen_output(ctx.out);
    if (ctx.out == nullptr) {
        std::fclose(first);
        return;
    }
    ctx.note_count = 0;
    long at = 0;
    for (const Range &call : layout.calls) {
        copy_range(first, {at, call.begin}, ctx.out);
        kavrel::stream::put_tag(ctx.out, code::kNoteCall, 0, static_cast<uint8_t>(ctx.note_count + 1));
        if (static_cast<size_t>(ctx.note_count) < layout.notes.size()) copy_range(first, layout.notes[ctx.note_count], ctx.out);
        ++ctx.note_count;
        at = call.end;
    }
    copy_range(first, {at, layout.main_end}, ctx.out);
    std::fclose(first);
    std::fflush(ctx.out);
}

}  // namespace macwrite2
