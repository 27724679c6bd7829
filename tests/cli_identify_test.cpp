// mwconv --identify: every generation told apart, with what its header and
// index say, and a reason for everything else.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/corpus.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw2_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;
using nlohmann::json;

std::vector<json> lines_of(const std::string &out) {
    std::vector<json> objects;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) objects.push_back(json::parse(line));
    return objects;
}

TEST(CliIdentify, BuilderDocumentsOfEveryGeneration) {
    ScratchDir dir;
    Mw5Builder mw5;
    mw5.text(Area::Header, "Head\r").text(Area::Main, "One\r").compressed(Area::Main, "two\r").picture(Area::Main, 22)
        .picture(Area::Main, 300);
    dir.write("a5", mw5.build());
    dir.write("b5.bin", mw5.build_macbinary());
    dir.write("c22", Mw22Builder().paragraph("Old\r").paragraph("Older\r").build());
    Mw2Builder mw2;
    mw2.char_style(3, 12);
    mw2.area({"Text\x05 and\x05.\r", {{0, 13}}, {}});
    mw2.area({"\x03" "First.\r\x03" "Second.\r", {{0, 16}}, {}});
    dir.write("d2", mw2.build());
    dir.write("e.txt", "plain text\n");
    const RunResult r = run_mwconv(dir, "--identify --json " + dir.file("a5") + " " + dir.file("b5.bin") + " " +
                                            dir.file("c22") + " " + dir.file("d2") + " " + dir.file("e.txt"));
    EXPECT_EQ(r.status, 2);  // e.txt, named on the command line, is not a document
    const std::vector<json> all = lines_of(r.out);
    ASSERT_EQ(all.size(), 5u) << r.out;
    EXPECT_EQ(all[0]["format"], "macwrite5");
    EXPECT_EQ(all[0]["paragraphs"], json({{"main", 4}, {"header", 1}, {"footer", 0}}));
    EXPECT_EQ(all[0]["compressed"], 1);
    EXPECT_EQ(all[0]["pictures"], 1);
    EXPECT_EQ(all[0]["macbinary"], nullptr);
    EXPECT_EQ(all[1]["macbinary"]["type"], "WORD");
    EXPECT_EQ(all[1]["macbinary"]["creator"], "MACA");
    EXPECT_EQ(all[2]["format"], "macwrite22");
    EXPECT_EQ(all[2]["paragraphs"]["main"], 2);
    EXPECT_EQ(all[3]["format"], "macwrite-ii");
    EXPECT_EQ(all[3]["notes"], 2);
    EXPECT_EQ(all[3]["paragraphs"]["main"], 1);
    EXPECT_EQ(all[4]["macwrite"], false);
    EXPECT_NE(all[4]["reason"].get<std::string>().find("first word 0x706C"), std::string::npos);
    const std::string text = run_mwconv(dir, "--identify " + dir.file("a5")).out;
    EXPECT_EQ(text, dir.file("a5") + ": MacWrite 4.6/5 (version 6); no MacBinary header; paragraphs: 4 main, 1 header, "
                                      "0 footer; compressed text in 1 paragraph; 1 picture\n");
}

TEST(CliIdentify, TheCorpusIsToldApartFromItsNeighbours) {
    const fs::path corpus = corpus_dir();
    if (!fs::exists(corpus / "negative")) GTEST_SKIP() << "no corpus at " << corpus;
    ScratchDir dir;
    const RunResult r = run_mwconv(dir, "--identify --json '" + corpus.string() + "/macwrite5' '" + corpus.string() +
                                            "/macwrite22' '" + corpus.string() + "/macbinary' '" + corpus.string() + "/negative'");
    EXPECT_EQ(r.status, 0) << r.err;  // files found in folders do not change the status
    size_t documents = 0, refused = 0;
    for (const json &j : lines_of(r.out)) {
        const std::string file = j["file"];
        if (file.find("/negative/") != std::string::npos) {
            EXPECT_EQ(j["macwrite"], false) << file;
            ++refused;
        } else {
            const char *expected = file.find("/macwrite22/") != std::string::npos || file.find("Sample_Memo_v3") != std::string::npos
                                       ? "macwrite22" : "macwrite5";
            EXPECT_EQ(j["format"], expected) << file;
            EXPECT_EQ(j["macbinary"].is_null(), file.find("/macbinary/") == std::string::npos) << file;
            ++documents;
        }
    }
    EXPECT_EQ(refused, 4u);
    EXPECT_GE(documents, 8u);
}

}  // namespace
