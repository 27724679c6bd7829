// Renderers of the internal stream.
#pragma once

#include <cstdio>

namespace render {

// UTF-8 text: one line per paragraph, tabs kept, a page break as a form feed,
// a soft line end as a space.  The page header's text opens the output and
// the page footer's closes it, each set off by a blank line; a note call is
// shown as [n] and the notes' texts follow the main text.  Returns false when
// the output could not be written.
bool to_text(std::FILE *stream, std::FILE *out);

}  // namespace render
