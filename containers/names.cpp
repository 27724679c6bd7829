#include "containers/names.h"

#include <array>
#include <cctype>

#include "host/kavrel.h"

namespace containers {

namespace {

// Longest output name, in bytes, leaving room for an extension within the
// 255 bytes that common file systems allow.
constexpr size_t kMaxNameBytes = 240;

void append_utf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

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

std::string mac_roman_to_utf8(std::string_view mac) {
    std::string out;
    for (unsigned char c : mac) append_utf8(out, MAC2INT[c]);
    return out;
}

std::optional<int64_t> mac_date(uint32_t seconds) {
    constexpr int64_t kMacEpochToUnix = 2082844800;  // 1904-01-01 to 1970-01-01
    if (seconds == 0) return std::nullopt;
    return static_cast<int64_t>(seconds) - kMacEpochToUnix;
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
