#include "serve/entry.h"

#include <string>
#include <vector>

#include "serve/service.h"

extern "C" int mwconv_serve(int argc, const char *const *argv) {
    return mwconv::serve::run(std::vector<std::string>(argv, argv + argc));
}
