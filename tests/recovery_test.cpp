// Recovery of damaged documents, measured as a benchmark: the real documents
// of the corpus and builder documents, cut short at 50, 75 and 90 % of their
// length and with each 512-byte sector zeroed in turn; MacWrite II documents
// as the application writes them, with each 256-byte block zeroed in turn
// and cut at every tenth of their length.  What is measured is
// the share of the sound document's words that each damaged copy keeps, the
// words it shows that the sound document does not have, and recovered
// paragraphs out of their order.  The figures are printed and held to what
// recovery reaches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "render/render.h"
#include "tests/support/bytes_io.h"
#include "tests/support/corpus.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw2_builder.h"
#include "tests/support/mw2disk_builder.h"
#include "tests/support/mw5_builder.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// The document's text as the text renderer writes it, and the import's result.
struct Text {
    int32_t result;
    std::string text;
};

Text text_of(const Bytes &document, ConverterFn import = import_macwrite_5) {
    const Converted c = convert(import, document);
    std::FILE *stream = stream_of(c.output);
    std::FILE *out = kavrel::open_scratch_stream();
    render::to_text(stream, out);
    Text t{c.result, contents(out)};
    std::fclose(stream);
    std::fclose(out);
    return t;
}

std::vector<std::string> words(const std::string &text) {
    std::vector<std::string> out;
    std::string word;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) || (c & 0x80)) {
            word += c;
        } else if (!word.empty()) {
            out.push_back(word);
            word.clear();
        }
    }
    if (!word.empty()) out.push_back(word);
    return out;
}

std::vector<std::string> paragraphs(const std::string &text) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        if (!words(text.substr(from, end - from)).empty()) out.push_back(text.substr(from, end - from));
    return out;
}

struct Tally {
    long kept = 0, total = 0;             // words of the sound document kept, and all of them
    long shown = 0, invented = 0;         // words shown, and those the sound document has not
    long placed = 0, out_of_order = 0;    // paragraphs found whole, and those out of order
    long silent = 0;                      // copies that lost words and still said converted

    double share() const { return total == 0 ? 1.0 : double(kept) / double(total); }
};

// Paragraphs of the sound text met whole, in their order: those off the
// longest rising sequence of their places are out of order.
long out_of_order(const std::vector<std::string> &sound, const std::vector<std::string> &found, long &placed) {
    std::map<std::string, int> count, place;
    for (size_t i = 0; i < sound.size(); ++i) {
        ++count[sound[i]];
        place[sound[i]] = static_cast<int>(i);
    }
    std::vector<int> rising;
    long seen = 0;
    for (const std::string &p : found) {
        if (count[p] != 1) continue;
        ++seen;
        const auto at = std::lower_bound(rising.begin(), rising.end(), place[p]);
        if (at == rising.end())
            rising.push_back(place[p]);
        else
            *at = place[p];
    }
    placed += seen;
    return seen - static_cast<long>(rising.size());
}

void measure(const Text &sound, const Bytes &damaged, Tally &t) {
    const Text got = text_of(damaged);
    std::map<std::string, long> have;
    for (const std::string &w : words(sound.text)) ++have[w];
    const std::vector<std::string> shown = words(got.text);
    std::map<std::string, long> shows;
    for (const std::string &w : shown) ++shows[w];
    long kept = 0;
    for (const auto &[w, n] : shows) {
        kept += std::min(n, have[w]);
        t.invented += std::max(0L, n - have[w]);
    }
    t.kept += kept;
    t.total += static_cast<long>(words(sound.text).size());
    t.shown += static_cast<long>(shown.size());
    t.out_of_order += out_of_order(paragraphs(sound.text), paragraphs(got.text), t.placed);
    if (got.result == kConverted && kept < static_cast<long>(words(sound.text).size())) ++t.silent;
}

