#include "containers/names.h"

#include <array>
#include <cctype>

#include "mactext/utf8.h"

namespace containers {

using mactext::append_utf8;

namespace {

// Longest output name, in bytes, leaving room for an extension within the
// 255 bytes that common file systems allow.
constexpr size_t kMaxNameBytes = 240;

// The length of the well-formed UTF-8 sequence at `i`, or 0.
size_t sequence_length(const std::string &s, size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) return 1;
    const size_t n = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

#ifdef _WIN32
constexpr std::string_view kReservedCharacters = "<>:\"\\|?*";

bool reserved_device(const std::string &name) {
    std::string stem = name.substr(0, name.find('.'));
    for (char &c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' && stem[3] <= '9';
}
#else
constexpr std::string_view kReservedCharacters = "";

bool reserved_device(const std::string &) { return false; }
#endif

}  // namespace

bool is_utf8(std::string_view s) {
    const std::string text(s);
    for (size_t i = 0; i < text.size();) {
        const size_t n = sequence_length(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string cp437_to_utf8(std::string_view name) {
    // The upper half of code page 437 (the IBM PC's), from 0x80.
    static constexpr char16_t kUpper[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
        0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
        0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
        0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
        0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
        0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
        0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
        0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
    std::string out;
    for (unsigned char c : name) append_utf8(out, c < 0x80 ? c : kUpper[c - 0x80]);
    return out;
}

std::string safe_name(const std::string &name, std::string &change) {
    change.clear();
    std::string out;
    bool replaced = false;
    for (size_t i = 0; i < name.size();) {
        const size_t n = sequence_length(name, i);
        const auto c = static_cast<unsigned char>(name[i]);
        if (n == 0 || c < 0x20 || c == 0x7F || (n == 1 && kReservedCharacters.find(name[i]) != std::string_view::npos)) {
            out += '_';
            replaced = true;
            i += n == 0 ? 1 : n;
            continue;
        }
        if (c == '/') {
#ifdef _WIN32
            out += '_';
#else
            out += ':';
#endif
        } else {
            out.append(name, i, n);
        }
        i += n;
    }
    const std::string as_read = out;
#ifdef _WIN32
    // Windows drops trailing dots and spaces from file names.
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) {
        out.back() = '_';
        replaced = true;
    }
#endif
    if (out.empty()) out = "_";
    else if (out == ".") out = "_.";
    else if (out == "..") out = "__";
    else if (reserved_device(out)) out = "_" + out;
    if (out.size() > kMaxNameBytes) {
        size_t cut = kMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
        change = "\"" + as_read.substr(0, 40) + "...\" is too long for a file name; cut to " + std::to_string(cut) + " bytes";
        return out;
    }
    if (replaced) change = "characters that no file name can hold replaced by \"_\": written as \"" + out + "\"";
    else if (out != as_read) change = "\"" + as_read + "\" cannot be a file name; written as \"" + out + "\"";
    return out;
}

std::string safe_path(const std::vector<std::string> &path, std::vector<std::string> &changes) {
    std::string out;
    for (const std::string &element : path) {
        std::string change;
        const std::string name = safe_name(element, change);
        if (!change.empty()) changes.push_back(change);
        if (!out.empty()) out += '/';
        out += name;
    }
    return out;
}

std::vector<std::string> split_archive_path(const std::string &path) {
    std::vector<std::string> elements;
    std::string element;
    auto flush = [&] {
        if (!element.empty() && element != ".") elements.push_back(element);
        element.clear();
    };
    for (char c : path) {
#ifdef _WIN32
        if (c == '\\') {
            flush();
            continue;
        }
#endif
        if (c == '/') flush();
        else element += c;
    }
    flush();
    return elements;
}

}  // namespace containers
