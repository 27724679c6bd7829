// Parts of an internal stream: the stream without its header and footer
// blocks, or without the texts of its notes, for comparing with readers of
// our outputs that leave those parts out.
#pragma once

#include <string>
#include <utility>

#include "host/stream_codes.h"
#include "host/stream_reader.h"
#include "tests/support/bytes_io.h"

namespace testing_support {

struct StreamParts {
    std::string kept, dropped;
};

// Splits the stream's bytes: header and footer blocks (tags included) when
// `blocks`, the texts of notes (their call and end tags stay) when `notes`.
inline StreamParts split_stream(const std::string &stream, bool blocks, bool notes) {
    namespace code = kavrel::code;
    std::FILE *in = stream_of(stream);
    kavrel::stream::Reader reader(in);
    kavrel::stream::Event ev;
    StreamParts parts;
    enum { Main, Block, Note } where = Main;
    long start = 0;
    while (reader.next(ev)) {
        const long end = reader.offset();
        const bool tag = ev.kind == kavrel::stream::EventKind::Tag;
        if (tag && (ev.code == code::kHeaderBlock || ev.code == code::kFooterBlock)) where = Block;
        if (tag && ev.code == code::kBlockEnd && where == Note) where = Main;
        const bool drop = (where == Block && blocks) || (where == Note && notes);
        (drop ? parts.dropped : parts.kept) +=
            stream.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
        if (tag && ev.code == code::kBlockEnd && where == Block) where = Main;
        if (tag && ev.code == code::kNoteCall && where == Main) where = Note;
        start = end;
    }
    std::fclose(in);
    return parts;
}

// The stream without its field tags: what a reader that shows fields as
// nothing reads.
inline std::string without_fields(const std::string &stream) {
    std::FILE *in = stream_of(stream);
    kavrel::stream::Reader reader(in);
    kavrel::stream::Event ev;
    std::string out;
    long start = 0;
    while (reader.next(ev)) {
        const long end = reader.offset();
        if (!(ev.kind == kavrel::stream::EventKind::Tag && ev.code == kavrel::code::kField))
            out += stream.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
        start = end;
    }
    std::fclose(in);
    return out;
}

}  // namespace testing_support
