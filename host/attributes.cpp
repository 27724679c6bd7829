// Character attributes.  The record's style bits say what the converter wants;
// host_written_* say what the stream last said.  A tag is written only for a
// difference between the two.
#include <cstring>

#include "host/kavrel.h"
#include "host/stream_writer.h"

namespace {

using kavrel::stream::put_tag;
namespace code = kavrel::code;

struct StyleBit {
    bool extra;      // in style_extra rather than style
    uint8_t mask;
    uint8_t on, off;
};

constexpr uint8_t kWrittenExtraMask = KAVREL_SHADOW | KAVREL_DOUBLE_UNDERLINE | KAVREL_SMALL_CAPS | KAVREL_OUTLINE;

// The order in which a batch of changes is written.
constexpr StyleBit kStyleBits[] = {
    {false, KAVREL_BOLD, code::kBoldOn, code::kBoldOff},
    {false, KAVREL_ITALIC, code::kItalicOn, code::kItalicOff},
    {false, KAVREL_UNDERLINE, code::kUnderlineOn, code::kUnderlineOff},
    {true, KAVREL_OUTLINE, code::kOutlineOn, code::kOutlineOff},
    {true, KAVREL_SHADOW, code::kShadowOn, code::kShadowOff},
    {false, KAVREL_SUPERSCRIPT, code::kSuperscriptOn, code::kSuperscriptOff},
    {false, KAVREL_SUBSCRIPT, code::kSubscriptOn, code::kSubscriptOff},
    {false, KAVREL_STRIKEOUT, code::kStrikeoutOn, code::kStrikeoutOff},
    {false, KAVREL_ALL_CAPS, code::kAllCapsOn, code::kAllCapsOff},
    {true, KAVREL_DOUBLE_UNDERLINE, code::kDoubleUnderlineOn, code::kDoubleUnderlineOff},
    {true, KAVREL_SMALL_CAPS, code::kSmallCapsOn, code::kSmallCapsOff},
};


uint8_t &wanted(CharAttributes *ca, const StyleBit &b) { return b.extra ? ca->style_extra : ca->style; }
uint8_t &written(CharAttributes *ca, const StyleBit &b) {
    return b.extra ? ca->host_written_extra : ca->host_written_style;
}

// Brings the stream's style bits to the record's.  Runs of text set their
// styles over and over: most calls find nothing to change.
void sync_styles(CharAttributes *ca, FILE *out) {
    const auto differ = static_cast<uint8_t>((ca->style ^ ca->host_written_style) & ~KAVREL_CARRIED);
    const auto differ_extra = static_cast<uint8_t>((ca->style_extra ^ ca->host_written_extra) & kWrittenExtraMask);
    if (differ == 0 && differ_extra == 0) return;
    for (const StyleBit &b : kStyleBits) {
        if (((b.extra ? differ_extra : differ) & b.mask) == 0) continue;
        put_tag(out, (wanted(ca, b) & b.mask) != 0 ? b.on : b.off);
        written(ca, b) ^= b.mask;
    }
}

void set_style(CharAttributes *ca, const StyleBit &b, bool on, FILE *out) {
    uint8_t &w = wanted(ca, b);
    w = static_cast<uint8_t>(on ? w | b.mask : w & ~b.mask);
    sync_styles(ca, out);
}

// The entries of kStyleBits that the operations below set.
enum Bit { kBold, kItalic, kUnderline, kOutline, kShadow, kSuperscript, kSubscript };

static_assert(kStyleBits[kBold].on == code::kBoldOn && kStyleBits[kItalic].on == code::kItalicOn &&
              kStyleBits[kUnderline].on == code::kUnderlineOn && kStyleBits[kOutline].on == code::kOutlineOn &&
              kStyleBits[kShadow].on == code::kShadowOn && kStyleBits[kSuperscript].on == code::kSuperscriptOn &&
              kStyleBits[kSubscript].on == code::kSubscriptOn);

const StyleBit &bit(Bit which) { return kStyleBits[which]; }

uint16_t written_font(const CharAttributes *ca) {
    return static_cast<uint16_t>(ca->host_written_font[0] | ca->host_written_font[1] << 8);
}

void write_font(CharAttributes *ca, uint16_t font, FILE *out) {
    if ((ca->host_flags & KAVREL_WROTE_FONT) && written_font(ca) == font) return;
    put_tag(out, code::kFont, static_cast<uint8_t>(font >> 8), static_cast<uint8_t>(font & 0xFF));
    ca->host_written_font[0] = static_cast<uint8_t>(font & 0xFF);
    ca->host_written_font[1] = static_cast<uint8_t>(font >> 8);
    ca->host_flags |= KAVREL_WROTE_FONT;
}

// Sizes outside 1..255 points cannot be carried by the tag and are not sizes a
// document means; they leave the stream as it is.
void write_size(CharAttributes *ca, int32_t size, FILE *out) {
    if (size < 1 || size > 255) return;
    if ((ca->host_flags & KAVREL_WROTE_SIZE) && ca->host_written_size == size) return;
    put_tag(out, code::kSize, static_cast<uint8_t>(size));
    ca->host_written_size = static_cast<uint8_t>(size);
    ca->host_flags |= KAVREL_WROTE_SIZE;
}

}  // namespace

