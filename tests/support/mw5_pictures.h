// The picture paragraphs of a MacWrite 4.6/5 document, read straight from
// the file layout, so tests can check the import against the document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/mw5_reader.h"

namespace testing_support {

struct StoredPicture {
    int16_t height;      // the entry's, negative
    std::string data;    // the paragraph's data: an 8-byte rectangle, then the picture
};

// Every picture paragraph but page breaks, in the order header, footer, main.
inline std::vector<StoredPicture> stored_pictures(const std::string &file) {
    const size_t base = file.size() > 128 && file.compare(65, 8, "WORDMACA") == 0 ? 128 : 0;
    const std::string d = file.substr(base);
    std::vector<StoredPicture> out;
    if (d.size() < 512 || d[1] != 6) return out;
    for (auto [count_at, window_at] : {std::pair{4, 206}, std::pair{6, 160}, std::pair{2, 252}}) {
        const size_t array = u32at(d, window_at + 12);
        for (size_t i = 0; i < u16at(d, count_at); ++i) {
            const size_t at = array + 16 * i;
            const auto height = static_cast<int16_t>(u16at(d, at));
            const size_t offset = u32at(d, at + 8) & 0xFFFFFF, length = u16at(d, at + 12);
            if (height < 0 && length != 22) out.push_back({height, d.substr(offset, length)});
        }
    }
    return out;
}

}  // namespace testing_support
