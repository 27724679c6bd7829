// Recognition of each generation by a file's first bytes, with the reason a
// file that looks close is refused (for identification).  The exported bid
// functions are these, without the reason.
#pragma once

#include <cstddef>
#include <cstdint>

namespace macwrite {

struct Recognition {
    int32_t bid = 0;              // 0 (not this generation) to 100
    long offset = 0;              // where the document starts: after a MacBinary header, 128
    const char *reason = nullptr; // bid 0 and the file came close: why it was refused
};

Recognition recognise_ii(const uint8_t *head, size_t length);
Recognition recognise_5(const uint8_t *head, size_t length);
Recognition recognise_22(const uint8_t *head, size_t length);

}  // namespace macwrite
