// mwconv's formatted outputs end to end: the -t values, --fragment, the
// batch extensions, and memory that stays flat whatever the document's size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/mw22_builder.h"
#include "tests/support/mw2_builder.h"
#ifdef MWCONV_HAVE_LIBZIP
#include "tests/support/packages.h"
#endif
#include "tests/support/render_documents.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;

// The formatted outputs of this build.
const std::vector<std::string> kFormats = {"html", "markdown", "rtf",
#ifdef MWCONV_HAVE_LIBZIP
                                           "docx", "odt"
#endif
};

TEST(CliRender, EachFormatByNameAndInBatches) {
    ScratchDir dir;
    const std::string memo = dir.write("memo.mw5", Mw5Builder().text(Area::Main, "Hello\r", {{0, 12, 1, 20}}).build());
    const std::string old = dir.write("old", Mw22Builder().paragraph("Old\r").build());
    EXPECT_EQ(run_mwconv(dir, "-t markdown '" + memo + "'").out, "**Hello**\n");
    const RunResult html = run_mwconv(dir, "-t html '" + memo + "'");
    EXPECT_EQ(html.status, 0);
    EXPECT_NE(html.out.find("<title>memo.mw5</title>"), std::string::npos);
    EXPECT_EQ(run_mwconv(dir, "-t html --fragment - <'" + memo + "'").out.rfind("<main>\n<p", 0), 0u);
    EXPECT_EQ(run_mwconv(dir, "-t rtf '" + memo + "'").out.rfind("{\\rtf1\\ansi", 0), 0u);
    const RunResult wrong = run_mwconv(dir, "-t rtf --fragment '" + memo + "'");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("--fragment needs -t html"), std::string::npos);
    std::filesystem::create_directory(dir.file("out"));
    for (const std::string &to : kFormats) {
        EXPECT_EQ(run_mwconv(dir, "-t " + to + " -o '" + dir.file("out") + "' '" + memo + "' '" + old + "'").status, 0);
        const std::string extension = to == "markdown" ? "md" : to;
        for (const char *name : {"memo.mw5.", "old."})
            EXPECT_TRUE(std::filesystem::exists(dir.file(std::string("out/") + name + extension))) << name << extension;
    }
}

#ifdef MWCONV_HAVE_LIBZIP
TEST(CliRender, PackagesCarryTheInputsNameAndMwconvsVersion) {
    ScratchDir dir;
    const std::string memo = dir.write("memo.mw5", Mw5Builder().text(Area::Main, "Hello\r", {{0, 12, 1, 20}}).build());
    std::string version = run_mwconv(dir, "--version").out;  // "mwconv 0.1\n"
    version = version.substr(7, version.find('\n') - 7);
    const RunResult docx = run_mwconv(dir, "-t docx '" + memo + "'");
    const RunResult odt = run_mwconv(dir, "-t odt - <'" + memo + "'");
    ASSERT_EQ(docx.status, 0) << docx.err;
    ASSERT_EQ(odt.status, 0) << odt.err;
    const auto docx_parts = zip_entries(docx.out), odt_parts = zip_entries(odt.out);
    EXPECT_NE(entry(docx_parts, "docProps/core.xml").find("<dc:title>memo.mw5</dc:title>"), std::string::npos);
    EXPECT_NE(entry(docx_parts, "docProps/app.xml").find("<Application>mwconv " + version + "</Application>"),
              std::string::npos);
    EXPECT_NE(entry(odt_parts, "meta.xml").find("<dc:title>Untitled</dc:title>"), std::string::npos);
    EXPECT_NE(entry(odt_parts, "meta.xml").find("<meta:generator>mwconv/" + version + "</meta:generator>"),
              std::string::npos);
}
#endif

