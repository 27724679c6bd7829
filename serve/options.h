// mwconv serve's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mwconv::serve {

struct Settings {
    std::string host = "127.0.0.1";
    int port = 8080;                       // 0: any free port (printed when listening)
    unsigned jobs = 0;                     // conversions at once; 0: one per core
    unsigned queue = 16;                   // requests that may wait for a conversion
    uint64_t max_upload = 256ull << 20;    // bytes
    unsigned timeout = 60;                 // seconds a request may take to arrive
    std::string plugin;                    // empty: the command's places
    bool help = false;
};

// Parses the arguments after "serve"; nullopt with `error` set on bad usage.
std::optional<Settings> parse_settings(const std::vector<std::string> &args, std::string &error);

// A size with an optional K, M or G (of 1024); nullopt when it is none.
std::optional<uint64_t> parse_size(const std::string &text);

std::string settings_help();

}  // namespace mwconv::serve
