#include "cli/plugin.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <utility>

namespace mwconv {

namespace {

// The recognition function that the plug-in exports for an import, by name.
const char *bid_symbol(const std::string &name) {
    if (name == "MacWrite II") return "macwrite_bid_ii";
    if (name == "MacWrite 4.6/5") return "macwrite_bid_5";
    if (name == "MacWrite 2.2") return "macwrite_bid_22";
    return nullptr;
}

std::string executable_dir() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    char *slash = std::strrchr(path, '/');
    if (slash != nullptr) *slash = '\0';
    return path;
}

}  // namespace

Plugin::Plugin(Plugin &&other) noexcept { *this = std::move(other); }

Plugin &Plugin::operator=(Plugin &&other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(enum_, other.enum_);
    std::swap(identify_, other.identify_);
    std::swap(imports_, other.imports_);
    std::swap(exports_, other.exports_);
    return *this;
}

Plugin::~Plugin() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool Plugin::load(const std::string &path, std::string &error) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char *why = dlerror();
        error = why ? why : "cannot load";
        return false;
    }
    enum_ = reinterpret_cast<EnumFn>(dlsym(handle_, "_DLL_enum"));
    if (enum_ == nullptr) {
        error = path + ": no _DLL_enum";
        return false;
    }
    identify_ = reinterpret_cast<IdentifyFn>(dlsym(handle_, "macwrite_identify"));
    imports_ = catalogue(DLL_ENUM_IMPORT, DLL_ENUM_ENGLISH);
    exports_ = catalogue(DLL_ENUM_EXPORT, DLL_ENUM_ENGLISH);
    for (Converter &c : imports_)
        if (const char *symbol = bid_symbol(c.name)) c.bid = reinterpret_cast<BidFn>(dlsym(handle_, symbol));
    return true;
}

std::vector<Converter> Plugin::catalogue(int32_t direction, int32_t language) const {
    // Room for more records than any direction yields: the plug-in relies on
    // the host's buffer being large enough.
    constexpr int kRoom = 16;
    std::vector<unsigned char> buffer(kRoom * sizeof(ConverterDescriptor), 0);
    int32_t count = enum_(buffer.data(), direction, language);
    if (count < 0) count = 0;
    if (count > kRoom) count = kRoom;
    std::vector<Converter> out;
    for (int32_t i = 0; i < count; ++i) {
        ConverterDescriptor d;
        std::memcpy(&d, buffer.data() + i * sizeof d, sizeof d);
        d.name[sizeof d.name - 1] = '\0';
        out.push_back(Converter{d.name, d.convert, nullptr});
    }
    return out;
}

const Converter *Plugin::find_import(const std::string &name) const {
    for (const Converter &c : imports_)
        if (c.name == name) return &c;
    return nullptr;
}

const Converter *Plugin::find_export(const std::string &name) const {
    for (const Converter &c : exports_)
        if (c.name == name) return &c;
    return nullptr;
}

std::vector<std::string> default_plugin_paths() {
    const std::string dir = executable_dir();
    return {dir + "/libmacwrite.so", dir + "/" MWCONV_PLUGIN_FROM_BIN "/libmacwrite.so",
            dir + "/../lib/mwconv/libmacwrite.so", dir + "/../lib/libmacwrite.so"};
}

}  // namespace mwconv
