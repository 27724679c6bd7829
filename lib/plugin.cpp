#include "lib/plugin.h"

#include <cstring>
#include <utility>

#include "lib/system.h"

namespace mwconv {

namespace {

#if defined(_WIN32)
constexpr const char *kPluginPrefix = "";
#else
constexpr const char *kPluginPrefix = "lib";
#endif

// The recognition function that the plug-in exports for an import, by name.
const char *bid_symbol(const std::string &name) {
    if (name == "MacWrite II") return "macwrite_bid_ii";
    if (name == "MacWrite 4.6/5") return "macwrite_bid_5";
    if (name == "MacWrite 2.2") return "macwrite_bid_22";
    return nullptr;
}

}  // namespace

Plugin::Plugin(Plugin &&other) noexcept { *this = std::move(other); }

Plugin &Plugin::operator=(Plugin &&other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(path_, other.path_);
    std::swap(enum_, other.enum_);
    std::swap(identify_, other.identify_);
    std::swap(imports_, other.imports_);
    std::swap(exports_, other.exports_);
    return *this;
}

Plugin::~Plugin() {
    if (handle_ != nullptr) sys::close_library(handle_);
}

bool Plugin::load(const std::string &path, std::string &error) {
    handle_ = sys::load_library(path, error);
    if (handle_ == nullptr) return false;
    path_ = path;
    enum_ = reinterpret_cast<EnumFn>(sys::library_symbol(handle_, "_DLL_enum"));
    if (enum_ == nullptr) {
        error = path + ": no _DLL_enum";
        return false;
    }
    identify_ = reinterpret_cast<IdentifyFn>(sys::library_symbol(handle_, "macwrite_identify"));
    imports_ = catalogue(DLL_ENUM_IMPORT, DLL_ENUM_ENGLISH);
    exports_ = catalogue(DLL_ENUM_EXPORT, DLL_ENUM_ENGLISH);
    for (Converter &c : imports_)
        if (const char *symbol = bid_symbol(c.name)) c.bid = reinterpret_cast<BidFn>(sys::library_symbol(handle_, symbol));
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

std::vector<std::string> default_plugin_paths() { return module_paths("macwrite"); }

std::vector<std::string> module_paths(const std::string &module, const std::string &beside) {
    const std::string dir = sys::executable_dir();
    const std::string name = std::string(kPluginPrefix) + module + sys::library_suffix();
    std::vector<std::string> paths;
    if (!beside.empty()) paths.push_back(sys::utf8_of(sys::to_path(beside).parent_path() / sys::to_path(name)));
    for (const std::string &place : {dir + "/" + name, dir + "/" MWCONV_PLUGIN_FROM_BIN "/" + name,
                                     dir + "/../lib/mwconv/" + name, dir + "/../lib/" + name})
        paths.push_back(place);
    return paths;
}

}  // namespace mwconv
