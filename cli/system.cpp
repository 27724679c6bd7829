#include "cli/system.h"

#include <random>

namespace mwconv::sys {

std::string unique_suffix() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 pick{std::random_device{}()};
    std::string suffix;
    for (int i = 0; i < 6; ++i) suffix += kLetters[pick() % (sizeof kLetters - 1)];
    return suffix;
}

}  // namespace mwconv::sys
