// Identification of a MacWrite II document.  Its paragraphs and notes are
// known only by walking its block chains, so the import itself runs into a
// scratch stream and the stream is counted: what is counted is what a
// conversion gives.
#include <cstdio>

#include "catalogue/boundary.h"
#include "catalogue/describe.h"
#include "macwrite2/recover.h"
#include "host/scratch.h"
#include "host/stream_codes.h"
#include "host/stream_reader.h"

namespace macwrite2 {

void describe(std::FILE *in, long offset, MacWriteIdentity &id) {
    (void)offset;  // the import finds the MacBinary header itself
    std::rewind(in);
    std::FILE *stream = kavrel::open_scratch_stream();
    ChainDamage damage;
    const int32_t result = macwrite::at_boundary([&] { return import(in, stream, damage); });
    if (damage.damaged()) {
        id.damaged = 1;
        std::snprintf(id.damage, sizeof id.damage, "%s", damage.summary().c_str());
    }
    if (result == kConverted || result == kConvertedDamaged) {
        id.main_paragraphs = 0;
        id.notes = 0;
        std::rewind(stream);
        kavrel::stream::Reader reader(stream);
        kavrel::stream::Event ev;
        bool in_note = false;
        while (reader.next(ev)) {
            if (ev.kind == kavrel::stream::EventKind::ParagraphEnd && !in_note) ++id.main_paragraphs;
            if (ev.kind != kavrel::stream::EventKind::Tag) continue;
            if (ev.code == kavrel::code::kNoteCall) {
                ++id.notes;
                in_note = true;
            } else if (ev.code == kavrel::code::kBlockEnd) {
                in_note = false;
            }
        }
    }
    std::fclose(stream);
}

}  // namespace macwrite2
