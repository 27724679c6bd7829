// BinHex 4.0 text built from its published layout: the header and forks
// with their CRC-16s, run-length coded (0x90), six bits to a character,
// lines of 64 between colons after the introducing line.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

inline uint16_t binhex_crc(const std::string &bytes) {
    uint16_t crc = 0;
    for (unsigned char c : bytes) {
        crc ^= static_cast<uint16_t>(c << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

inline std::string binhex(const std::string &mac_name, const std::string &type_creator, const std::string &data,
                          const std::string &resource = "") {
    auto be16 = [](uint16_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v)}; };
    auto be32 = [&](uint32_t v) { return be16(static_cast<uint16_t>(v >> 16)) + be16(static_cast<uint16_t>(v)); };
    auto with_crc = [&](const std::string &s) { return s + be16(binhex_crc(s)); };
    std::string header = std::string(1, static_cast<char>(mac_name.size())) + mac_name + '\0' + type_creator + be16(0) +
                         be32(static_cast<uint32_t>(data.size())) + be32(static_cast<uint32_t>(resource.size()));
    const std::string plain = with_crc(header) + with_crc(data) + with_crc(resource);
    // Runs of four or more bytes as byte, 0x90, count; 0x90 itself as 0x90 0x00.
    std::string coded;
    for (size_t i = 0; i < plain.size();) {
        size_t run = 1;
        while (i + run < plain.size() && plain[i + run] == plain[i] && run < 255) ++run;
        coded += plain[i];
        if (static_cast<unsigned char>(plain[i]) == 0x90) coded += '\0';
        if (run >= 4) {
            coded += '\x90';
            coded += static_cast<char>(run);
            i += run;
        } else {
            ++i;
        }
    }
    static const char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
    std::string text = "(This file must be converted with BinHex 4.0)\r\n:";
    size_t column = 1;
    for (size_t i = 0; i < coded.size(); i += 3) {
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) group = group << 8 | (i + k < coded.size() ? static_cast<unsigned char>(coded[i + k]) : 0);
        const size_t chars = i + 3 <= coded.size() ? 4 : (coded.size() - i) + 1;
        for (size_t k = 0; k < chars; ++k) {
            text += kAlphabet[(group >> (18 - 6 * k)) & 0x3F];
            if (++column == 64) {
                text += "\r\n";
                column = 0;
            }
        }
    }
    return text + ":\r\n";
}

}  // namespace testing_support
