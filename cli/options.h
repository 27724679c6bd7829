// mwconv's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mwconv {

enum class From { Auto, MacWriteII, MacWrite5, MacWrite22, Stream, Text };
enum class To { Text, Stream, MacWrite5 };

struct Options {
    From from = From::Auto;
    To to = To::Text;
    std::string output = "-";
    bool output_given = false;
    std::vector<std::string> inputs;
    std::string plugin;            // empty: the default places
    bool list_converters = false;
    bool french = false;
    bool help = false;
    bool macbinary = false;
};

// Parses argv; on bad usage returns nullopt with `error` set.
std::optional<Options> parse_options(int argc, char **argv, std::string &error);

// The extension given to an output named after its input.
const char *output_extension(To to);

extern const char *const kUsage;

}  // namespace mwconv
