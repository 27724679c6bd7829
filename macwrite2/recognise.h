// What says a file is a MacWrite II document, and in which layout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace macwrite2 {

enum class Layout : uint8_t {
    None,     // not a MacWrite II document
    Disk,     // as the application writes it: 00 2E 00 2E, 10-byte character records
    Memory,   // the layout of in-memory record sizes: "." at byte 1 or 3
    Lost,     // the first block is zeros (a lost sector) and block 3 opens a document
              // chain: a MacWrite II document only when the Finder or the user says so
};

// The layout of a document whose first `length` bytes are `doc`; `whole`
// when they are the whole document, so that its blocks can be counted.
Layout layout_of(const uint8_t *doc, size_t length, bool whole);

}  // namespace macwrite2
