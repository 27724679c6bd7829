// Renderers of the internal stream, each on the styled document (styled.h).
// Every one returns false when the output could not be written.
#pragma once

#include <cstdio>
#include <string>

namespace render {

struct RenderOptions {
    std::string title = "Untitled";  // the document's name (HTML title, RTF information)
    bool fragment = false;           // HTML: the body's content alone
};

// UTF-8 text: one line per paragraph, tabs kept, a page break as a form feed,
// a soft line end as a space.  The page header's text opens the output and
// the page footer's closes it, each set off by a blank line; a note call is
// shown as [n] and the notes' texts follow the main text.
bool to_text(std::FILE *stream, std::FILE *out);

// A standalone HTML5 document (or, with `fragment`, the content of its body).
bool to_html(std::FILE *stream, std::FILE *out, const RenderOptions &options);

// GitHub-flavoured Markdown.
bool to_markdown(std::FILE *stream, std::FILE *out);

// RTF 1.x: ASCII with every other character as \uN.
bool to_rtf(std::FILE *stream, std::FILE *out, const RenderOptions &options);

}  // namespace render
