// mwconv's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lib/mwconv.h"

namespace mwconv {

// The conversion's own options (from, to, fragment, macbinary) are the
// library's.
struct Options : ConvertOptions {
    std::string output = "-";
    bool output_given = false;
    std::vector<std::string> inputs;
    std::string plugin;            // empty: the default places
    bool list_converters = false;
    bool french = false;
    bool help = false;
    bool version = false;
    std::string media_dir;         // --extract-media: where pictures are written
    bool force = false;            // a batch may replace files it did not write
    unsigned jobs = 0;             // 0: one per core
    bool quiet = false;
    bool identify = false;
    bool json = false;
};

// Parses argv; on bad usage returns nullopt with `error` set.  Options may
// come before or after the inputs; "--" ends them.
std::optional<Options> parse_options(std::vector<std::string> args, std::string &error);

// Every option with what it does, for --help.
std::string help_text();

// The extension given to an output named after its input.
const char *output_extension(To to);

// One line for messages about bad usage.
extern const char *const kUsage;

}  // namespace mwconv
