// The note pass: the first stage left each note call as a numberless
// placeholder and each note's text behind a note-text tag; here the output is
// rebuilt so that the k-th call carries the k-th note's text and a number, and
// nothing from the first note text on stays in the main flow.  Both scans go
// by the stream's framing rule, so a parameter byte 0x5C never passes for
// the start of a tag.
#include <string>

#include "host/scratch.h"
#include "host/stream_codes.h"
#include "host/stream_reader.h"
#include "host/stream_writer.h"
#include "macwrite2/context.h"

namespace macwrite2 {

namespace {

using kavrel::stream::Event;
using kavrel::stream::EventKind;
using kavrel::stream::Reader;
namespace code = kavrel::code;

bool is_tag(const Event &ev, uint8_t c) { return ev.kind == EventKind::Tag && ev.code == c; }

// A reader over the first stage, handing out each event's own bytes.
class Source {
public:
    explicit Source(const std::string &bytes) : bytes_(bytes), file_(kavrel::open_scratch_stream()), reader_(file_) {
        std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::rewind(file_);
    }
    ~Source() { std::fclose(file_); }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;

    bool next(Event &ev, std::string &raw) {
        const long start = reader_.offset();
        if (!reader_.next(ev)) return false;
        raw = bytes_.substr(static_cast<size_t>(start), static_cast<size_t>(reader_.offset() - start));
        return true;
    }

    // Moves past the next note-text tag; false when there is none.
    bool skip_to_note_text() {
        Event ev;
        std::string raw;
        while (next(ev, raw))
            if (is_tag(ev, code::kNoteText)) return true;
        return false;
    }

    // Copies up to the next block-end tag, which is consumed.
    void copy_note_text(std::FILE *out) {
        Event ev;
        std::string raw;
        while (next(ev, raw) && !is_tag(ev, code::kBlockEnd)) std::fwrite(raw.data(), 1, raw.size(), out);
    }

private:
    const std::string &bytes_;
    std::FILE *file_;
    Reader reader_;
};

std::string read_all(std::FILE *f) {
    std::rewind(f);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    return out;
}

}  // namespace

void relink_notes(ImportContext &ctx) {
    const std::string first_stage = read_all(ctx.out);
    ctx.out = kavrel_reopen_output(ctx.out);
    if (ctx.out == nullptr) return;
    Source main(first_stage), notes(first_stage);
    ctx.note_count = 0;
    Event ev;
    std::string raw;
    while (main.next(ev, raw) && !is_tag(ev, code::kNoteText)) {
        if (!is_tag(ev, code::kNoteCall)) {
            std::fwrite(raw.data(), 1, raw.size(), ctx.out);
            continue;
        }
        ++ctx.note_count;
        kavrel::stream::put_tag(ctx.out, code::kNoteCall, 0, static_cast<uint8_t>(ctx.note_count));
        if (notes.skip_to_note_text()) notes.copy_note_text(ctx.out);
    }
    std::fflush(ctx.out);
}

}  // namespace macwrite2
