// Writes fuzzing seeds of every MacWrite generation, built from the layouts:
//   make_seeds DIR
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/example_document.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw2_builder.h"

namespace {

using namespace testing_support;

std::string macwrite2_seed(ChainLinks links) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.char_style(23, 10, 0x1003);
    doc.para_format(0);
    doc.para_format(1);
    doc.empty_records(0);
    doc.area({"Text with a note\x05 and a tab\tand more words to fill a line.\r", {{0, 20}, {1, 10}, {0, 30}}, {{0, 15}, {1, 45}}, 17});
    doc.area({"\x03Note text.\r\x03Another.\r", {{0, 22}}, {{0, 22}}, 200, 1});
    doc.links(links);
    return doc.build();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 1;
    }
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"macwrite5-example", example_document()},
        {"macwrite22", Mw22Builder()
                           .paragraph("Old text\r")
                           .ruler(Area::Main)
                           .paragraph("C:\\\x8E\r", 3, 5)
                           .text(Area::Main, "Bold abg\r", {{0, 12, 1, 3}, {5, 12, 0, 23}})
                           .text(Area::Header, "Memo\r", {{0, 9, 2, 3}})
                           .text(Area::Footer, "p. \r")
                           .field(Area::Footer, 1, 0, 40)
                           .build()},
        {"macwrite2-forward", macwrite2_seed(ChainLinks::Forward)},
        {"macwrite2-backward", macwrite2_seed(ChainLinks::Backward)},
        {"macwrite2-runs", macwrite2_seed(ChainLinks::BlockRuns)},
    };
    for (const auto &[name, bytes] : seeds) {
        const std::string path = std::string(argv[1]) + "/" + name;
        std::FILE *f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
