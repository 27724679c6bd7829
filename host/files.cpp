// Scratch streams, file helpers, memory and byte order.
#if defined(_WIN32)
#include "host/wide.h"
#endif

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/byte_io.h"
#include "host/kavrel.h"
#include "host/scratch.h"

namespace {

FILE *open_by_name(const std::string &utf8) {
#if defined(_WIN32)
    return ::_wfopen(kavrel::wide(utf8).c_str(), L"w+b");
#else
    return std::fopen(utf8.c_str(), "w+b");
#endif
}

// The output of the conversion running on this thread: its file name, and
// whether a converter replaced the host's stream.  Thread scoped so that
// conversions in parallel threads never see each other's.
struct OutputState {
    std::string name;
    bool replaced = false;
    FILE *stream = nullptr;
};
thread_local OutputState t_output;

}  // namespace

extern "C" {

// Scratch streams are anonymous: no name ever reaches the
// file system, so two conversions cannot collide and no user file is touched.
// The name and mode are accepted for the converters' sake; every use is "w+b".
FILE *sec_fopen(const char *name, const char *mode) {
    (void)name;
    (void)mode;
    return kavrel::open_scratch_stream();
}

const char *demande_fnom(int32_t which) {
    if (which == 1) return t_output.name.c_str();
    return "mwconv-scratch";
}

void kavrel_set_output_name(const char *path) { t_output = OutputState{path ? path : "", false, nullptr}; }

FILE *kavrel_reopen_output(FILE *output) {
    if (t_output.name.empty()) {
        return kavrel::empty_stream(output) ? output : nullptr;
    }
    kavrel::check_stream(output);
    std::fclose(output);
    t_output.replaced = true;
    t_output.stream = open_by_name(t_output.name);  // emptied by opening
#if !defined(_WIN32)
    if (t_output.stream != nullptr) kavrel::settle_emptied(fileno(t_output.stream));
#endif
    return t_output.stream;
}

FILE *kavrel_take_output(FILE *original) {
    FILE *result = t_output.replaced ? t_output.stream : original;
    t_output = OutputState{};
    return result;
}

void extension(char *path, const char *ext) {
    char *slash = std::strrchr(path, '/');
    char *dot = std::strrchr(path, '.');
    if (dot == nullptr || (slash != nullptr && dot < slash)) dot = path + std::strlen(path);
    *dot = '.';
    std::strcpy(dot + 1, ext);
}

void *salloc(uint16_t size) {
    void *block = std::calloc(size == 0 ? 1 : size, 1);
    if (block == nullptr) std::abort();  // callers rely on a block, as on every host
    return block;
}

void sfree(void *block) { std::free(block); }

uint16_t swap16b(uint16_t v) { return static_cast<uint16_t>(v >> 8 | v << 8); }

uint32_t swap32b(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

void fbouffe(int32_t count, FILE *stream) { std::fseek(stream, count, SEEK_CUR); }

void repos_fs(int32_t whence, int32_t offset, FILE *stream) {
    (void)whence;  // always from the start
    std::fseek(stream, offset, SEEK_SET);
}

void frecopie(FILE *source, FILE *target, int32_t count) {
    char buffer[4096];
    while (count > 0) {
        const size_t want = count < static_cast<int32_t>(sizeof buffer) ? static_cast<size_t>(count) : sizeof buffer;
        const size_t got = std::fread(buffer, 1, want, source);
        if (got == 0) return;
        std::fwrite(buffer, 1, got, target);
        count -= static_cast<int32_t>(got);
    }
}

// Positions the stream just past the next occurrence of text; 0 when found,
// -1 (at the end of the stream) when not.
int32_t passe_chaine(FILE *stream, const char *text) {
    const size_t n = std::strlen(text);
    if (n == 0) return 0;
    std::vector<char> window;
    int c;
    while ((c = kavrel::get_byte(stream)) != EOF) {
        window.push_back(static_cast<char>(c));
        if (window.size() > n) window.erase(window.begin());
        if (window.size() == n && std::memcmp(window.data(), text, n) == 0) return 0;
    }
    return -1;
}

void putx(int32_t count, int32_t byte, FILE *stream) {
    for (int32_t i = 0; i < count; ++i) kavrel::put_byte(stream, byte);
}

}  // extern "C"
