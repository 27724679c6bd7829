// Recovery of a damaged MacWrite 4.6/5 document.  The ordinary reading
// trusts the information arrays; when one of them points outside the file,
// overlaps the header or leads to data that is not a paragraph, the document
// is damaged, and this second reading keeps what still holds together: the
// sound entries of each area, and in the main text the paragraphs found by
// their own structure in the bytes that no sound entry claims, each placed
// at a lost entry by its neighbours in the file (a guess the message owns).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "macwrite5/import_context.h"
#include "macwrite5/layout.h"

namespace macwrite5 {

// A paragraph to convert, as a 16-byte information entry: a sound entry as
// stored, or one made for a paragraph found by its structure.
using Entry = std::array<uint8_t, kEntrySize>;

// A paragraph to convert: an entry, or the part of a text paragraph that a
// lost region cut short, kept with its runs (`literal`).
struct Piece {
    Entry entry{};
    bool literal = false;
    std::vector<uint8_t> text;
    std::vector<FormatRun> runs;
};

struct Survey {
    bool damaged = false;
    std::array<std::vector<Piece>, 3> areas;  // header, footer, main: what to convert
    int32_t recovered = 0;                    // paragraphs kept, all areas
    int32_t expected = 0;                     // paragraphs the header counts
    std::string lost;                         // what could not be read, for the message
};

// Checks the information arrays of the document at `offset` of `in`; when
// they do not hold, finds what survives.  A sound document gives damaged
// false and nothing else; it is read through once and never held whole.
Survey survey(std::FILE *in, long offset);

// Converts a literal piece as a text paragraph of the last ruler.
void convert_literal(ImportContext &ctx, const Piece &piece);

// "recovered 214 of about 260 paragraphs; the paragraph index was lost"
std::string damage_summary(const Survey &s);

// A document whose header reads as zeros (a lost first sector) but whose
// first bytes after it hold paragraphs: `doc` is its start, `length` bytes.
bool header_lost(const uint8_t *doc, size_t length);
// The same of the document at `offset` of `in`.
bool header_lost(std::FILE *in, long offset);

// Where a MacWrite 4.6/5 or 2.2 document starts in a file of `file_length`
// bytes (kavrel::macbinary::kUnknownLength when only its head is known) that
// begins with the `length` bytes of `head`: after a MacBinary header, whole or
// cut short, when a document of either generation (or one whose first sector
// was lost) follows it, else at 0.
long document_offset(const uint8_t *head, size_t length, uint64_t file_length);

// The same for an import's input, read from its start; the stream is left
// at its start.
long wrapped_document_offset(std::FILE *input, long file_length);

}  // namespace macwrite5
