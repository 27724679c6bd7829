// A shared library loaded the first time it is needed rather than when the
// program starts.  A library that is linked in is loaded, with everything it
// links in turn, by every start of the program, which costs milliseconds and
// megabytes though most runs never call it.
//
// A user lists the library's functions it calls in an X-macro and, in its
// own namespace, declares each under the library's own name
// (KAVREL_LAZY_LIBRARY), where that name hides the library header's
// declaration: its calls read as the library's API and go through the
// library loaded at first use.  It defines lazy_calls::address, which gives
// a function's address or throws when the library could not be loaded.
// See containers/libarchive.h and render/libzip.h.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstddef>
#include <string>
#include <vector>

namespace kavrel::lazy {

// A library's functions, found by name; it stays loaded for the process's
// life.  `missing` is empty when every function was found, and says why
// otherwise.
struct Library {
    std::vector<void *> functions;
    std::string missing;

    const char *why() const { return missing.empty() ? nullptr : missing.c_str(); }
};

namespace detail {

inline Library load(const char *file, const char *const *names, size_t count) {
    Library library;
#ifdef _WIN32
    HMODULE handle = LoadLibraryA(file);
    if (handle == nullptr) {
        library.missing = std::string(file) + " could not be loaded (error " + std::to_string(GetLastError()) + ")";
        return library;
    }
    auto find = [&](const char *name) { return reinterpret_cast<void *>(GetProcAddress(handle, name)); };
#else
    void *handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why = dlerror();
        library.missing = why != nullptr ? why : std::string(file) + " could not be loaded";
        return library;
    }
    auto find = [&](const char *name) { return dlsym(handle, name); };
#endif
    for (size_t i = 0; i < count; ++i) {
        library.functions.push_back(find(names[i]));
        if (library.functions.back() == nullptr) {
            library.missing = std::string(file) + " has no " + names[i];
            return library;
        }
    }
    return library;
}

}  // namespace detail

// Loads `file` (a SONAME or a DLL's name) and finds the functions `names`;
// what it says when it cannot starts with `what` ("archives cannot be
// read: ").
template <size_t N>
Library load(const char *file, const char *const (&names)[N], const std::string &what) {
    Library library = detail::load(file, names, N);
    if (!library.missing.empty()) library.missing = what + library.missing;
    return library;
}

template <typename Pointer>
struct Call;

// A function of the library function's exact type that calls the loaded
// library's: `Address` gives the address of function `I`.
template <typename R, typename... A>
struct Call<R (*)(A...)> {
    template <void *(*Address)(size_t), size_t I>
    static R through(A... a) {
        return reinterpret_cast<R (*)(A...)>(Address(I))(a...);
    }
};

}  // namespace kavrel::lazy

#define KAVREL_LAZY_INDEX(name) name,
#define KAVREL_LAZY_NAME(name) #name,
#define KAVREL_LAZY_DECLARE(name)                                                                                        \
    inline constexpr auto name = &::kavrel::lazy::Call<decltype(&::name)>::through<&lazy_calls::address, lazy_calls::name>;

// In the user's namespace: the functions that LIST names, numbered and
// named in lazy_calls, and each declared under its own name.
#define KAVREL_LAZY_LIBRARY(LIST)                                                                                        \
    namespace lazy_calls {                                                                                                \
    enum Function : size_t { LIST(KAVREL_LAZY_INDEX) kCount };                                                           \
    inline constexpr const char *kNames[] = {LIST(KAVREL_LAZY_NAME)};                                                    \
    void *address(size_t f);                                                                                              \
    }                                                                                                                     \
    LIST(KAVREL_LAZY_DECLARE)
