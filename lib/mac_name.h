// The Macintosh name that a MacBinary header gives an output.
#pragma once

#include <string>

namespace mwconv {

// The output's file name (or, on standard output, the input's; "Untitled"
// for standard input) without a ".bin" that only says the file is MacBinary,
// in Mac OS Roman: a character that Mac OS Roman lacks becomes "?", a colon
// (the classic Mac's folder separator) "-", and the name stops at 63 bytes.
std::string mac_file_name(const std::string &input, const std::string &output);

}  // namespace mwconv