extern "C" {

void raz_attributs(CharAttributes *ca, FILE *out) {
    ca->style &= KAVREL_CARRIED;
    ca->style_extra &= static_cast<uint8_t>(~kWrittenExtraMask);
    sync_styles(ca, out);
}

void pose_attributs(CharAttributes *ca, FILE *out) {
    write_size(ca, ca->size, out);
    if (ca->font != 0 || (ca->host_flags & KAVREL_WROTE_FONT))
        write_font(ca, static_cast<uint16_t>((written_font(ca) & 0xFF00) | ca->font), out);
    sync_styles(ca, out);
}

void pose_corps(CharAttributes *ca, int32_t size, FILE *out) { write_size(ca, size, out); }
void change_corps(CharAttributes *ca, int32_t size, FILE *out) { write_size(ca, size, out); }

void debut_gras(CharAttributes *ca, int32_t on, FILE *out) { set_style(ca, bit(kBold), on != 0, out); }
void debut_ital(CharAttributes *ca, int32_t on, FILE *out) { set_style(ca, bit(kItalic), on != 0, out); }
void debut_soul(CharAttributes *ca, int32_t on, FILE *out) { set_style(ca, bit(kUnderline), on != 0, out); }
void debut_relief(CharAttributes *ca, int32_t on, FILE *out) { set_style(ca, bit(kOutline), on != 0, out); }
void debut_ombre(CharAttributes *ca, int32_t on, FILE *out) { set_style(ca, bit(kShadow), on != 0, out); }
void debut_exp(CharAttributes *ca, int32_t on, FILE *out) { set_style(ca, bit(kSuperscript), on != 0, out); }
void debut_ind(CharAttributes *ca, int32_t on, FILE *out) { set_style(ca, bit(kSubscript), on != 0, out); }
void fin_gras(CharAttributes *ca, FILE *out) { set_style(ca, bit(kBold), false, out); }
void fin_ital(CharAttributes *ca, FILE *out) { set_style(ca, bit(kItalic), false, out); }
void fin_soul(CharAttributes *ca, FILE *out) { set_style(ca, bit(kUnderline), false, out); }
void fin_relief(CharAttributes *ca, FILE *out) { set_style(ca, bit(kOutline), false, out); }
void fin_ombre(CharAttributes *ca, FILE *out) { set_style(ca, bit(kShadow), false, out); }
void fin_exp(CharAttributes *ca, FILE *out) { set_style(ca, bit(kSuperscript), false, out); }
void fin_ind(CharAttributes *ca, FILE *out) { set_style(ca, bit(kSubscript), false, out); }

const uint16_t *traite_polices_mac(CharAttributes *ca, int32_t font, const uint16_t *table, FILE *out) {
    (void)table;  // every font not named below uses the standard table
    const auto number = static_cast<uint16_t>(font);
    ca->font = static_cast<uint8_t>(number & 0xFF);
    write_font(ca, number, out);
    switch (number) {
    case 23: return SYMBOL2INT;
    case 13: return DINGBATS2INT;
    default: return MAC2INT;
    }
}

}  // extern "C"