// The peak resident size of mwconv converting `input` to `to`, in KiB.
long peak_kib(const std::string &to, const std::string &input, const char *from = "stream") {
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The peak that a process has reached stays with it through exec:
        // the child starts from what it holds now, not from this test's peak.
        const int refs = ::open("/proc/self/clear_refs", O_WRONLY);
        if (refs < 0 || ::write(refs, "5", 1) != 1) ::_exit(126);
        ::close(refs);
        std::freopen("/dev/null", "w", stdout);
        ::execl(MWCONV_BINARY, MWCONV_BINARY, "-f", from, "-t", to.c_str(), input.c_str(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

TEST(CliRender, MemoryStaysFlatFromOneToFourteenMegabytes) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
    ScratchDir dir;
    // Main text only: the page footer and the notes are held by design.
    std::string paragraph;
    while (paragraph.size() < 8000)
        paragraph += "Words " + styled(0x23, "bold") + " and " + styled(0x2F, "italic") + "\t" + unicode(0x201C) + "x" +
                     unicode(0x201D) + tag(0x4C, 14) + " *text* <b> " + tag(0x4C, 12) + "\r" + tag(0x80, 1, 30);
    const auto write_stream = [&](const std::string &name, size_t megabytes) {
        const std::string path = dir.file(name);
        std::FILE *f = std::fopen(path.c_str(), "wb");
        for (size_t written = 0; written < megabytes << 20; written += paragraph.size())
            std::fwrite(paragraph.data(), 1, paragraph.size(), f);
        std::fclose(f);
        return path;
    };
    const std::string small = write_stream("small", 1), large = write_stream("large", 14);
    std::vector<std::string> formats = kFormats;
    formats.push_back("text");
    for (const std::string &to : formats) {
        const long a = peak_kib(to, small), b = peak_kib(to, large);
        ASSERT_GT(a, 0) << to;
        EXPECT_LT(b - a, 2048) << to << ": " << a << " KiB for 1 MB, " << b << " KiB for 14 MB";
    }
}

// The note pass rebuilds the whole output; it must do so without holding the
// document.
TEST(CliRender, AFootnotedMacWriteIIDocumentStaysFlatToo) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
    ScratchDir dir;
    const auto write_document = [&](const std::string &name, size_t megabytes) {
        Mw2Builder doc;
        doc.char_style(3, 12);
        doc.para_format(0);
        Mw2Area main, notes;
        main.chars_per_block = notes.chars_per_block = 250;
        while (main.text.size() < megabytes << 20) main.text += std::string(2000, 'w') + "\x05 and on.\r";
        for (size_t call = 0; call < main.text.size() / 2011; ++call) notes.text += "\x03" "A note.\r";
        for (Mw2Area *a : {&main, &notes}) {
            a->char_runs.push_back({0, static_cast<int32_t>(a->text.size())});
            a->para_runs.push_back({0, static_cast<int32_t>(a->text.size())});
        }
        return dir.write(name, doc.area(main).area(notes).chains_before_text().build());
    };
    const std::string small = write_document("small", 1), large = write_document("large", 9);
    const long a = peak_kib("stream", small, "macwrite-ii"), b = peak_kib("stream", large, "macwrite-ii");
    ASSERT_GT(a, 0);
    EXPECT_LT(b - a, 2048) << a << " KiB for 1 MB, " << b << " KiB for 9 MB";
}

// The imports check a document for damage before converting it; the check
// must not hold the document either.
TEST(CliRender, MacWrite5And22DocumentsStayFlatFromOneToFourteenMegabytes) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
    ScratchDir dir;
    // Written by a child process: the documents never swell this one, whose
    // size every measured child starts from.
    const auto write_document = [&](const std::string &name, bool old, size_t megabytes) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::string paragraph;
            while (paragraph.size() < 4000) paragraph += "Words and more words, ";
            paragraph += "\r";
            Mw5Builder mw5;
            Mw22Builder mw22;
            for (size_t written = 0; written < megabytes << 20; written += paragraph.size()) {
                if (old) mw22.text(Area::Main, paragraph, {{0, 12, 0, 3}});
                else mw5.text(Area::Main, paragraph, {{0, 12, 0, 3}});
            }
            dir.write(name, old ? mw22.build() : mw5.build());
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return dir.file(name);
    };
    for (const bool old : {false, true}) {
        const std::string small = write_document("small", old, 1), large = write_document("large", old, 14);
        const long a = peak_kib("text", small, "auto"), b = peak_kib("text", large, "auto");
        ASSERT_GT(a, 0);
        ASSERT_GT(b, 0);
        EXPECT_LT(b - a, 2048) << (old ? "MacWrite 2.2: " : "MacWrite 4.6/5: ") << a << " KiB for 1 MB, " << b
                               << " KiB for 14 MB";
    }
}

}  // namespace
