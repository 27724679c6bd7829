/* A Windows host that knows nothing of mwconv's headers: it loads the plug-in
 * by name, asks _DLL_enum for both directions and both languages, reads the
 * descriptors by offset as the 77-byte records of a 32-bit host, and converts
 * a document through the `convert` address of a record.
 *
 *   foreign_host.exe macwrite.dll DOCUMENT STREAM MACWRITE
 *
 * The document goes through the MacWrite 4.6/5 import into STREAM, and the
 * stream through the export into MACWRITE.
 * Prints what it found and exits 0 only when every check holds. */
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define RECORD 77
#define NAME_AT 0
#define AUX_AT 64
#define CONVERT_AT 69
#define STATUS_AT 73

typedef int32_t (*enum_fn)(void *, int32_t, int32_t);
typedef int32_t (*convert_fn)(FILE *, FILE *);

static int failures = 0;

static void check(int ok, const char *what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++failures;
}

static const char *expected_names[3] = {"MacWrite II", "MacWrite 4.6/5", "MacWrite 2.2"};

static void check_records(enum_fn enumerate, int32_t direction, int32_t language, unsigned char *buffer,
                          convert_fn *first) {
    char what[160];
    memset(buffer, 0xAA, 16 * RECORD);
    const int32_t count = enumerate(buffer, direction, language);
    const int32_t want = direction == 0 ? 3 : 1;
    snprintf(what, sizeof what, "direction %d language %d gives %d records", direction, language, want);
    check(count == want, what);
    for (int32_t i = 0; i < count && i < want; ++i) {
        const unsigned char *r = buffer + i * RECORD;
        const char *name = direction == 0 ? expected_names[i] : "MacWrite 4.6/5";
        int32_t status;
        uint32_t address;
        memcpy(&status, r + STATUS_AT, 4);
        memcpy(&address, r + CONVERT_AT, 4);
        snprintf(what, sizeof what, "record %d is \"%s\" with an empty aux text, status 1 and an address", i, name);
        check(strcmp((const char *)r + NAME_AT, name) == 0 && r[AUX_AT] == 0 && status == 1 && address != 0, what);
        if (i == 0 && first != NULL) *first = (convert_fn)(uintptr_t)address;
    }
    snprintf(what, sizeof what, "direction %d language %d leaves the byte after the last record alone", direction,
             language);
    check(buffer[want * RECORD] == 0xAA, what);
}

int main(int argc, char **argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: foreign_host PLUGIN DOCUMENT STREAM MACWRITE\n");
        return 2;
    }
    HMODULE plugin = LoadLibraryA(argv[1]);
    check(plugin != NULL, "the plug-in loads");
    if (plugin == NULL) return 1;
    enum_fn enumerate = (enum_fn)(uintptr_t)GetProcAddress(plugin, "_DLL_enum");
    check(enumerate != NULL, "it exports _DLL_enum under exactly that name");
    if (enumerate == NULL) return 1;
    static unsigned char buffer[16 * RECORD + 1];
    convert_fn import_ii = NULL, exporter = NULL;
    for (int32_t language = 0; language <= 1; ++language) {
        check_records(enumerate, 0, language, buffer, &import_ii);
        check_records(enumerate, 1, language, buffer, &exporter);
        check_records(enumerate, 7, language, buffer, NULL);
    }
    /* The second import record is MacWrite 4.6/5. */
    enumerate(buffer, 0, 1);
    uint32_t address;
    memcpy(&address, buffer + RECORD + CONVERT_AT, 4);
    convert_fn import_5 = (convert_fn)(uintptr_t)address;
    FILE *in = fopen(argv[2], "rb");
    FILE *out = fopen(argv[3], "w+b");
    check(in != NULL && out != NULL, "the document and the output open");
    if (in == NULL || out == NULL) return 1;
    const int32_t result = import_5(in, out);
    fseek(out, 0, SEEK_END);
    const long length = ftell(out);
    fclose(in);
    fclose(out);
    check(result == 0 && length > 0, "the MacWrite 4.6/5 import converts the document through its record");
    printf("%ld bytes of internal stream\n", length);
    FILE *stream = fopen(argv[3], "rb");
    FILE *document = fopen(argv[4], "w+b");
    check(stream != NULL && document != NULL, "the stream and the new document open");
    if (stream == NULL || document == NULL) return 1;
    check(exporter(stream, document) == 0, "the export writes a MacWrite document through its record");
    fclose(stream);
    fclose(document);
    FreeLibrary(plugin);
    return failures == 0 ? 0 : 1;
}
