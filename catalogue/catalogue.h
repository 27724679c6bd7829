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

/* Converts between two open, seekable streams: 0 done, -1 not a document of
 * this kind, -2 refused by init_format, -3 (the export) the input does not
 * fit the format: more paragraphs than a document can hold. */
typedef int32_t (*ConverterFn)(FILE *input, FILE *output);

#pragma pack(push, 1)
typedef struct ConverterDescriptor {
    char name[64];
    char aux_text[5];
    ConverterFn convert;
    int32_t status;
} ConverterDescriptor;
#pragma pack(pop)

enum { kExportTooLarge = -3 };

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
