// Recovery of a damaged MacWrite 2.2 document.  Its paragraph records follow
// one another, each read from the end of the one before: one record that
// does not hold together (a lost region, a length past the end of the file)
// puts every record after it out of step.  The second reading steps over
// such a record and takes up the walk at the next record that holds
// together by its own structure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace macwrite22 {

struct RecordAt {
    long start;   // from the document's first byte
    bool ruler;
};

struct Survey {
    bool damaged = false;
    std::vector<RecordAt> records;   // damaged: those that hold, in file order
    bool from_the_end = false;       // the last record ends the file: areas are taken from its end
    std::string summary;             // damaged: what was recovered and lost
};

// Walks the records of the document at `offset` of `in` from `list_pos` as
// the ordinary reading does, for `count` records of all areas.  A sound
// document is read through once and never held whole.
Survey survey(std::FILE *in, long offset, long list_pos, size_t count);

}  // namespace macwrite22
