// What a file is, without converting it: the plug-in's identification and,
// for a MacBinary file, the Finder's fields of its header.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "host/macbinary.h"
#include "lib/plugin.h"

namespace mwconv {

struct Described {
    MacWriteIdentity id{};
    kavrel::macbinary::Fields finder{};
};

// Reads what the plug-in says of the stream `f` or the file at `path`;
// false with `error` set when it cannot be read.
bool describe(const Plugin &plugin, std::FILE *f, Described &d, std::string &error);
bool describe(const Plugin &plugin, const std::string &path, Described &d, std::string &error);

// The object of `--identify --json` and the line of `--identify` for `path`.
nlohmann::ordered_json to_json(const std::string &path, const Described &d);
std::string to_text(const std::string &path, const Described &d);

// What --identify says of the document open in `f`: for a MacWrite
// document, its JSON fields (those after "file") and its words (those after
// "FILE: "); both left empty for anything else.
void identify_document(const Plugin &plugin, std::FILE *f, nlohmann::ordered_json &fields, std::string &text);

}  // namespace mwconv
