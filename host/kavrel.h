/* The host library: the state records that a converter owns for one call,
 * the character tables, and every operation that a converter imports by name.
 *
 * The records are an interface between separately built parts, so their layout
 * is fixed byte for byte (static asserts below).  Integers in them are in the
 * host's own byte order.  Bytes marked "host" belong to this library: it keeps
 * in them what the output stream last said, so that it writes a tag only when
 * the state asked for differs, without any global state. */
#ifndef KAVREL_H
#define KAVREL_H

#include <stdint.h>
#include <stdio.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(KAVREL_BUILDING)
#define KAVREL_API __declspec(dllexport)
#elif defined(_WIN32)
#define KAVREL_API __declspec(dllimport)
#else
#define KAVREL_API __attribute__((visibility("default")))
#endif

#pragma pack(push, 1)

typedef struct CharAttributes {
    uint8_t host_written_style;       /* style bits the stream last said */
    uint8_t host_written_extra;       /* style_extra bits the stream last said */
    uint8_t special_font;
    uint8_t font;
    uint8_t host_carried;             /* copied along with MacWrite II styles */
    uint8_t host_written_font[2];     /* font number the stream last said, LE */
    uint8_t host_written_size;        /* point size the stream last said */
    int32_t size;
    uint8_t changed;
    uint8_t style;
    uint8_t style_extra;
    uint8_t host_flags;               /* KAVREL_WROTE_* */
} CharAttributes;

typedef struct ParaFormat {
    int32_t host_carried0;
    int32_t justified;
    int32_t right_aligned;
    int32_t centred;
    int32_t host_carried16;
    int32_t left_column;
    int32_t right_column;
    uint8_t host28[8];
    int32_t interline;
    int32_t host_written_alignment;   /* KAVREL_ALIGN_* the stream last said */
    int32_t host_written_interline;   /* interline the stream last said */
    int32_t host_written_geometry[6]; /* KAVREL_GEOMETRY_*: twips the stream last said */
    uint8_t host72[64];
} ParaFormat;

typedef struct TabColumns {
    int32_t kind[257];
} TabColumns;

/* The document's page, in twips (1/20 point). */
typedef struct KavrelPage {
    int32_t width, height;
    int32_t top, left, bottom, right;
    int32_t first_page;   /* the number the first page is printed with */
    int32_t title_page;   /* non-zero: the first page has no header or footer */
    int32_t header_height, footer_height;  /* what they take of the printable page */
    int32_t columns, column_gap;  /* the text's columns (0 or 1: one) and the gap between them */
} KavrelPage;

#pragma pack(pop)

/* Paragraph geometry that change_geometry sets, in twips: indents from the
 * page margins (the first line's from the left indent), space before and
 * after, and an exact line height (0: the line spacing decides). */
enum {
    KAVREL_GEOMETRY_LEFT = 0,
    KAVREL_GEOMETRY_RIGHT = 1,
    KAVREL_GEOMETRY_FIRST = 2,
    KAVREL_GEOMETRY_BEFORE = 3,
    KAVREL_GEOMETRY_AFTER = 4,
    KAVREL_GEOMETRY_LINE = 5
};

enum {
    KAVREL_WROTE_FONT = 0x01,
    KAVREL_WROTE_SIZE = 0x02
};

/* Codes of change_format, and the alignment kept in host_written_alignment. */
enum { KAVREL_ALIGN_LEFT = 0, KAVREL_ALIGN_CENTRED = 1, KAVREL_ALIGN_JUSTIFIED = 2, KAVREL_ALIGN_RIGHT = 3 };

/* style bits of CharAttributes */
enum {
    KAVREL_BOLD = 0x01,
    KAVREL_UNDERLINE = 0x02,
    KAVREL_SUBSCRIPT = 0x04,
    KAVREL_SUPERSCRIPT = 0x08,
    KAVREL_STRIKEOUT = 0x10,      /* MacWrite II only */
    KAVREL_ITALIC = 0x20,
    KAVREL_CARRIED = 0x40,        /* copied along, never written */
    KAVREL_ALL_CAPS = 0x80        /* MacWrite II only */
};
/* style_extra bits of CharAttributes */
enum {
    KAVREL_SHADOW = 0x01,
    KAVREL_DOUBLE_UNDERLINE = 0x04, /* MacWrite II only */
    KAVREL_SMALL_CAPS = 0x08,       /* MacWrite II only */
    KAVREL_OUTLINE = 0x10
};

enum { KAVREL_TAB_MARK = 0x80, KAVREL_TAB_ORDINARY = 1, KAVREL_TAB_CENTRED = 2, KAVREL_TAB_RIGHT = 3, KAVREL_TAB_DECIMAL = 4 };

/* Character tables: 256 entries, set (Unicode high byte) << 8 | code. */
KAVREL_API extern const uint16_t MAC2INT[256];

/* Records and stream set-up. */
KAVREL_API int32_t init_format(FILE *input, CharAttributes *ca, ParaFormat *pf, TabColumns *tc);

