// libmwconv as a program uses it: the command's bytes and messages, and one
// Library shared by threads.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "lib/mwconv.h"
#include "tests/support/apple_builder.h"
#include "tests/support/example_document.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;

const std::string kPlugin = MWCONV_BUILD_DIR "/libmacwrite.so";

TEST(Library, ConvertsAsTheCommandDoesAndFailsWithItsMessages) {
    const mwconv::Library lib(kPlugin);
    ScratchDir dir;
    const std::string in = dir.write("welcome", example_document());
    for (const char *to : {"text", "html", "rtf", "docx", "macwrite5", "stream"}) {
        mwconv::ConvertOptions o;
        o.to = *mwconv::to_name(to);
        EXPECT_EQ(lib.convert(example_document(), o), run_mwconv(dir, std::string("-t ") + to + " - < '" + in + "'").out)
            << to;
    }
    try {
        (void)lib.convert("no document here", {});
        FAIL() << "no error";
    } catch (const mwconv::Error &e) {
        EXPECT_EQ(e.status(), mwconv::kNotADocument);
        EXPECT_STREQ(e.what(), "mwconv: <stdin>: not a MacWrite document");
    }
    EXPECT_THROW(mwconv::Library(dir.file("missing.so")), mwconv::Error);
}

// A file with its AppleDouble companion beside it: its output is dated by
// the Finder's modification date, as the command dates it.
TEST(Library, ConvertFileTakesTheFindersDatesFromTheCompanion) {
    const mwconv::Library lib(kPlugin);
    ScratchDir dir;
    const std::string in = dir.write("welcome", example_document());
    constexpr uint32_t kModified = 34 * 86400;  // 2000-02-04, from 2000-01-01 UTC
    dir.write("._welcome", AppleBuilder(AppleBuilder::kDouble, 2).finder("WORD", "MACA").dates(1000, kModified).build());
    lib.convert_file(in, dir.file("welcome.txt"), {});
    using namespace std::chrono;
    const auto written = file_clock::to_sys(std::filesystem::last_write_time(dir.file("welcome.txt")));
    EXPECT_EQ(duration_cast<seconds>(written.time_since_epoch()).count(), 946684800 + kModified);
}

TEST(Library, ThreadsShareOneLibrary) {
    const mwconv::Library lib(kPlugin);
    mwconv::ConvertOptions o;
    o.to = mwconv::To::Html;
    const std::string once = lib.convert(example_document(), o);
    std::vector<std::string> outputs(4);
    std::vector<std::thread> threads;
    for (std::string &out : outputs)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) out = lib.convert(example_document(), o);
        });
    for (std::thread &t : threads) t.join();
    for (const std::string &out : outputs) EXPECT_EQ(out, once);
}

}  // namespace