// A long document of plain and compressed paragraphs between rulers, with a
// header and a footer, its words drawn from a small vocabulary.
Bytes builder_document_5() {
    static const char *const kWords[] = {"floppy", "sector", "paragraph", "ruler", "margin", "letter", "report",
                                         "quarterly", "meeting", "agenda", "budget", "summary", "draft", "memo"};
    Mw5Builder doc;
    doc.text(Area::Header, "Quarterly report\r", {{0, 12, 1, 3}});
    doc.text(Area::Footer, "Draft only\r", {{0, 10, 0, 3}});
    uint32_t state = 1;
    for (int p = 0; p < 160; ++p) {
        if (p % 20 == 0) doc.ruler(Area::Main, RulerSpec{});
        std::string text = "Item " + std::to_string(p);
        for (int w = 0; w < 12 + p % 9; ++w) {
            state = state * 1103515245u + 12345u;
            text += std::string(" ") + kWords[(state >> 16) % std::size(kWords)];
        }
        text += ".\r";
        if (p % 3 == 0)
            doc.compressed(Area::Main, text, {{0, 12, 0, 3}});
        else
            doc.text(Area::Main, text, {{0, 12, 0, 3}, {5, 12, 1, 3}});
    }
    return doc.build();
}

Bytes builder_document_22() {
    Mw22Builder doc;
    doc.ruler(Area::Main);
    for (int p = 0; p < 60; ++p)
        doc.text(Area::Main, "Line " + std::to_string(p) + " of an older memo, kept in records.\r", {{0, 12, 0, 3}});
    std::string bytes = doc.build();
    // The length word of each record, which the builder leaves 0 and which
    // recovery takes up the walk by, set as MacWrite sets it.
    auto word = [&](size_t at) { return static_cast<size_t>(static_cast<uint8_t>(bytes[at]) << 8 | static_cast<uint8_t>(bytes[at + 1])); };
    for (size_t at = word(2); at + 6 <= bytes.size();) {
        size_t end = at + 38;
        if (word(at) != 0) {
            end = at + 6 + word(at + 4);
            end += end & 1;
            end += 2 + word(end);
            end += 2 + word(end) + (word(end) & 1);
        }
        bytes[at + 2] = static_cast<char>((end - at - 4) >> 8);
        bytes[at + 3] = static_cast<char>(end - at - 4);
        at = end;
    }
    return bytes;
}

std::vector<Bytes> documents() {
    std::vector<Bytes> docs{builder_document_5(), builder_document_22()};
    for (const char *folder : {"macwrite5", "macwrite22", "macbinary"}) {
        const fs::path dir = corpus_dir() / folder;
        if (!fs::is_directory(dir)) continue;
        std::vector<fs::path> paths;
        for (const auto &e : fs::directory_iterator(dir)) paths.push_back(e.path());
        std::sort(paths.begin(), paths.end());
        for (const fs::path &p : paths) docs.push_back(read_file(p.string()));
    }
    return docs;
}

TEST(Recovery, DamagedDocumentsKeepTheirWordsAndInventNone) {
    const std::vector<Bytes> docs = documents();
    if (docs.size() <= 2) std::printf("no corpus at %s: builder documents only\n", corpus_dir().string().c_str());
    std::map<int, Tally> cuts;
    Tally sectors;
    for (const Bytes &doc : docs) {
        const Text sound = text_of(doc);
        ASSERT_EQ(sound.result, kConverted);
        for (const int percent : {50, 75, 90}) measure(sound, doc.substr(0, doc.size() * percent / 100), cuts[percent]);
        for (size_t at = 0; at < doc.size(); at += 512) {
            Bytes zeroed = doc;
            std::fill(zeroed.begin() + static_cast<long>(at), zeroed.begin() + static_cast<long>(std::min(doc.size(), at + 512)), '\0');
            measure(sound, zeroed, sectors);
        }
    }
    auto report = [](const char *what, const Tally &t) {
        std::printf("%-22s %6.2f %% of the words kept; %.2f %% of the words shown invented; %ld of %ld paragraphs "
                    "out of order; %ld silent losses\n",
                    what, 100 * t.share(), t.shown == 0 ? 0.0 : 100.0 * double(t.invented) / double(t.shown),
                    t.out_of_order, t.placed, t.silent);
    };
    report("cut at 50 %:", cuts[50]);
    report("cut at 75 %:", cuts[75]);
    report("cut at 90 %:", cuts[90]);
    report("one sector zeroed:", sectors);
    EXPECT_GE(cuts[50].share(), 0.40);
    EXPECT_GE(cuts[75].share(), 0.65);
    EXPECT_GE(cuts[90].share(), 0.85);
    EXPECT_GE(sectors.share(), 0.97);
    long shown = sectors.shown, invented = sectors.invented, cut_placed = 0, cut_out_of_order = 0;
    for (const auto &[percent, t] : cuts) {
        shown += t.shown;
        invented += t.invented;
        cut_placed += t.placed;
        cut_out_of_order += t.out_of_order;
    }
    EXPECT_LE(double(invented), 0.005 * double(shown));
    // A lost sector leaves most of the paragraph index: the paragraphs whose
    // entries it took are placed by their neighbours in the file, which
    // MacWrite writes in runs forwards and backwards, and a few of them land
    // out of order.  A cut copy loses the index at the end of the file whole
    // or nearly, and its paragraphs follow the file, whose order MacWrite
    // does not keep: there the order is a guess, as the message says.
    EXPECT_LE(double(sectors.out_of_order), 0.005 * double(sectors.placed));
    EXPECT_LE(double(cut_out_of_order), 0.25 * double(cut_placed));
    EXPECT_EQ(sectors.silent + cuts[50].silent + cuts[75].silent + cuts[90].silent, 0);
}

