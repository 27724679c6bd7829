// Record set-up, paragraph formats, rulers, blocks and inserts.
#include <cstring>

#include "host/byte_io.h"
#include "host/kavrel.h"
#include "host/stream_writer.h"

namespace {

using kavrel::stream::put_tag;
namespace code = kavrel::code;

// A 6.5-inch line at 12 columns an inch; single spacing.
constexpr int32_t kInitialSize = -12;
constexpr int32_t kInitialRightColumn = 78;
constexpr int32_t kSingleSpacing = 8;

void reset_format(ParaFormat *pf) {
    pf->justified = 0;
    pf->right_aligned = 0;
    pf->centred = 0;
    pf->left_column = 0;
    pf->right_column = kInitialRightColumn;
    pf->interline = kSingleSpacing;
}

int32_t wanted_alignment(const ParaFormat *pf) {
    if (pf->centred) return KAVREL_ALIGN_CENTRED;
    if (pf->right_aligned) return KAVREL_ALIGN_RIGHT;
    if (pf->justified) return KAVREL_ALIGN_JUSTIFIED;
    return KAVREL_ALIGN_LEFT;
}

// Leaving centred alignment always passes through the centring-off tag, the
// only way a reader that knows just centring on/off learns of it.
void write_alignment(ParaFormat *pf, FILE *out) {
    const int32_t want = wanted_alignment(pf);
    const int32_t have = pf->host_written_alignment;
    if (want == have) return;
    if (have == KAVREL_ALIGN_CENTRED || want == KAVREL_ALIGN_LEFT) put_tag(out, code::kLeft);
    if (want == KAVREL_ALIGN_CENTRED) put_tag(out, code::kCentre);
    if (want == KAVREL_ALIGN_JUSTIFIED) put_tag(out, code::kJustify);
    if (want == KAVREL_ALIGN_RIGHT) put_tag(out, code::kRight);
    pf->host_written_alignment = want;
}

void write_interline(ParaFormat *pf, FILE *out) {
    if (pf->interline == pf->host_written_interline) return;
    const int32_t v = pf->interline < 0 ? 0 : (pf->interline > 255 ? 255 : pf->interline);
    put_tag(out, code::kInterline, static_cast<uint8_t>(v));
    pf->host_written_interline = pf->interline;
}

}  // namespace

extern "C" {

int32_t init_format(FILE *input, CharAttributes *ca, ParaFormat *pf, TabColumns *tc) {
    if (input == nullptr || ca == nullptr || pf == nullptr || tc == nullptr) return -2;
    if (std::fseek(input, 0, SEEK_SET) != 0) return -2;
    std::memset(ca, 0, sizeof *ca);
    std::memset(pf, 0, sizeof *pf);
    std::memset(tc, 0, sizeof *tc);
    ca->size = kInitialSize;
    reset_format(pf);
    pf->host_written_alignment = KAVREL_ALIGN_LEFT;
    pf->host_written_interline = kSingleSpacing;
    return 0;
}

void raz_formats(ParaFormat *pf, FILE *out) {
    (void)out;  // resets the record only; pose_formats writes
    pf->host_carried0 = 0;
    pf->host_carried16 = 0;
    reset_format(pf);
}

void pose_formats(ParaFormat *pf, FILE *out) {
    write_alignment(pf, out);
    write_interline(pf, out);
}

void change_format(ParaFormat *pf, int32_t code, FILE *out) {
    pf->centred = code == KAVREL_ALIGN_CENTRED;
    pf->justified = code == KAVREL_ALIGN_JUSTIFIED;
    pf->right_aligned = code == KAVREL_ALIGN_RIGHT;
    write_alignment(pf, out);
}

void change_interl(ParaFormat *pf, int32_t spacing, FILE *out) {
    pf->interline = spacing;
    write_interline(pf, out);
}

void armement_regle(TabColumns *tc) {
    for (int i = 1; i <= 256; ++i)
        if (tc->kind[i] != 0) tc->kind[i] |= KAVREL_TAB_MARK;
}

// A tag carries its column in one byte, so no stop is ever set beyond 255;
// a marked entry there is retired silently.
void nettoyage_regle(FILE *out, TabColumns *tc) {
    for (int i = 1; i <= 256; ++i) {
        if (!(tc->kind[i] & KAVREL_TAB_MARK)) continue;
        if (i <= 255) put_tag(out, code::kTabClear, static_cast<uint8_t>(tc->kind[i] & 0x7F), static_cast<uint8_t>(i));
        tc->kind[i] = 0;
    }
}

void pose_bloc_format(int32_t code, FILE *out) {
    if (kavrel::code::tag_param_count(static_cast<uint8_t>(code)) != 2) return;
    put_tag(out, static_cast<uint8_t>(code), 0, 0);
}

// The export keeps no insert or note of its own: the text of a block or a note
// that follows its tag is read as ordinary text.
void traitement_insert(int32_t code, FILE *out) {
    (void)code;
    (void)out;
}

void traitement_note(FILE *out) { (void)out; }

void passe_insert(FILE *in) {
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const int b = kavrel::get_byte(in);
        if (b == EOF) return;
        length = length << 8 | static_cast<uint32_t>(b);
    }
    for (uint32_t i = 0; i < length && kavrel::get_byte(in) != EOF; ++i) {
    }
}

void insertion_longueur(int32_t length, FILE *out) {
    (void)length;
    (void)out;
}

}  // extern "C"
