#include "cli/system.h"

#include <chrono>
#include <filesystem>
#include <random>

namespace mwconv::sys {

std::string unique_suffix() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 pick{std::random_device{}()};
    std::string suffix;
    for (int i = 0; i < 6; ++i) suffix += kLetters[pick() % (sizeof kLetters - 1)];
    return suffix;
}

void set_modified(const std::string &path, int64_t unix_seconds) {
    using namespace std::chrono;
    std::error_code ec;
    std::filesystem::last_write_time(to_path(path), file_clock::from_sys(sys_seconds{seconds{unix_seconds}}), ec);
}

}  // namespace mwconv::sys
