// Builds DART images for the tests and fuzz seeds, from the public
// description of the format: a header, then one chunk per 20 KB of disk, its
// 40 sectors and 480 bytes of (zero) tags, "fast" (RLE) or stored.
#pragma once

#include <string>

#include "tests/support/disk_builder.h"

namespace testing_support {

// DART "fast" (RLE) chunks: runs of a repeated word, literal words.
inline std::string dart_rle(const std::string &chunk) {
    std::string out;
    for (size_t i = 0; i < chunk.size();) {
        size_t run = 1;
        while (i + 2 * run + 1 < chunk.size() && chunk.compare(i + 2 * run, 2, chunk, i, 2) == 0 && run < 0x7FFF) ++run;
        std::string count(2, '\0');
        if (run > 1) {
            put16(count, 0, static_cast<uint32_t>(-static_cast<int32_t>(run)) & 0xFFFF);
            out += count + chunk.substr(i, 2);
            i += 2 * run;
        } else {
            put16(count, 0, 1);
            out += count + chunk.substr(i, 2);
            i += 2;
        }
    }
    return out;
}

// A DART image of an 800K disk: fast (RLE) or stored chunks.
inline std::string dart_image(const std::string &disk, bool fast) {
    std::string header(4 + 2 * 40, '\0'), data;
    header[0] = fast ? 0 : 2;
    header[1] = 1;
    put16(header, 2, 800);
    for (int i = 0; i < 40; ++i) {
        const std::string chunk = disk.substr(i * 20480, 20480) + std::string(480, '\0');
        const std::string packed = fast ? dart_rle(chunk) : chunk;
        put16(header, 4 + 2 * i, fast ? static_cast<uint32_t>(packed.size() / 2) : 0xFFFF);
        data += packed;
    }
    return header + data;
}

}  // namespace testing_support
