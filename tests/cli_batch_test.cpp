// mwconv over whole archives: folders, naming, collisions, parallel runs,
// progress, the command line's habits and the installed program.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/corpus.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

std::string q(const std::string &path) { return "'" + path + "'"; }

std::string memo(const std::string &text) { return Mw5Builder().text(Area::Main, text + "\r").build(); }

// Every file under `root`, by relative name, with its contents.
std::map<std::string, std::string> tree(const std::string &root) {
    std::map<std::string, std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[e.path().lexically_relative(root).string()] = read_file(e.path());
    return files;
}

// An archive as people hold them: documents in folders, other files beside
// them, Finder debris, and the real documents when they are at hand.
void make_archive(const ScratchDir &dir) {
    for (const char *folder : {"A/School", "A/__MACOSX/School", "A/.Trashes"}) fs::create_directories(dir.file(folder));
    dir.write("A/TN.002.Compatibility", memo("Technote"));
    dir.write("A/School/Letter.mw5", memo("Dear Sir"));
    dir.write("A/School/Old", Mw22Builder().paragraph("From 1984\r").build());
    dir.write("A/School/notes.txt", "not a document\n");
    dir.write("A/School/._Letter.mw5", "AppleDouble");
    dir.write("A/__MACOSX/School/._Old", "AppleDouble");
    dir.write("A/.Trashes/Gone", memo("deleted"));
    const fs::path corpus = corpus_dir();
    if (fs::exists(corpus / "macwrite5")) fs::copy(corpus / "macwrite5", dir.file("A/Real"));
}

TEST(CliBatch, AFolderTreeIsMirroredTheSameWhateverTheNumberOfJobs) {
    ScratchDir dir;
    make_archive(dir);
    const RunResult one = run_mwconv(dir, "-j 1 -o " + q(dir.file("one")) + " " + q(dir.file("A")));
    const RunResult two = run_mwconv(dir, q(dir.file("A")) + " -o " + q(dir.file("two")) + " -j 2");
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(two.status, 0) << two.err;
    const auto outputs = tree(dir.file("one"));
    EXPECT_EQ(outputs, tree(dir.file("two")));
    EXPECT_EQ(outputs.at("TN.002.Compatibility.txt"), "Technote\n");
    EXPECT_EQ(outputs.at("School/Letter.mw5.txt"), "Dear Sir\n");
    EXPECT_EQ(outputs.at("School/Old.txt"), "From 1984\n");
    for (const auto &[name, text] : outputs) EXPECT_TRUE(name.find("._") == std::string::npos && name.find("__MACOSX") == std::string::npos && name.find("Gone") == std::string::npos) << name;
    EXPECT_NE(one.err.find("mwconv: " + dir.file("A/School/notes.txt") + ": skipped: not a MacWrite document\n"), std::string::npos);
    const size_t documents = outputs.size();
    EXPECT_NE(one.err.find(std::to_string(documents) + " converted, 1 not MacWrite, 0 failed\n"), std::string::npos) << one.err;
    EXPECT_EQ(run_mwconv(dir, "-q -o " + q(dir.file("quiet")) + " " + q(dir.file("A"))).err, "");
}

TEST(CliBatch, NoOutputIsEverReplacedWithoutForce) {
    ScratchDir dir;
    fs::create_directories(dir.file("x"));
    fs::create_directories(dir.file("y"));
    const std::string x = dir.write("x/doc", memo("from x")), y = dir.write("y/doc", memo("from y"));
    const RunResult r = run_mwconv(dir, "-o " + q(dir.file("out")) + " " + q(x) + " " + q(y));
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("mwconv: " + y + ": its output"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir.file("out/doc.txt")), "from x\n");
    dir.write("out/doc.txt", "mine");
    EXPECT_EQ(run_mwconv(dir, "-o " + q(dir.file("out")) + "/ " + q(y)).status, 3);
    EXPECT_EQ(read_file(dir.file("out/doc.txt")), "mine");
    EXPECT_EQ(run_mwconv(dir, "--force -o " + q(dir.file("out")) + "/ " + q(y)).status, 0);
    EXPECT_EQ(read_file(dir.file("out/doc.txt")), "from y\n");
}

TEST(CliBatch, ProgressShowsOnATerminalOnly) {
    ScratchDir dir;
    fs::create_directories(dir.file("A"));
    for (int i = 0; i < 8; ++i) dir.write("A/doc" + std::to_string(i), memo("text"));
    const std::string cmd = std::string("'") + MWCONV_BINARY + "' -j 1 -o " + q(dir.file("out")) + " " + q(dir.file("A"));
    // script(1) gives mwconv a terminal and records what it draws there.
    ASSERT_EQ(std::system(("script -qec \"" + cmd + "\" " + q(dir.file("typescript")) + " >/dev/null 2>&1").c_str()), 0);
    const std::string drawn = read_file(dir.file("typescript"));
    EXPECT_NE(drawn.find("[8/8]"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("\r\x1b[K8 converted, 0 not MacWrite, 0 failed"), std::string::npos) << drawn;
    const RunResult piped = run_mwconv(dir, "--force -j 1 -o " + q(dir.file("out")) + " " + q(dir.file("A")));
    EXPECT_EQ(piped.err, "8 converted, 0 not MacWrite, 0 failed\n");
}

TEST(CliBatch, OptionsGoAnywhereAndHelpNamesEveryOne) {
    ScratchDir dir;
    const std::string in = dir.write("-odd", memo("odd name"));
    const std::string after = dir.write("d", memo("after"));
    EXPECT_EQ(run_mwconv(dir, q(after) + " -t stream").out, run_mwconv(dir, "-t stream " + q(after)).out);
    EXPECT_EQ(run_mwconv(dir, "-- " + q(in)).out, "odd name\n");
    EXPECT_EQ(run_mwconv(dir, q(after) + " -t text -o -").out, "after\n");
    const std::string help = run_mwconv(dir, "--help").out;
    for (const char *option : {"--from", "--to", "--output", "--macbinary", "--force", "--jobs", "--quiet", "--identify",
                               "--json", "--list-converters", "--lang", "--plugin", "--version"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    EXPECT_EQ(run_mwconv(dir, "--version").out.rfind("mwconv ", 0), 0u);
}

TEST(CliBatch, TheInstalledProgramFindsItsPlugin) {
    ScratchDir dir;
    const std::string prefix = dir.file("prefix");
    const std::string install = "cmake --install '" + std::string(MWCONV_BUILD_DIR) + "' --prefix " + q(prefix) + " >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    EXPECT_TRUE(fs::exists(prefix + "/share/man/man1/mwconv.1"));
    const std::string in = dir.write("doc", memo("installed"));
    const std::string out = dir.file("out.txt");
    const std::string cmd = "env -u LD_LIBRARY_PATH " + q(prefix + "/bin/mwconv") + " -o " + q(out) + " " + q(in);
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(read_file(out), "installed\n");
}

}  // namespace
