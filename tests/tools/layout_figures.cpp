// Measures printed PDFs against the pages a MacWrite 4.6/5 document stores:
//   layout_figures [-v | -a] DOCUMENT PDF...
// For each PDF: the printed and the stored page count, how many pages' first
// paragraphs and how many of all paragraphs printed on their stored page
// within 2 points of their stored top; -v lists every page's first
// paragraph with its offset, -a every paragraph.
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/bytes_io.h"
#include "tests/support/printed_layout.h"

namespace {

using namespace testing_support;

void report(const char *pdf, const StoredLayout &stored, int verbose) {
    const LayoutFigures f = measure_layout(stored, printed_lines(pdf));
    std::printf("%s: %d pages (stored %d); pages starting within 2 pt: %d of %d; paragraphs: %d of %zu\n", pdf,
                f.printed_pages, f.stored_pages, f.pages_within(2), f.pages_measured(), f.paragraphs_within(2),
                f.paragraphs.size());
    for (const ParagraphStart &s : f.paragraphs) {
        if (verbose == 0 || (verbose == 1 && !s.first)) continue;
        if (s.printed_page < 0)
            std::printf("  page %d  %-24s  stored %6.1f  not found\n", s.page + 1, s.text.c_str(), s.stored);
        else
            std::printf("  page %d  %-24s  stored %6.1f  printed page %d at %6.1f  (%+.1f)\n", s.page + 1,
                        s.text.c_str(), s.stored, s.printed_page + 1, s.printed, s.offset());
    }
}

}  // namespace

int main(int argc, char **argv) {
    int first = 1, verbose = 0;
    if (argc > 1 && (std::strcmp(argv[1], "-v") == 0 || std::strcmp(argv[1], "-a") == 0)) {
        verbose = argv[1][1] == 'v' ? 1 : 2;
        ++first;
    }
    if (argc - first < 2) {
        std::fprintf(stderr, "usage: layout_figures [-v | -a] DOCUMENT PDF...\n");
        return 1;
    }
    const StoredLayout stored = stored_layout(document_data_fork(read_file(argv[first])));
    if (!stored.readable) {
        std::fprintf(stderr, "%s: not a MacWrite 4.6/5 document\n", argv[first]);
        return 2;
    }
    std::printf("%s: %s; page rectangle %.0f x %.0f pt; header %d pt, footer %d pt\n", argv[first],
                stored.laid_out() ? "laid out by MacWrite" : "no stored layout", stored.rect_width,
                stored.rect_height, stored.header, stored.footer);
    for (int i = first + 1; i < argc; ++i) report(argv[i], stored, verbose);
    return 0;
}
