// Running mwconv as a user does, in a scratch directory.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/bytes_io.h"

namespace testing_support {

struct RunResult {
    int status;
    std::string out, err;
};

class ScratchDir {
public:
    ScratchDir() {
        char name[] = "/tmp/mwconv-test-XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    std::string write(const std::string &name, const std::string &bytes) const {
        std::FILE *f = std::fopen(file(name).c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return file(name);
    }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Runs mwconv with `args` (already quoted for the shell), standard input from
// `stdin_path` when given.
inline RunResult run_mwconv(const ScratchDir &dir, const std::string &args, const std::string &stdin_path = "") {
    const std::string out = dir.file("run.out"), err = dir.file("run.err");
    std::string cmd = std::string("'") + MWCONV_BINARY + "' " + args + " >'" + out + "' 2>'" + err + "'";
    if (!stdin_path.empty()) cmd += " <'" + stdin_path + "'";
    const int raw = std::system(cmd.c_str());
    RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
    return r;
}

}  // namespace testing_support
