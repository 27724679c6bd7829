// libmwconv as a program uses it: the command's bytes and messages, and one
// Library shared by threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "lib/mwconv.h"
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
