// The converter plug-in as mwconv sees it: loaded at run time, asked for its
// catalogue through _DLL_enum, called through the descriptors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/identify.h"

namespace mwconv {

using BidFn = int32_t (*)(const uint8_t *, size_t);

struct Converter {
    std::string name;       // as the catalogue gives it, single-byte Windows text
    ConverterFn convert = nullptr;
    BidFn bid = nullptr;    // for imports whose plug-in offers recognition
};

class Plugin {
public:
    Plugin() = default;
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;
    Plugin(Plugin &&other) noexcept;
    Plugin &operator=(Plugin &&other) noexcept;
    ~Plugin();

    // Loads the library at `path`; on failure returns false with `error` set.
    bool load(const std::string &path, std::string &error);

    // The descriptors of one direction (DLL_ENUM_IMPORT or _EXPORT) and
    // language, in the order _DLL_enum returned them.
    std::vector<Converter> catalogue(int32_t direction, int32_t language) const;

    // The import or export converter whose catalogue name is `name`, if any.
    const Converter *find_import(const std::string &name) const;
    const Converter *find_export(const std::string &name) const;

    // The file it was loaded from; our other modules are looked for beside it.
    const std::string &path() const { return path_; }

    // Identification, when the plug-in exports it.
    bool can_identify() const { return identify_ != nullptr; }
    int32_t identify(std::FILE *input, MacWriteIdentity *identity) const { return identify_(input, identity); }

private:
    void *handle_ = nullptr;
    std::string path_;
    using EnumFn = int32_t (*)(void *, int32_t, int32_t);
    using IdentifyFn = int32_t (*)(FILE *, MacWriteIdentity *);
    IdentifyFn identify_ = nullptr;
    EnumFn enum_ = nullptr;
    std::vector<Converter> imports_, exports_;
};

// Where the plug-in is looked for when --plugin is not given: next to the
// executable, then in the install tree beside it.
std::vector<std::string> default_plugin_paths();

// The same places for another module of ours ("mwconvserve"), named as the
// build names its libraries; first the folder of `beside` (the plug-in's
// file) when given, where a program that is not mwconv (Python) keeps them.
std::vector<std::string> module_paths(const std::string &module, const std::string &beside = {});

}  // namespace mwconv
