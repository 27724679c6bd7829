// Reading back the fields of an exported MacWrite 4.6/5 document in tests.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

inline uint32_t u16at(const std::string &d, size_t at) {
    return static_cast<uint8_t>(d.at(at)) << 8 | static_cast<uint8_t>(d.at(at + 1));
}
inline uint32_t u32at(const std::string &d, size_t at) { return u16at(d, at) << 16 | u16at(d, at + 2); }

struct Window {
    uint32_t info_pos, info_length, heights_pos, heights_length;
};

inline Window window_at(const std::string &d, size_t at) {
    return {u32at(d, at + 12), u16at(d, at + 16), u32at(d, at + 18), u16at(d, at + 22)};
}

inline bool operator==(const Window &a, const Window &b) {
    return a.info_pos == b.info_pos && a.info_length == b.info_length && a.heights_pos == b.heights_pos &&
           a.heights_length == b.heights_length;
}

struct Entry {
    int16_t height;
    uint32_t offset;
    uint32_t length;
    std::string raw;
};

// Entry `i` of the information array of the area whose window record is at
// `window_at` (160 footer, 206 header, 252 main).
inline Entry area_entry(const std::string &d, size_t window_at, size_t i) {
    const size_t at = u32at(d, window_at + 12) + 16 * i;
    return {static_cast<int16_t>(u16at(d, at)), u32at(d, at + 8) & 0xFFFFFF, u16at(d, at + 12), d.substr(at, 16)};
}

// Entry `i` of the main text's information array.
inline Entry main_entry(const std::string &d, size_t i) { return area_entry(d, 252, i); }

}  // namespace testing_support
