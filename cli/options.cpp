#include "cli/options.h"

#include <cstring>
#include <map>

namespace mwconv {

const char *const kUsage =
    "usage: mwconv [-f FROM] [-t TO] [-o OUTPUT] [--plugin PATH] [INPUT ...]\n"
    "       mwconv --list-converters [--lang fr|en]\n"
    "FROM: auto (default), macwrite-ii, macwrite5, macwrite22, stream, text\n"
    "TO:   text (default), stream, macwrite5\n";

namespace {

const std::map<std::string, From> kFrom = {
    {"auto", From::Auto},          {"macwrite-ii", From::MacWriteII}, {"macwrite5", From::MacWrite5},
    {"macwrite22", From::MacWrite22}, {"stream", From::Stream},      {"text", From::Text},
};

const std::map<std::string, To> kTo = {
    {"text", To::Text}, {"stream", To::Stream}, {"macwrite5", To::MacWrite5},
};

template <typename T>
bool lookup(const std::map<std::string, T> &names, const std::string &value, T &out) {
    const auto it = names.find(value);
    if (it == names.end()) return false;
    out = it->second;
    return true;
}

// Takes the value of an option given as "-o VALUE", "--opt VALUE" or "--opt=VALUE".
bool take_value(int argc, char **argv, int &i, const std::string &arg, std::string &value) {
    const auto eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        value = arg.substr(eq + 1);
        return true;
    }
    if (i + 1 >= argc) return false;
    value = argv[++i];
    return true;
}

}  // namespace

const char *output_extension(To to) {
    switch (to) {
    case To::Stream: return "stream";
    case To::MacWrite5: return "mw5";
    default: return "txt";
    }
}

std::optional<Options> parse_options(int argc, char **argv, std::string &error) {
    Options o;
    bool only_inputs = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string name = arg.substr(0, arg.find('='));
        std::string value;
        if (only_inputs || arg == "-" || arg[0] != '-') {
            o.inputs.push_back(arg);
        } else if (arg == "--") {
            only_inputs = true;
        } else if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--list-converters") {
            o.list_converters = true;
        } else if (arg == "--macbinary") {
            o.macbinary = true;
        } else if (name == "-f" || name == "--from" || name == "-t" || name == "--to" || name == "-o" ||
                   name == "--output" || name == "--plugin" || name == "--lang") {
            if (!take_value(argc, argv, i, arg, value)) {
                error = "option " + name + " needs a value";
                return std::nullopt;
            }
            if ((name == "-f" || name == "--from") && !lookup(kFrom, value, o.from)) {
                error = "unknown input format: " + value;
                return std::nullopt;
            }
            if ((name == "-t" || name == "--to") && !lookup(kTo, value, o.to)) {
                error = "unknown output format: " + value;
                return std::nullopt;
            }
            if (name == "-o" || name == "--output") {
                o.output = value;
                o.output_given = true;
            }
            if (name == "--plugin") o.plugin = value;
            if (name == "--lang") {
                if (value != "fr" && value != "en") {
                    error = "unknown language: " + value + " (fr or en)";
                    return std::nullopt;
                }
                o.french = value == "fr";
            }
        } else {
            error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    if (o.macbinary && o.to != To::MacWrite5) {
        error = "--macbinary needs -t macwrite5";
        return std::nullopt;
    }
    return o;
}

}  // namespace mwconv
