// Real documents of other people: golden outputs, libmwaw's text as a second
// opinion, MacBinary equivalence and the refusal of neighbouring formats.
// The documents live beside the clone, never in it; without them the tests
// report that they skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "catalogue/catalogue.h"
#include "host/stream_reader.h"
#include "render/render.h"
#include "tests/support/bytes_io.h"
#include "tests/support/corpus.h"
#include "tests/support/run.h"
#include "tests/support/stream_parts.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

fs::path golden_dir() { return fs::path(MWCONV_SOURCE_DIR) / "tests" / "golden"; }

std::vector<fs::path> documents(const std::string &folder) {
    std::vector<fs::path> out;
    const fs::path dir = corpus_dir() / folder;
    if (!fs::is_directory(dir)) return out;
    for (const auto &e : fs::directory_iterator(dir)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

#define REQUIRE_CORPUS()                                                                              \
    if (!fs::is_directory(corpus_dir()))                                                              \
        GTEST_SKIP() << "no corpus at " << corpus_dir() << " (set MWCONV_CORPUS to run these tests)"

std::string text_of_stream(const std::string &stream) {
    std::FILE *in = stream_of(stream);
    std::FILE *out = kavrel::open_scratch_stream();
    render::to_text(in, out);
    const std::string text = contents(out);
    std::fclose(in);
    std::fclose(out);
    return text;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::replace(line.begin(), line.end(), '\f', ' ');
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
        out.push_back(line);
    }
    return out;
}

Converted import_auto(const std::string &bytes) {
    const auto *head = reinterpret_cast<const uint8_t *>(bytes.data());
    if (macwrite_bid_5(head, bytes.size()) > 0) return convert(import_macwrite_5, bytes);
    if (macwrite_bid_22(head, bytes.size()) > 0) return convert(import_macwrite_22, bytes);
    return {-1, {}};
}

// Compares with the stored golden output; MWCONV_UPDATE_GOLDEN=1 rewrites it.
void expect_golden(const std::string &name, const std::string &actual) {
    const fs::path path = golden_dir() / name;
    if (std::getenv("MWCONV_UPDATE_GOLDEN") != nullptr) {
        fs::create_directories(golden_dir());
        std::FILE *f = std::fopen(path.c_str(), "wb");
        std::fwrite(actual.data(), 1, actual.size(), f);
        std::fclose(f);
    }
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(read_file(path), actual) << "differs from " << path;
}

TEST(Corpus, EveryDocumentMatchesItsGoldenStreamAndText) {
    REQUIRE_CORPUS();
    int seen = 0;
    for (const char *folder : {"macwrite5", "macwrite22", "macbinary"})
        for (const fs::path &doc : documents(folder)) {
            SCOPED_TRACE(doc.string());
            const Converted c = import_auto(read_file(doc));
            ASSERT_EQ(c.result, 0);
            const std::string stem = std::string(folder) + "__" + doc.filename().string();
            expect_golden(stem + ".stream", c.output);
            expect_golden(stem + ".txt", text_of_stream(c.output));
            ++seen;
        }
    EXPECT_EQ(seen, 8);
}

TEST(Corpus, TextAgreesWithLibmwawApartFromBlocksAndBlankLines) {
    REQUIRE_CORPUS();
    int compared = 0;
    for (const fs::path &doc : documents("macwrite5")) {
        const fs::path reference = corpus_dir() / "reference-text" / (doc.filename().string() + ".txt");
        if (!fs::exists(reference)) continue;  // documents libmwaw rejects
        SCOPED_TRACE(doc.string());
        const auto [main, blocks] = split_stream(import_auto(read_file(doc)).output, true, false);
        // libmwaw's text shows the header's and footer's fields as nothing
        const std::vector<std::string> block_lines = lines_of(text_of_stream(without_fields(blocks)));
        const std::set<std::string> block_set(block_lines.begin(), block_lines.end());
        std::vector<std::string> expected;
        for (const std::string &line : lines_of(read_file(reference)))
            if (!block_set.count(line)) expected.push_back(line);
        // nor does it show anything for a picture
        std::vector<std::string> ours = lines_of(text_of_stream(main));
        std::erase_if(ours, [](const std::string &l) { return l.starts_with("[picture ") && l.ends_with("]"); });
        EXPECT_EQ(ours, expected);
        ++compared;
    }
    EXPECT_EQ(compared, 4);
}

TEST(Corpus, MacBinaryFilesConvertLikeTheirDataForks) {
    REQUIRE_CORPUS();
    const std::pair<const char *, const char *> pairs[] = {
        {"macbinary/DiskCopyReader__MW45disk__About_MacWrite.bin", "macwrite5/DiskCopyReader__MW45disk__About_MacWrite"},
        {"macbinary/infinite-mac__MFS-HD__Sample_Memo_v3.bin", "macwrite22/infinite-mac__MFS-HD__Sample_Memo_v3"},
    };
    for (const auto &[wrapped, bare] : pairs) {
        SCOPED_TRACE(wrapped);
        const Converted a = import_auto(read_file(corpus_dir() / wrapped));
        const Converted b = import_auto(read_file(corpus_dir() / bare));
        EXPECT_EQ(a.result, 0);
        EXPECT_FALSE(a.output.empty());
        EXPECT_EQ(a.output, b.output);
    }
}

// The 1984 sample memo exists in both generations with the same text,
// rulers and runs: the two readers must agree on it to the byte, but for the
// layout that MacWrite 4.5 recorded and 1.0 did not.
TEST(Corpus, TheSameMemoInBothGenerationsGivesTheSameStream) {
    REQUIRE_CORPUS();
    const Converted old = import_auto(read_file(corpus_dir() / "macwrite22/infinite-mac__MFS-HD__Sample_Memo_v3"));
    const Converted newer = import_auto(read_file(corpus_dir() / "macwrite5/DiskCopyReader__MW45disk__Sample_Memo"));
    ASSERT_EQ(old.result, 0);
    EXPECT_NE(old.output.find("\\L\x0C"), std::string::npos);  // its runs are read
    EXPECT_EQ(old.output, without_laid(newer.output));
    EXPECT_NE(without_laid(newer.output), newer.output);
}

TEST(Corpus, NeighbouringFormatsAreRefusedWithStatusTwoAndNoOutput) {
    REQUIRE_CORPUS();
    const auto docs = documents("negative");
    ASSERT_FALSE(docs.empty());
    for (const fs::path &doc : docs) {
        SCOPED_TRACE(doc.string());
        ScratchDir dir;
        const std::string target = dir.file("out.txt");
        const RunResult r = run_mwconv(dir, "-o '" + target + "' '" + doc.string() + "'");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "mwconv: " + doc.string() + ": not a MacWrite document\n");
        EXPECT_FALSE(fs::exists(target));
        EXPECT_EQ(run_mwconv(dir, "'" + doc.string() + "'").out, "");
    }
}

}  // namespace
