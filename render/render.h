// Renderers of the internal stream, each on the styled document (styled.h).
// Every one returns false when the output could not be written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace render {

struct RenderOptions {
    std::string title = "Untitled";  // the document's name (HTML title, RTF information, DOCX and ODT metadata)
    bool fragment = false;           // HTML: the body's content alone
    // Where the pictures were extracted (mwconv --extract-media): HTML and
    // Markdown then refer to DIR/pictureN.svg instead of showing the picture
    // inline (HTML) or a placeholder (Markdown).
    std::string media_dir;
    std::string generator = "mwconv";  // the program that made the document (DOCX and ODT metadata)
    std::string version;               // and its version
    // The document's own dates (Unix seconds), as the Finder kept them, for
    // DOCX and ODT metadata; none when unknown, and then none are written,
    // so that the same input always gives the same bytes.
    std::optional<int64_t> created, modified;
};

// UTF-8 text: one line per paragraph, tabs kept, a page break as a form feed,
// a soft line end as a space, a picture as [picture N].  The page header's text opens the output and
// the page footer's closes it, each set off by a blank line; a note call is
// shown as [n] and the notes' texts follow the main text.
bool to_text(std::FILE *stream, std::FILE *out);

// A standalone HTML5 document (or, with `fragment`, the content of its body);
// pictures are inline SVG at their frame's size.
bool to_html(std::FILE *stream, std::FILE *out, const RenderOptions &options);

// GitHub-flavoured Markdown.
bool to_markdown(std::FILE *stream, std::FILE *out, const RenderOptions &options = {});

// RTF 1.x: ASCII with every other character as \uN; a picture as PNG when it
// is made of bitmaps alone, otherwise as the QuickDraw picture itself.
bool to_rtf(std::FILE *stream, std::FILE *out, const RenderOptions &options);

// Writes each picture of the stream as DIR/pictureN.svg and, as a PICT file
// (512 zero bytes, then the picture), DIR/pictureN.pict, numbered as the
// renderers number them; creates DIR when needed.  False, with `error` set,
// when a file cannot be written.  The stream is read to its end.
bool extract_media(std::FILE *stream, const std::filesystem::path &dir, std::string &error);

#ifdef MWCONV_HAVE_LIBZIP
// Zip packages, in builds that have libzip.  `out` must be seekable.  The
// same stream and options always give the same bytes.

// DOCX (Office Open XML): the header, footer and notes as their own parts.
bool to_docx(std::FILE *stream, std::FILE *out, const RenderOptions &options);

// ODT (OpenDocument Text): the header and footer in the master page, notes
// in place, one automatic style for each distinct character or paragraph
// style.
bool to_odt(std::FILE *stream, std::FILE *out, const RenderOptions &options);
#endif

#ifdef MWCONV_HAVE_PDF
// PDF, in builds that have cairo and pango: the document's pages, each
// written as it is finished; fonts embedded as subsets; tagged.  Where the
// document records its author's layout, paragraphs start on their pages at
// their tops with their line heights.
bool to_pdf(std::FILE *stream, std::FILE *out, const RenderOptions &options);
#endif

}  // namespace render