// A MacWrite II document of the layout of in-memory record sizes: forty
// paragraphs in one area, and a second area.
Bytes builder_document_ii_memory() {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.para_format(0);
    std::string text;
    for (int i = 0; i < 40; ++i) text += "Paragraph " + std::to_string(i) + " of the older layout, with words enough to fill blocks.\r";
    const auto length = static_cast<int32_t>(text.size());
    doc.area({text, {{0, length}}, {{0, length}}});
    doc.area({"Closing words\r", {{0, 14}}, {{0, 14}}, 200, 1});
    return doc.build();
}

// Every block of a MacWrite II document, zeroed in turn, and the document cut
// at every tenth: a copy that loses words says it is damaged, shows no word
// that is not the document's (a word that a lost block cuts leaves a part of
// itself), and keeps the words of every block that is still whole.  Two
// documents as the application writes them, one of the other layout.
TEST(Recovery, MacWriteIIKeepsEveryBlockThatSurvives) {
    for (const Bytes &doc : {full_disk_document().build(), long_disk_document().build(), builder_document_ii_memory()}) {
        SCOPED_TRACE(doc.size());
        const Text sound = text_of(doc, import_macwrite_ii);
        ASSERT_EQ(sound.result, kConverted);
        // The header for left-hand pages is the document's too, though a sound
        // conversion shows the right-hand pages' one.
        std::vector<std::string> vocabulary = words(sound.text);
        vocabulary.push_back("Left");
        const long total = static_cast<long>(words(sound.text).size());
        const auto kept_share = [&](const Bytes &damaged, const std::string &what) {
            const Text got = text_of(damaged, import_macwrite_ii);
            std::map<std::string, long> have;
            for (const std::string &w : words(sound.text)) ++have[w];
            long kept = 0;
            for (const std::string &w : words(got.text)) {
                if (have[w] > 0) {
                    --have[w];
                    ++kept;
                }
                const bool part = std::any_of(vocabulary.begin(), vocabulary.end(),
                                              [&](const std::string &v) { return v.find(w) != std::string::npos; });
                EXPECT_TRUE(part) << what << ": \"" << w << "\" is no word of the document";
            }
            if (kept < total) {
                EXPECT_EQ(got.result, kConvertedDamaged) << what << " lost words and said nothing";
            }
            return double(kept) / double(total);
        };
        double least = 1, sum = 0;
        const size_t blocks = doc.size() / 256;
        for (size_t b = 0; b < blocks; ++b) {
            Bytes zeroed = doc;
            std::fill(zeroed.begin() + static_cast<long>(b * 256), zeroed.begin() + static_cast<long>(b * 256 + 256), '\0');
            const double share = kept_share(zeroed, "block " + std::to_string(b + 1) + " zeroed");
            least = std::min(least, share);
            sum += share;
        }
        std::printf("%zu bytes, one block zeroed: %.1f %% of the words kept on average, %.1f %% at least\n", doc.size(),
                    100 * sum / double(blocks), 100 * least);
        // A block holds a fiftieth of the long document's text, a twentieth of
        // the other layout's, and an eighth of the short one's main text.
        EXPECT_GE(least, doc.size() > 10000 ? 0.97 : 0.85);
        for (int tenth = 2; tenth <= 9; ++tenth) {
            const double share = kept_share(doc.substr(0, doc.size() * tenth / 10), "cut at " + std::to_string(tenth * 10) + " %");
            std::printf("  cut at %d %%: %.1f %% of the words kept\n", tenth * 10, 100 * share);
            EXPECT_GE(share, tenth / 10.0 - 0.1) << "cut at " << tenth * 10 << " %";
        }
    }
}

}  // namespace
