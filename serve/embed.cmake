# Writes OUTPUT, a C++ source that holds the page's files as string
# literals, from FILES (names under SOURCE_DIR, separated by commas).
set(body "")
set(table "")
set(index 0)
string(REPLACE "," ";" names "${FILES}")
foreach(name ${names})
  if(name MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  elseif(name MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  else()
    set(type "text/javascript; charset=utf-8")
  endif()
  file(READ "${SOURCE_DIR}/${name}" content HEX)
  # Bytes as escapes, so that any file survives whatever it holds.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${content}")
  string(REGEX REPLACE "((\\\\x[0-9a-f][0-9a-f]){64})" "\\1\"\n\"" escaped "${escaped}")
  string(APPEND body "constexpr char kFile${index}[] = \"${escaped}\";\n")
  string(APPEND table "    {\"/${name}\", {std::string_view(kFile${index}, sizeof kFile${index} - 1), \"${type}\"}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from serve/page/ by serve/embed.cmake.
#include \"serve/page.h\"

#include <map>

namespace mwconv::serve {

namespace {

${body}
}  // namespace

const PageFile *page_file(std::string_view path) {
    static const std::map<std::string_view, PageFile> kFiles = {
${table}    };
    const auto it = kFiles.find(path == \"/\" ? std::string_view(\"/index.html\") : path);
    return it == kFiles.end() ? nullptr : &it->second;
}

}  // namespace mwconv::serve
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
