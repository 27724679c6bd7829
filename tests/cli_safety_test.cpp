// What mwconv never does to a user's files: report success after a lost
// write, leave debris when interrupted, replace what is not a regular file,
// or write over one of its own inputs.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// About 400 KB of text: more than the file size limits below allow.
std::string large_document() {
    Mw5Builder doc;
    for (int i = 0; i < 400; ++i) doc.text(Area::Main, std::string(1000, static_cast<char>('a' + i % 26)) + "\r");
    return doc.build();
}

std::string quoted(const std::string &path) { return "'" + path + "'"; }

// Runs mwconv through the shell, with `prefix` first (limits, environment).
RunResult run_with(const ScratchDir &dir, const std::string &prefix, const std::string &args) {
    const std::string err = dir.file("run.err");
    const std::string cmd = prefix + " '" + MWCONV_BINARY + "' " + args + " 2>'" + err + "'";
    const int raw = std::system(("sh -c \"" + cmd + "\" >/dev/null").c_str());
    return RunResult{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, "", read_file(err)};
}

std::vector<std::string> names_in(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(folder))
        if (e.path().filename() != "run.err" && e.path().filename() != "run.out") names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CliSafety, AWriteLostToAFileSizeLimitFailsAndKeepsTheOldOutput) {
    ScratchDir dir;
    const std::string in = dir.write("big.mw5", large_document());
    for (const char *to : {"text", "macwrite5", "stream"}) {
        const std::string out = dir.write("out", "old contents");
        const RunResult r = run_with(dir, "ulimit -f 64;", std::string("-t ") + to + " -o " + quoted(out) + " " + quoted(in));
        EXPECT_EQ(r.status, 3) << to;
        EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(out), "old contents") << to;
    }
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"big.mw5", "out"}));
}

TEST(CliSafety, NoRoomForScratchFilesIsAFailureWithAMessage) {
    ScratchDir dir;
    const std::string in = dir.write("big.mw5", large_document());
    const RunResult r = run_with(dir, "TMPDIR=" + dir.file("missing"), "-o " + quoted(dir.file("out.txt")) + " " + quoted(in));
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("mwconv: " + in + ": cannot "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("out.txt")));
}

TEST(CliSafety, AnInterruptedRunLeavesNothingBehind) {
    ScratchDir dir, tmp;
    const std::string in = dir.write("big.mw5", large_document());
    for (int delay_us = 500; delay_us <= 16000; delay_us *= 2) {
        for (int sig : {SIGINT, SIGTERM}) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::setenv("TMPDIR", tmp.path().c_str(), 1);
                ::execl(MWCONV_BINARY, "mwconv", "-t", "macwrite5", "-o", dir.file("out.mw5").c_str(), in.c_str(),
                        static_cast<char *>(nullptr));
                ::_exit(127);
            }
            ::usleep(static_cast<useconds_t>(delay_us));
            ::kill(child, sig);
            int status = 0;
            ::waitpid(child, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
            for (const std::string &name : names_in(dir.path()))
                EXPECT_TRUE(name == "big.mw5" || name == "out.mw5") << name << " after " << delay_us << " us";
            EXPECT_TRUE(fs::is_empty(tmp.path()));
        }
    }
}

TEST(CliSafety, PipesAndDevicesAreWrittenIntoNeverReplaced) {
    ScratchDir dir;
    const std::string in = dir.write("memo", Mw5Builder().text(Area::Main, "Hello\r").build());
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::FILE *reader = ::popen(("cat " + quoted(fifo)).c_str(), "r");
    EXPECT_EQ(run_mwconv(dir, "-o " + quoted(fifo) + " " + quoted(in)).status, 0);
    EXPECT_EQ(contents(reader), "Hello\n");
    ::pclose(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));
    if (::geteuid() == 0) {  // a device node of our own, beside the test's files
        const std::string null_device = dir.file("null");
        ASSERT_EQ(::mknod(null_device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        EXPECT_EQ(run_mwconv(dir, "-o " + quoted(null_device) + " " + quoted(in)).status, 0);
        EXPECT_TRUE(fs::is_character_file(null_device));
    }
}

TEST(CliSafety, ALinkIsFollowedAndTheReplacedFileKeepsItsPermissions) {
    ScratchDir dir;
    const std::string in = dir.write("memo", Mw5Builder().text(Area::Main, "Hello\r").build());
    const std::string target = dir.write("real.txt", "old");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("real.txt", dir.file("link.txt"));
    fs::create_symlink("new.txt", dir.file("dangling.txt"));
    EXPECT_EQ(run_mwconv(dir, "-o " + quoted(dir.file("link.txt")) + " " + quoted(in)).status, 0);
    EXPECT_EQ(run_mwconv(dir, "-o " + quoted(dir.file("dangling.txt")) + " " + quoted(in)).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling.txt")));
    EXPECT_EQ(read_file(target), "Hello\n");
    EXPECT_EQ(read_file(dir.file("new.txt")), "Hello\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write |
                                                                     fs::perms::group_read);
}

TEST(CliSafety, NoOutputLandsOnAnInputOfTheSameRun) {
    ScratchDir dir;
    const std::string doc = Mw5Builder().text(Area::Main, "Original\r").build();
    fs::create_directory(dir.file("D"));
    const std::string about = dir.write("D/About", doc);
    const std::string again = dir.write("D/About.mw5", doc);
    fs::create_hard_link(about, dir.file("alias"));
    // D/About's output in D is D/About.mw5, the other input: refused even with --force.
    const RunResult batch = run_mwconv(dir, "--force -t macwrite5 -o " + quoted(dir.file("D")) + " " + quoted(about) + " " + quoted(again));
    EXPECT_EQ(batch.status, 3);
    EXPECT_NE(batch.err.find("is an input of this run"), std::string::npos) << batch.err;
    // One file onto itself by another name.
    EXPECT_EQ(run_mwconv(dir, "-t macwrite5 -o " + quoted(dir.file("alias")) + " " + quoted(about)).status, 3);
    EXPECT_EQ(read_file(about), doc);
    EXPECT_EQ(read_file(again), doc);
}

TEST(CliSafety, AFolderOnStandardInputIsNotReadAsAnEmptyText) {
    ScratchDir dir;
    const RunResult r = run_mwconv(dir, "-f text -t macwrite5 -o " + quoted(dir.file("x.mw5")) + " -", dir.path());
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(fs::exists(dir.file("x.mw5")));
}

TEST(CliSafety, ALongOutputNameFitsAndTheMacintoshNameIsMacRoman) {
    ScratchDir dir;
    const std::string in = dir.write("t.txt", "Hi\n");
    const std::string long_name = dir.file(std::string(250, 'n'));
    EXPECT_EQ(run_mwconv(dir, "-f text -o " + quoted(long_name) + " " + quoted(in)).status, 0);
    EXPECT_EQ(read_file(long_name), "Hi\n");
    const std::string bin = dir.file("Caf\xC3\xA9: \xE2\x80\x9C" + std::string(70, 'x') + ".bin");
    ASSERT_EQ(run_mwconv(dir, "-f text -t macwrite5 --macbinary -o " + quoted(bin) + " " + quoted(in)).status, 0);
    const std::string header = read_file(bin).substr(0, 128);
    EXPECT_EQ(header[1], 63);
    EXPECT_EQ(header.substr(2, 7), "Caf\x8E- \xD2");
    EXPECT_EQ(header.substr(9, 56), std::string(56, 'x'));
}

}  // namespace
