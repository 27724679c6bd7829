// What the service's answers say besides their bodies: media types, file
// names, problem details, header text.
#pragma once

#include <httplib.h>

#include <string>

#include "lib/mwconv.h"

namespace mwconv::serve {

// The media type of an output (charset=utf-8 on text types).
std::string content_type(To to, bool macbinary);

// "attachment; filename=...; filename*=UTF-8''..." for `name`: an ASCII
// stand-in for old clients, and the name itself encoded by RFC 5987.
std::string attachment(const std::string &name);

// `text` as a header value: printable ASCII stays, every other byte (and
// "%") is percent-encoded.
std::string header_text(const std::string &text);

// An answer of RFC 9457 problem details: `status`, a title and the
// command's message as the detail.
void problem(httplib::Response &res, int status, const std::string &title, const std::string &detail);

// The reason phrase of an HTTP status of an error.
const char *reason_phrase(int status);

// The HTTP status for a failed conversion's exit status.
int status_of(Status status);
const char *title_of(Status status);

}  // namespace mwconv::serve
