// Programs that read our outputs (pandoc, cmark-gfm, LibreOffice, Chromium,
// pdftotext).  A test that needs one skips with a message when it is not
// installed, and fails instead under MWCONV_REQUIRE_TOOLS=1, as in CI.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/bytes_io.h"

namespace testing_support {

inline bool have_program(const std::string &name) {
    return std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) == 0;
}

inline bool tools_required() {
    const char *v = std::getenv("MWCONV_REQUIRE_TOOLS");
    return v != nullptr && std::string(v) == "1";
}

#define REQUIRE_PROGRAM(name)                                                                        \
    do {                                                                                             \
        if (!::testing_support::have_program(name)) {                                                \
            if (::testing_support::tools_required()) FAIL() << name << " is not installed";          \
            GTEST_SKIP() << name << " is not installed (set MWCONV_REQUIRE_TOOLS=1 to fail instead)"; \
        }                                                                                            \
    } while (0)

// Runs a shell command; its standard output, or "" with `ok` false when it
// exits with another status than 0.
inline std::string run_command(const std::string &command, bool *ok = nullptr) {
    std::string out;
    std::FILE *p = ::popen(command.c_str(), "r");
    if (p == nullptr) {
        if (ok != nullptr) *ok = false;
        return out;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    const int status = ::pclose(p);
    const bool good = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (ok != nullptr) *ok = good;
    return good ? out : std::string();
}

}  // namespace testing_support
