// Mac OS Roman, the character set of the classic Mac's names and text.
#pragma once

#include <string>
#include <string_view>

namespace mactext {

// Mac OS Roman bytes (a file name, a Finder type) as UTF-8, through the
// standard Apple mapping the host's table holds.
std::string mac_roman_to_utf8(std::string_view mac);

}  // namespace mactext
