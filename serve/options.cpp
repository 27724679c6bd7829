#include "serve/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <thread>

namespace mwconv::serve {

namespace {

void describe(CLI::App &app, Settings &s, std::string &listen, std::string &max_upload) {
    app.description("Serves mwconv over HTTP: POST /convert?to=FORMAT, POST /identify, GET /health, /version,\n"
                    "/formats, and a web page at / for converting documents in a browser.");
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.add_option("--listen", listen, "Address and port to listen on (default 127.0.0.1:8080; port 0: any free one)")
        ->type_name("ADDRESS:PORT");
    app.add_option("-j,--jobs", s.jobs, "Conversions at once (default: one per core)")
        ->type_name("N")
        ->check(CLI::Range(1u, 256u));
    app.add_option("--queue", s.queue, "Requests that may wait for a conversion; more are answered 503 (default 16)")
        ->type_name("N")
        ->check(CLI::Range(0u, 4096u));
    app.add_option("--max-upload", max_upload, "Largest upload, with K, M or G of 1024 (default 256M)")->type_name("SIZE");
    app.add_option("--timeout", s.timeout, "Seconds a request may take to arrive whole (default 60)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1u, 3600u));
    app.add_option("--plugin", s.plugin, "Load the converter plug-in from PATH")->type_name("PATH");
}

bool split_listen(const std::string &listen, Settings &s) {
    const auto colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = listen.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::string port = listen.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    s.host = host;
    s.port = std::stoi(port);
    return s.port <= 65535;
}

}  // namespace

std::optional<uint64_t> parse_size(const std::string &text) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
    size_t used = 0;
    uint64_t n = 0;
    try {
        n = std::stoull(text, &used);
    } catch (const std::exception &) {
        return std::nullopt;
    }
    const std::string unit = text.substr(used);
    int shift = 0;
    if (unit == "K" || unit == "k") shift = 10;
    else if (unit == "M" || unit == "m") shift = 20;
    else if (unit == "G" || unit == "g") shift = 30;
    else if (!unit.empty()) return std::nullopt;
    if (n > (UINT64_MAX >> shift)) return std::nullopt;
    return n << shift;
}

std::optional<Settings> parse_settings(const std::vector<std::string> &args, std::string &error) {
    Settings s;
    std::string listen = "127.0.0.1:8080", max_upload = "256M";
    CLI::App app{"", "mwconv serve"};
    describe(app, s, listen, max_upload);
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp &) {
        s.help = true;
        return s;
    } catch (const CLI::ParseError &e) {
        error = e.what();
        return std::nullopt;
    }
    if (!split_listen(listen, s)) {
        error = "--listen needs ADDRESS:PORT, not " + listen;
        return std::nullopt;
    }
    const auto size = parse_size(max_upload);
    if (!size || *size == 0) {
        error = "--max-upload needs a size such as 256M, not " + max_upload;
        return std::nullopt;
    }
    s.max_upload = *size;
    if (s.jobs == 0) s.jobs = std::max(1u, std::thread::hardware_concurrency());
    return s;
}

std::string settings_help() {
    Settings s;
    std::string listen, max_upload;
    CLI::App app{"", "mwconv serve"};
    describe(app, s, listen, max_upload);
    std::string text = app.help();
    const auto usage = text.find("Usage:");
    if (usage != std::string::npos) text.erase(usage, text.find('\n', usage) + 1 - usage);
    return "usage: mwconv serve [--listen ADDRESS:PORT] [-j N] [--queue N] [--max-upload SIZE] [--timeout SECONDS]\n\n" +
           text + "\nSIGTERM or SIGINT stops it: running requests finish, then it exits 0.\n";
}

}  // namespace mwconv::serve
