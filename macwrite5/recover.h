// Recovery of a damaged MacWrite 4.6/5 document.  The ordinary reading
// trusts the information arrays; when one of them points outside the file,
// overlaps the header or leads to data that is not a paragraph, the document
// is damaged, and this second reading keeps what still holds together: the
// sound entries of each area, and in the main text the paragraphs found by
// their own structure in the bytes that no sound entry claims.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "macwrite5/layout.h"

namespace macwrite5 {

// A paragraph to convert, as a 16-byte information entry: a sound entry as
// stored, or one made for a paragraph found by its structure.
using Entry = std::array<uint8_t, kEntrySize>;

struct Survey {
    bool damaged = false;
    std::array<std::vector<Entry>, 3> areas;  // header, footer, main: what to convert
    int32_t recovered = 0;                    // paragraphs kept, all areas
    int32_t expected = 0;                     // paragraphs the header counts
    std::string lost;                         // what could not be read, for the message
};

// The document's bytes from its header on (at most what 24-bit offsets
// reach), read from `offset` of the input.
std::vector<uint8_t> load_document(std::FILE *in, long offset);

// Checks the information arrays against `doc`; when they do not hold, finds
// what survives.  A sound document gives damaged false and nothing else.
Survey survey(const std::vector<uint8_t> &doc);

// "recovered 214 of about 260 paragraphs; the paragraph index was lost"
std::string damage_summary(const Survey &s);

}  // namespace macwrite5
