// Writes the large documents that bench/compare.sh measures:
//   make_documents stream PARAGRAPHS CHARACTERS FILE
//     an internal stream of PARAGRAPHS paragraphs of about CHARACTERS
//     characters each, with a bold word now and then (our export makes a
//     MacWrite 4.6/5 document of it);
//   make_documents macwrite2 MEGABYTES NOTES FILE
//     a MacWrite II document of about MEGABYTES MB of text that calls NOTES
//     footnotes, spread evenly.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/mw2_builder.h"

namespace {

using namespace testing_support;

const char *const kWords[] = {"the",    "quick",     "brown", "fox",      "jumps", "over", "lazy",
                              "dog",    "while",     "reading", "old",    "documents", "from", "classic",
                              "machines", "of",      "another", "time"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

std::string stream(long paragraphs, size_t characters) {
    std::string s;
    size_t word = 0;
    for (long p = 0; p < paragraphs; ++p) {
        std::string line;
        while (line.size() < characters) {
            const std::string w = kWords[word % kWordCount];
            line += ++word % 11 == 0 ? "\\#" + w + "\\$ " : w + " ";
        }
        s += line + "\r";
    }
    return s;
}

std::string macwrite2(long megabytes, long notes) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.para_format(0);
    Mw2Area main, texts;
    main.chars_per_block = texts.chars_per_block = 250;
    std::string paragraph;
    for (size_t word = 0; paragraph.size() < 3000; ++word) paragraph += std::string(kWords[word % kWordCount]) + " ";
    paragraph += "\r";
    while (main.text.size() < static_cast<size_t>(megabytes) << 20) main.text += paragraph;
    const size_t spacing = main.text.size() / static_cast<size_t>(notes > 0 ? notes : 1);
    for (long n = 0; n < notes; ++n) {
        main.text[static_cast<size_t>(n) * spacing + spacing / 2] = '\x05';  // a call
        texts.text += "\x03" "The text of a note, a sentence or two long.\r";
    }
    for (Mw2Area *a : {&main, &texts}) {
        a->char_runs.push_back({0, static_cast<int32_t>(a->text.size())});
        a->para_runs.push_back({0, static_cast<int32_t>(a->text.size())});
    }
    return doc.area(main).area(texts).chains_before_text().build();
}

}  // namespace

int main(int argc, char **argv) {
    const std::string kind = argc == 5 ? argv[1] : "";
    std::string bytes;
    if (kind == "stream")
        bytes = stream(std::atol(argv[2]), static_cast<size_t>(std::atol(argv[3])));
    else if (kind == "macwrite2")
        bytes = macwrite2(std::atol(argv[2]), std::atol(argv[3]));
    if (bytes.empty()) {
        std::fprintf(stderr, "usage: make_documents stream PARAGRAPHS CHARACTERS FILE\n"
                             "       make_documents macwrite2 MEGABYTES NOTES FILE\n");
        return 1;
    }
    std::FILE *f = std::fopen(argv[4], "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::perror(argv[4]);
        return 1;
    }
    return 0;
}
