// The one place where bytes of the internal stream are written: a character,
// a tag.  Every writer goes through these, so the stream stays well-formed
// (a character 0x5C never appears as a lone tag opener).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "host/byte_io.h"
#include "host/stream_codes.h"

namespace kavrel::stream {

inline void put_tag(std::FILE *out, uint8_t code) {
    put_byte(out, code::kEscape);
    put_byte(out, code);
}

inline void put_tag(std::FILE *out, uint8_t code, uint8_t p1) {
    put_tag(out, code);
    put_byte(out, p1);
}

inline void put_tag(std::FILE *out, uint8_t code, uint8_t p1, uint8_t p2) {
    put_tag(out, code);
    put_byte(out, p1);
    put_byte(out, p2);
}

// A character given as a table entry: internal set in the high byte, code in
// the low byte.  The backslash of the base set becomes its own tag.  Its
// bytes (four at most) go to `to`; returns the end of them.
inline uint8_t *encode_char(uint8_t *to, uint16_t entry) {
    const auto set = static_cast<uint8_t>(entry >> 8);
    const auto c = static_cast<uint8_t>(entry & 0xFF);
    if (set != 0) {
        *to++ = code::kEscape;
        *to++ = code::kExtendedChar;
        *to++ = set;
        *to++ = c;
    } else if (c == code::kEscape) {
        *to++ = code::kEscape;
        *to++ = code::kBackslash;
    } else {
        *to++ = c;
    }
    return to;
}

inline void put_char(std::FILE *out, uint16_t entry) {
    if (entry < 0x100 && entry != code::kEscape) return put_byte(out, static_cast<uint8_t>(entry));
    uint8_t bytes[4];
    put_bytes(out, bytes, static_cast<size_t>(encode_char(bytes, entry) - bytes));
}

// An insert: its tag, the body's 32-bit big-endian length, the body.
inline void put_insert(std::FILE *out, const char *kind, const uint8_t *rest, size_t n) {
    put_tag(out, code::kInsert);
    const uint32_t length = static_cast<uint32_t>(n) + code::kInsertKindSize;
    for (int shift = 24; shift >= 0; shift -= 8) std::fputc(static_cast<uint8_t>(length >> shift), out);
    std::fwrite(kind, 1, code::kInsertKindSize, out);
    if (n > 0) std::fwrite(rest, 1, n, out);  // an empty body may have no bytes at all
}

// A control byte of the stream's structure (paragraph end, tab, ...).
inline void put_control(std::FILE *out, uint8_t byte) { put_byte(out, byte); }

}  // namespace kavrel::stream
