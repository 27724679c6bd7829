// UTF-8 text into the internal stream.
#pragma once

#include <cstdio>

namespace render {

// A line is a paragraph (LF and CRLF end it, as does a lone CR), a tab stays
// a tab, a form feed is a page break; a character outside ISO 8859-1 becomes a
// character of its Unicode plane.  A byte-order mark at the start is dropped,
// other control characters carry no text and are dropped, and characters
// beyond the Basic Multilingual Plane become U+FFFD.  Returns -1 when all is
// read, else the byte offset of the first byte that is not valid UTF-8.
long text_to_stream(std::FILE *in, std::FILE *out);

}  // namespace render
