// The author's pages in the flow: for outputs whose pages a word processor
// or a browser lays out, the pages that a MacWrite 4.6/5 document stores
// for its main text (the placements) become page breaks where the author's
// pages start, and room above a page's first paragraph where the author's
// page held lines of the paragraph before.
#pragma once

#include <memory>

#include "render/styled.h"

namespace render {

// A listener that hands every event on to `out`, with the stored pages
// turned into breaks and spacing.
std::unique_ptr<StyledListener> following_stored_pages(StyledListener &out);

}  // namespace render
