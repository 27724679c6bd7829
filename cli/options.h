// mwconv's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lib/job.h"

namespace mwconv {

// The conversion's own options (from, to, fragment, macbinary) and the
// run's (output, media_dir, force, json) are the library's.
struct Options : RunOptions {
    bool output_given = false;
    std::vector<std::string> inputs;
    std::string plugin;            // empty: the default places
    bool list_converters = false;
    bool french = false;
    bool help = false;
    bool version = false;
    unsigned jobs = 0;             // 0: one per core
    bool quiet = false;
    bool identify = false;
};

// Parses argv; on bad usage returns nullopt with `error` set.  Options may
// come before or after the inputs; "--" ends them.
std::optional<Options> parse_options(std::vector<std::string> args, std::string &error);

// Every option with what it does, for --help.
std::string help_text();

// One line for messages about bad usage.
extern const char *const kUsage;

}  // namespace mwconv
