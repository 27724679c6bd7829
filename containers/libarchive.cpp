#include "containers/libarchive.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

namespace containers {

namespace {

using libarchive_calls::Function;

#define MWCONV_LIBARCHIVE_NAME_OF(name) #name,
constexpr const char *kNames[] = {MWCONV_LIBARCHIVE_FUNCTIONS(MWCONV_LIBARCHIVE_NAME_OF)};
#undef MWCONV_LIBARCHIVE_NAME_OF

// The library as the build found it: its SONAME, or its DLL's name.
constexpr const char *kLibrary = MWCONV_LIBARCHIVE_NAME;

struct Loaded {
    void *functions[static_cast<size_t>(Function::kCount)] = {};
    std::string missing;  // empty when every function was found
};

#ifdef _WIN32
void *open_library(std::string &error) {
    HMODULE library = LoadLibraryA(kLibrary);
    if (library == nullptr) error = std::string(kLibrary) + " could not be loaded (error " + std::to_string(GetLastError()) + ")";
    return library;
}
void *find(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
void *open_library(std::string &error) {
    void *library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *why = dlerror();
        error = why != nullptr ? why : std::string(kLibrary) + " could not be loaded";
    }
    return library;
}
void *find(void *library, const char *name) { return dlsym(library, name); }
#endif

// Loads the library and finds every function; it stays loaded for the
// process's life.
Loaded load() {
    Loaded loaded;
    std::string error;
    void *library = open_library(error);
    if (library == nullptr) {
        loaded.missing = "archives cannot be read: " + error;
        return loaded;
    }
    for (size_t i = 0; i < std::size(kNames); ++i) {
        loaded.functions[i] = find(library, kNames[i]);
        if (loaded.functions[i] == nullptr) {
            loaded.missing = std::string("archives cannot be read: ") + kLibrary + " has no " + kNames[i];
            return loaded;
        }
    }
    return loaded;
}

const Loaded &loaded() {
    static const Loaded once = load();
    return once;
}

}  // namespace

const char *libarchive_missing() { return loaded().missing.empty() ? nullptr : loaded().missing.c_str(); }

void *libarchive_calls::address(Function f) {
    if (const char *why = libarchive_missing()) throw Error(Grade::kFatal, why);
    return loaded().functions[static_cast<size_t>(f)];
}

}  // namespace containers
