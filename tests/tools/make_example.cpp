// Writes the README's example document: make_example PATH
#include <cstdio>

#include "tests/support/example_document.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_example PATH\n");
        return 1;
    }
    const std::string doc = testing_support::example_document();
    std::FILE *f = std::fopen(argv[1], "wb");
    if (f == nullptr || std::fwrite(doc.data(), 1, doc.size(), f) != doc.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
