/* Identification of a file, for hosts that want to know what they hold before
 * (or instead of) converting it: the MacWrite generation, the MacBinary header
 * and what the document's index says, read without converting the text. */
#ifndef MACWRITE_IDENTIFY_H
#define MACWRITE_IDENTIFY_H

#include <stdint.h>
#include <stdio.h>

#include "catalogue/catalogue.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { MACWRITE_NONE = 0, MACWRITE_II = 1, MACWRITE_5 = 2, MACWRITE_22 = 3 };

typedef struct MacWriteIdentity {
    int32_t generation;         /* MACWRITE_NONE, _II, _5 or _22 */
    int32_t version;            /* the version word as stored (6, 3; 0 for MacWrite II) */
    int32_t macbinary;          /* length of the MacBinary header in front: 0 or 128 */
    int32_t main_paragraphs;    /* paragraphs (rulers and pictures included) of the */
    int32_t header_paragraphs;  /* main text, the page header and the page footer; */
    int32_t footer_paragraphs;  /* -1 where the generation does not count them */
    int32_t notes;              /* footnotes (MacWrite II), else -1 */
    int32_t compressed;         /* paragraphs of compressed text, -1 unknown */
    int32_t pictures;           /* pictures other than page breaks, -1 unknown */
    char reason[96];            /* generation MACWRITE_NONE: why not, in English */
    int32_t damaged;            /* 1: the document is damaged, and its import
                                   recovers what it can (result kConvertedDamaged) */
    char damage[160];           /* damaged: what was recovered and what was lost, in
                                   English ("recovered 214 of about 260 paragraphs;
                                   the paragraph index was lost") */
} MacWriteIdentity;

/* Fills `identity` for the seekable stream `input` (read from its start; its
 * position afterwards is unspecified) and returns its generation. */
MACWRITE_API int32_t macwrite_identify(FILE *input, MacWriteIdentity *identity);

#ifdef __cplusplus
}
#endif

#endif
