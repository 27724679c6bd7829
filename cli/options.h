// mwconv's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mwconv {

enum class From { Auto, MacWriteII, MacWrite5, MacWrite22, Stream, Text };
enum class To { Text, Markdown, Html, Rtf, Docx, Odt, Stream, MacWrite5 };

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
    bool version = false;
    bool macbinary = false;
    bool fragment = false;         // HTML: the body's content alone
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
