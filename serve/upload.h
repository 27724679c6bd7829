// Receiving an upload: the request's body, or the first file of a
// multipart form, streamed into a scratch file of its own.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "lib/system.h"

namespace mwconv::serve {

struct Upload {
    sys::File file;    // rewound once received; unnamed, so it goes when closed
    std::string name;  // the form's file name, folders left out; empty for a raw body
    uint64_t size = 0;
};

enum class Receipt { Whole, Empty, NoFile, TooLarge, TimedOut, Malformed, NoScratch };

struct Limits {
    uint64_t max_upload;
    std::chrono::steady_clock::time_point deadline;  // when the whole request must have arrived
};

// Reads the body through `reader` into `upload`.
Receipt receive(const httplib::Request &req, const httplib::ContentReader &reader, const Limits &limits, Upload &upload);

// A form's file name as the input's name: its last component (browsers on
// Windows send whole paths); empty when that leaves nothing usable.
std::string input_name(const std::string &filename);

}  // namespace mwconv::serve