/* Character attributes. */
KAVREL_API void raz_attributs(CharAttributes *ca, FILE *out);
KAVREL_API void pose_attributs(CharAttributes *ca, FILE *out);
KAVREL_API void pose_corps(CharAttributes *ca, int32_t size, FILE *out);
KAVREL_API void change_corps(CharAttributes *ca, int32_t size, FILE *out);
KAVREL_API void debut_gras(CharAttributes *ca, int32_t on, FILE *out);
KAVREL_API void debut_ital(CharAttributes *ca, int32_t on, FILE *out);
KAVREL_API void debut_soul(CharAttributes *ca, int32_t on, FILE *out);
KAVREL_API void debut_relief(CharAttributes *ca, int32_t on, FILE *out);
KAVREL_API void debut_ombre(CharAttributes *ca, int32_t on, FILE *out);
KAVREL_API void debut_exp(CharAttributes *ca, int32_t on, FILE *out);
KAVREL_API void debut_ind(CharAttributes *ca, int32_t on, FILE *out);
KAVREL_API void fin_gras(CharAttributes *ca, FILE *out);
KAVREL_API void fin_ital(CharAttributes *ca, FILE *out);
KAVREL_API void fin_soul(CharAttributes *ca, FILE *out);
KAVREL_API void fin_relief(CharAttributes *ca, FILE *out);
KAVREL_API void fin_ombre(CharAttributes *ca, FILE *out);
KAVREL_API void fin_exp(CharAttributes *ca, FILE *out);
KAVREL_API void fin_ind(CharAttributes *ca, FILE *out);
KAVREL_API const uint16_t *traite_polices_mac(CharAttributes *ca, int32_t font, const uint16_t *table, FILE *out);

/* Paragraph formats and rulers. */
KAVREL_API void raz_formats(ParaFormat *pf, FILE *out);
KAVREL_API void pose_formats(ParaFormat *pf, FILE *out);
KAVREL_API void change_format(ParaFormat *pf, int32_t code, FILE *out);
KAVREL_API void change_interl(ParaFormat *pf, int32_t spacing, FILE *out);
KAVREL_API void armement_regle(TabColumns *tc);
KAVREL_API void nettoyage_regle(FILE *out, TabColumns *tc);

/* Page and paragraph geometry, beyond the imported operations: the page
 * insert, written once at the start of the stream, and one measure of the
 * paragraphs to come, written only when it differs from what the stream
 * last said. */
KAVREL_API void pose_page(const KavrelPage *page, FILE *out);
KAVREL_API void change_geometry(ParaFormat *pf, int32_t which, int32_t twips, FILE *out);

/* Blocks, inserts and notes. */
KAVREL_API void pose_bloc_format(int32_t code, FILE *out);
KAVREL_API void traitement_insert(int32_t code, FILE *out);
KAVREL_API void traitement_note(FILE *out);
KAVREL_API void passe_insert(FILE *in);
KAVREL_API void insertion_longueur(int32_t length, FILE *out);

/* Export tables: entry (s - 1) & 0xFF is the table of internal set s, so the
 * base set 0 (ISO 8859-1) sits in the last entry.  Each table maps a code to
 * selector << 8 | Mac byte (selector 0 standard font, 1 font 23). */
KAVREL_API const uint16_t *const *chargement_dpolice(int32_t which);

/* Files, memory and bytes. */
KAVREL_API FILE *sec_fopen(const char *name, const char *mode);
KAVREL_API const char *demande_fnom(int32_t which);
KAVREL_API void extension(char *path, const char *ext);
KAVREL_API void *salloc(uint16_t size);
KAVREL_API void sfree(void *block);
KAVREL_API uint16_t swap16b(uint16_t value);
KAVREL_API uint32_t swap32b(uint32_t value);
KAVREL_API void fbouffe(int32_t count, FILE *stream);
KAVREL_API void repos_fs(int32_t whence, int32_t offset, FILE *stream);
KAVREL_API void frecopie(FILE *source, FILE *target, int32_t count);
KAVREL_API int32_t passe_chaine(FILE *stream, const char *text);
KAVREL_API void putx(int32_t count, int32_t byte, FILE *stream);

/* Beyond the imported operations: the table of the Symbol font (23) and of
 * Zapf Dingbats (13), for hosts that render or test them directly. */
KAVREL_API extern const uint16_t SYMBOL2INT[256];
KAVREL_API extern const uint16_t DINGBATS2INT[256];

/* The output of the conversion running on the calling thread.  A host that
 * names its output file (kavrel_set_output_name, before the call) lets a
 * converter rebuild the output by that name: kavrel_reopen_output closes the
 * host's stream and opens the file anew, emptied.  Without a name it empties
 * the stream in place and returns it.  NULL: the file could not be opened.
 * After the call the host asks kavrel_take_output which stream now holds the
 * output: its own, the reopened one (its own is then closed already), or
 * NULL when the output was lost; it closes what it gets, once. */
KAVREL_API void kavrel_set_output_name(const char *path);
KAVREL_API FILE *kavrel_reopen_output(FILE *output);
KAVREL_API FILE *kavrel_take_output(FILE *original);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(CharAttributes) == 16, "CharAttributes is 16 bytes");
static_assert(offsetof(CharAttributes, special_font) == 2);
static_assert(offsetof(CharAttributes, font) == 3);
static_assert(offsetof(CharAttributes, size) == 8);
static_assert(offsetof(CharAttributes, changed) == 12);
static_assert(offsetof(CharAttributes, style) == 13);
static_assert(offsetof(CharAttributes, style_extra) == 14);
static_assert(sizeof(ParaFormat) == 136, "ParaFormat is 136 bytes");
static_assert(offsetof(ParaFormat, justified) == 4);
static_assert(offsetof(ParaFormat, right_aligned) == 8);
static_assert(offsetof(ParaFormat, centred) == 12);
static_assert(offsetof(ParaFormat, left_column) == 20);
static_assert(offsetof(ParaFormat, right_column) == 24);
static_assert(offsetof(ParaFormat, interline) == 36);
static_assert(offsetof(ParaFormat, host_written_alignment) >= 40);
static_assert(offsetof(ParaFormat, host_written_geometry) >= 48);
static_assert(sizeof(TabColumns) == 1028, "TabColumns is 257 int32 entries");
#endif

#endif
