// The plug-in's catalogue: converter descriptors and the one entry a host
// needs, _DLL_enum.  The descriptor is copied into the host's buffer, so its
// layout is an interface and is pinned below for 32- and 64-bit targets.
#ifndef MACWRITE_CATALOGUE_H
#define MACWRITE_CATALOGUE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define MACWRITE_API
#else
#define MACWRITE_API __attribute__((visibility("default")))
#endif

/* Converts between two open, seekable streams and returns one of the results
 * below.  Any result but kConverted and kConvertedDamaged leaves no usable
 * output: a host discards what the output stream holds. */
typedef int32_t (*ConverterFn)(FILE *input, FILE *output);

enum {
    kConvertedDamaged = 1,          /* an import: the document is damaged; what could
                                       still be read was converted, the rest is
                                       missing (macwrite_identify says what) */
    kConverted = 0,                 /* the conversion ran to its end */
    kNotThisFormat = -1,            /* not a document of this converter's kind */
    kInitRefused = -2,              /* init_format refused the streams */
    kExportTooManyParagraphs = -3,  /* the export: more than 4095 paragraphs in the main
                                       text, rulers and page breaks included */
    kExportTooLong = -4,            /* the export: the document would pass 16 MB
                                       (16,777,216 bytes), which its 24-bit
                                       positions cannot address */
    kImportTooMuchText = -5,        /* an import: the document refers to far more
                                       text than it holds (damaged or crafted), so
                                       the conversion stopped at its bound */
    kOutOfMemory = -6               /* memory ran out; the converter released what
                                       it held and nothing else escaped the call */
};

#pragma pack(push, 1)
typedef struct ConverterDescriptor {
    char name[64];
    char aux_text[5];
    ConverterFn convert;
    int32_t status;
} ConverterDescriptor;
#pragma pack(pop)

enum { DLL_ENUM_IMPORT = 0, DLL_ENUM_EXPORT = 1 };
enum { DLL_ENUM_FRENCH = 0, DLL_ENUM_ENGLISH = 1 };

/* Writes 3 import descriptors (direction 0) or 1 export descriptor (any other
 * direction) into dest, French (language 0) or English; returns the count. */
MACWRITE_API int32_t _DLL_enum(void *dest, int32_t direction, int32_t language);

MACWRITE_API int32_t import_macwrite_ii(FILE *input, FILE *output);
MACWRITE_API int32_t import_macwrite_5(FILE *input, FILE *output);
MACWRITE_API int32_t import_macwrite_22(FILE *input, FILE *output);
MACWRITE_API int32_t export_macwrite_5(FILE *input, FILE *output);

/* Recognition, for hosts that identify a file before converting it: each looks
 * at the first 4096 bytes of a file (all of it when it is shorter; a head of
 * fewer bytes is taken for the whole file), consumes nothing, and returns a
 * confidence from 0 (not this format) to 100. */
MACWRITE_API int32_t macwrite_bid_ii(const uint8_t *head, size_t length);
MACWRITE_API int32_t macwrite_bid_5(const uint8_t *head, size_t length);
MACWRITE_API int32_t macwrite_bid_22(const uint8_t *head, size_t length);

#ifdef __cplusplus
}

static_assert(offsetof(ConverterDescriptor, aux_text) == 64);
static_assert(offsetof(ConverterDescriptor, convert) == 69);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ConverterDescriptor) == 77, "the 32-bit record is 77 bytes");
static_assert(offsetof(ConverterDescriptor, status) == 73);
#else
static_assert(sizeof(ConverterDescriptor) == 81, "a 64-bit address needs 8 bytes");
static_assert(offsetof(ConverterDescriptor, status) == 77);
#endif
#endif

#endif
