#include "lib/mac_name.h"

#include <cstdint>

#include "host/kavrel.h"

namespace mwconv {

namespace {

constexpr size_t kMaxName = 63;

std::string file_name_of(const std::string &path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The next code point of UTF-8 text; a malformed sequence reads as U+FFFD.
uint32_t next_code_point(const std::string &s, size_t &i) {
    const auto lead = static_cast<unsigned char>(s[i++]);
    int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (lead >= 0x80 && more == 0) return 0xFFFD;
    uint32_t cp = more == 0 ? lead : lead & (0x3F >> more);
    for (; more > 0; --more) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        cp = cp << 6 | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    return cp;
}

// The Mac OS Roman byte for a code point, through the host's export tables.
char mac_roman(uint32_t cp) {
    if (cp == ':') return '-';
    if (cp > 0xFFFF || cp < 0x20) return '?';
    const uint16_t *const *tables = chargement_dpolice(2);
    const uint16_t entry = tables[((cp >> 8) - 1) & 0xFF][cp & 0xFF];
    const bool standard_font = (entry >> 8) == 0;
    if (cp < 0x80) return static_cast<char>(cp);
    return standard_font && (entry & 0xFF) != 0 ? static_cast<char>(entry & 0xFF) : '?';
}

}  // namespace

std::string mac_file_name(const std::string &input, const std::string &output) {
    std::string name;
    if (output == "-") {
        name = input == "-" ? "Untitled" : file_name_of(input);
    } else {
        name = file_name_of(output);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0) name.erase(name.size() - 4);
    }
    std::string mac;
    for (size_t i = 0; i < name.size() && mac.size() < kMaxName;) mac += mac_roman(next_code_point(name, i));
    return mac;
}

}  // namespace mwconv
