#include "mactext/roman.h"

#include "host/kavrel.h"
#include "mactext/utf8.h"

namespace mactext {

std::string mac_roman_to_utf8(std::string_view mac) {
    std::string out;
    for (unsigned char c : mac) append_utf8(out, MAC2INT[c]);
    return out;
}

}  // namespace mactext
