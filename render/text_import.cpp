#include "render/text_import.h"

#include <cstdint>

#include "host/byte_io.h"
#include "host/stream_codes.h"
#include "host/stream_writer.h"

namespace render {

namespace {

namespace code = kavrel::code;
using kavrel::stream::put_char;
using kavrel::stream::put_control;

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kByteOrderMark = 0xFEFF;

// Decodes one UTF-8 sequence starting with `lead`; -1 when it is not valid
// (overlong, a surrogate, beyond U+10FFFF, or cut short).
long decode(std::FILE *in, int lead, long &offset) {
    int extra;
    uint32_t cp, min;
    if (lead < 0x80) return lead;
    if (lead >= 0xC2 && lead <= 0xDF) extra = 1, cp = lead & 0x1F, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) extra = 2, cp = lead & 0x0F, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) extra = 3, cp = lead & 0x07, min = 0x10000;
    else return -1;
    for (int i = 0; i < extra; ++i) {
        const int b = kavrel::get_byte(in);
        if (b == EOF || (b & 0xC0) != 0x80) return -1;
        ++offset;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return static_cast<long>(cp);
}

void put_text_char(std::FILE *out, uint32_t cp) {
    if (cp == '\t') put_control(out, code::kTab);
    else if (cp == '\f') put_control(out, code::kPageBreak);
    else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return;
    else put_char(out, static_cast<uint16_t>(cp > 0xFFFF ? kReplacement : cp));
}

}  // namespace

long text_to_stream(std::FILE *in, std::FILE *out) {
    long offset = 0;
    bool line_open = false, after_cr = false;
    int lead;
    while ((lead = kavrel::get_byte(in)) != EOF) {
        // Printable ASCII, most of any text, is itself in the stream.
        if (lead >= 0x20 && lead < 0x7F && lead != code::kEscape) {
            kavrel::put_byte(out, lead);
            ++offset;
            line_open = true;
            after_cr = false;
            continue;
        }
        const long start = offset++;
        const long cp = decode(in, lead, offset);
        if (cp < 0) return start;
        if (cp == '\n' && after_cr) {
            after_cr = false;
            continue;
        }
        after_cr = cp == '\r';
        if (cp == '\n' || cp == '\r') {
            put_control(out, code::kParagraphEnd);
            line_open = false;
            continue;
        }
        if (start == 0 && cp == kByteOrderMark) continue;
        put_text_char(out, static_cast<uint32_t>(cp));
        line_open = cp != '\f';
    }
    if (line_open) put_control(out, code::kParagraphEnd);
    return -1;
}

}  // namespace render
