#include "catalogue/catalogue.h"

#include <cstring>

namespace {

struct Entry {
    const char *name;
    ConverterFn convert;
};

// French imports, English imports, French export, English export: each group
// contiguous, in the order the host shows them.
constexpr Entry kTable[8] = {
    {"MacWrite II", import_macwrite_ii},  {"MacWrite 4.6/5", import_macwrite_5},
    {"MacWrite 2.2", import_macwrite_22}, {"MacWrite II", import_macwrite_ii},
    {"MacWrite 4.6/5", import_macwrite_5}, {"MacWrite 2.2", import_macwrite_22},
    {"MacWrite 4.6/5", export_macwrite_5}, {"MacWrite 4.6/5", export_macwrite_5},
};

// Copies one record field by field: text up to its terminator, so that bytes
// after it stay as the host left them.
void copy_record(unsigned char *dest, const Entry &e) {
    std::memcpy(dest + offsetof(ConverterDescriptor, name), e.name, std::strlen(e.name) + 1);
    dest[offsetof(ConverterDescriptor, aux_text)] = '\0';
    std::memcpy(dest + offsetof(ConverterDescriptor, convert), &e.convert, sizeof e.convert);
    const int32_t status = 1;
    std::memcpy(dest + offsetof(ConverterDescriptor, status), &status, sizeof status);
}

}  // namespace

extern "C" int32_t _DLL_enum(void *dest, int32_t direction, int32_t language) {
    const bool english = language != DLL_ENUM_FRENCH;
    const int first = direction == DLL_ENUM_IMPORT ? (english ? 3 : 0) : (english ? 7 : 6);
    const int count = direction == DLL_ENUM_IMPORT ? 3 : 1;
    auto *out = static_cast<unsigned char *>(dest);
    for (int i = 0; i < count; ++i) copy_record(out + i * sizeof(ConverterDescriptor), kTable[first + i]);
    return count;
}
