// The web page's files, built into the program.
#pragma once

#include <string_view>

namespace mwconv::serve {

struct PageFile {
    std::string_view content;
    std::string_view type;
};

// The file served at `path` ("/", "/page.css"), or null.
const PageFile *page_file(std::string_view path);

}  // namespace mwconv::serve
