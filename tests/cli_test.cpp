// mwconv end to end: the real plug-in through dlopen, files, statuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/macbinary.h"

#include "tests/support/example_document.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw2_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;

std::string sample() {
    Mw5Builder doc;
    doc.text(Area::Header, "Page head\r").text(Area::Main, "Caf\x8E \\o/\r", {{0, 12, 1, 3}}).picture(Area::Main, 22)
        .compressed(Area::Main, "the end\r");
    return doc.build();
}

// --extract-media writes each picture as SVG and as a PICT file, and the
// Markdown refers to the SVG from where the output is.
TEST(Cli, ExtractMediaWritesEveryPictureAndTheOutputRefersToIt) {
    ScratchDir dir;
    const std::string pict = std::string("\0\x0C\0\0\0\0\0\x1E\0\x28\x11\x01\x31\0\x02\0\x02\0\x14\0\x14\xFF", 21);
    Mw5Builder doc;
    doc.text(Area::Main, "See below:\r").picture(Area::Main, std::string("\0\0\0\0\0\x1E\0\x28", 8) + pict, -30);
    const std::string in = dir.write("doc", doc.build());
    std::filesystem::create_directories(dir.file("out"));
    const RunResult r = run_mwconv(dir, "-t markdown --extract-media '" + dir.file("media") + "' -o '" + dir.file("out/doc.md") +
                                            "' '" + in + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("media/picture1.pict")), std::string(512, '\0') + pict);
    EXPECT_EQ(read_file(dir.file("media/picture1.svg")).rfind("<svg xmlns=", 0), 0u);
    EXPECT_EQ(read_file(dir.file("out/doc.md")), "See below:\n\n![picture 1](<../media/picture1.svg>)\n");
}

// A picture that cannot be drawn (an empty frame) keeps its PICT file but
// gets no SVG, and the outputs show its marker instead of referring to one.
TEST(Cli, ExtractMediaWritesNoSvgForAPictureThatCannotBeDrawn) {
    ScratchDir dir;
    std::string pict = std::string("\0\x2A", 2) + std::string(8, '\0') + std::string("\0\x11\x02\xFF\x0C\0\xFF\xFE", 8) +
                       std::string(24, '\0') + std::string("\0\xFF", 2);
    Mw5Builder doc;
    doc.text(Area::Main, "See below:\r").picture(Area::Main, std::string(8, '\0') + pict, -30);
    const std::string in = dir.write("doc", doc.build());
    const RunResult r = run_mwconv(dir, "-t html --extract-media '" + dir.file("media") + "' -o '" + dir.file("doc.html") +
                                            "' '" + in + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("media/picture1.pict")), std::string(512, '\0') + pict);
    EXPECT_FALSE(std::filesystem::exists(dir.file("media/picture1.svg")));
    const std::string html = read_file(dir.file("doc.html"));
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_NE(html.find("[picture 1]"), std::string::npos);
}

TEST(Cli, ListsTheCatalogueInBothLanguages) {
    ScratchDir dir;
    for (const char *lang : {"en", "fr"}) {
        const RunResult r = run_mwconv(dir, std::string("--list-converters --lang ") + lang);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "import\tMacWrite II\nimport\tMacWrite 4.6/5\nimport\tMacWrite 2.2\nexport\tMacWrite 4.6/5\n");
    }
    EXPECT_EQ(run_mwconv(dir, "--list-converters --lang de").status, 1);
}

TEST(Cli, ConvertsADocumentToTextOnStandardOutput) {
    ScratchDir dir;
    const std::string in = dir.write("memo", sample());
    const RunResult r = run_mwconv(dir, "'" + in + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Page head\n\nCaf\xC3\xA9 \\o/\n\fthe end\n");
    EXPECT_EQ(r.err, "");
}

TEST(Cli, StandardInputAndAFileGiveTheSameOutputWrappedOrNot) {
    ScratchDir dir;
    const std::string in = dir.write("memo", sample());
    const std::string wrapped = dir.write("memo.bin", macbinary_wrap(sample(), "WORDMACA"));
    const RunResult a = run_mwconv(dir, "-t stream '" + in + "'");
    const RunResult b = run_mwconv(dir, "-t stream -", wrapped);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(b.status, 0);
    EXPECT_EQ(a.out, b.out);
    const RunResult c = run_mwconv(dir, "-f stream -", dir.write("s", a.out));
    EXPECT_EQ(c.out, run_mwconv(dir, "'" + in + "'").out);
}

TEST(Cli, ForcedFormatsAndOldDocuments) {
    ScratchDir dir;
    const std::string old = dir.write("old", Mw22Builder().paragraph("Old\r").build());
    EXPECT_EQ(run_mwconv(dir, "'" + old + "'").out, "Old\n");
    EXPECT_EQ(run_mwconv(dir, "-f macwrite22 '" + old + "'").out, "Old\n");
    EXPECT_EQ(run_mwconv(dir, "-f macwrite5 '" + old + "'").out, "Old\n");
}

TEST(Cli, RefusesWhatIsNotADocumentAndWritesNothing) {
    ScratchDir dir;
    const std::string junk = dir.write("junk.doc", std::string(1000, 'j'));
    const std::string target = dir.file("out.txt");
    const RunResult r = run_mwconv(dir, "-o '" + target + "' '" + junk + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "mwconv: " + junk + ": not a MacWrite document\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(target));
    for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "junk.doc" || name == "run.out" || name == "run.err") << name;
    }
}

TEST(Cli, WritesTheOutputFileWholeAndLeavesNoTemporaryFile) {
    ScratchDir dir;
    const std::string in = dir.write("memo", sample());
    const std::string target = dir.file("memo.txt");
    EXPECT_EQ(run_mwconv(dir, "-o '" + target + "' '" + in + "'").status, 0);
    EXPECT_EQ(read_file(target), "Page head\n\nCaf\xC3\xA9 \\o/\n\fthe end\n");
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find("mwconv-"), std::string::npos);
}

TEST(Cli, SeveralInputsGoIntoADirectory) {
    ScratchDir dir;
    const std::string a = dir.write("a.mw", sample());
    const std::string b = dir.write("b", Mw22Builder().paragraph("B\r").build());
    EXPECT_EQ(run_mwconv(dir, "'" + a + "' '" + b + "'").status, 1);
    std::filesystem::create_directory(dir.file("out"));
    EXPECT_EQ(run_mwconv(dir, "-o '" + dir.file("out") + "' '" + a + "' '" + b + "'").status, 0);
    EXPECT_EQ(read_file(dir.file("out/b.txt")), "B\n");
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/a.mw.txt")));
}

// libarchive and libzip (and what they link) are loaded when an archive is
// opened or a package written, not by every start: the dynamic loader lists
// what it loads when LD_DEBUG asks it to.
TEST(Cli, ArchivePackageAndPdfLibrariesLoadOnlyWhenNeeded) {
    ScratchDir dir;
    const std::string doc = dir.write("memo.mw5", sample());
    const auto loaded = [&](const std::string &args) {
        const std::string err = dir.file("loaded.err");
        const std::string cmd = std::string("LD_DEBUG=files '") + MWCONV_BINARY + "' " + args + " >/dev/null 2>'" + err + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << args;
        return read_file(err);
    };
    const std::string html = loaded("-t html '" + doc + "'");
    ASSERT_NE(html.find("libkavrel"), std::string::npos) << "the loader listed nothing";
    EXPECT_EQ(html.find("libarchive"), std::string::npos);
    EXPECT_EQ(html.find("libzip"), std::string::npos);
    EXPECT_EQ(html.find("libcrypto"), std::string::npos);
    EXPECT_EQ(html.find("libcairo"), std::string::npos);
    EXPECT_EQ(html.find("libpango"), std::string::npos);
#ifdef MWCONV_HAVE_PDF
    EXPECT_NE(loaded("-t pdf -o '" + dir.file("memo.pdf") + "' '" + doc + "'").find("libcairo"), std::string::npos);
#endif
#ifdef MWCONV_HAVE_LIBZIP
    EXPECT_NE(loaded("-t docx -o '" + dir.file("memo.docx") + "' '" + doc + "'").find("libzip"), std::string::npos);
#endif
}

TEST(Cli, BadUsageAndMissingFiles) {
    ScratchDir dir;
    EXPECT_EQ(run_mwconv(dir, "-f nothing x").status, 1);
    EXPECT_EQ(run_mwconv(dir, "--bogus").status, 1);
    const RunResult r = run_mwconv(dir, "'" + dir.file("missing") + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(dir.file("missing")), std::string::npos);
    EXPECT_EQ(run_mwconv(dir, "--plugin /nonexistent.so x").status, 3);
}

TEST(Cli, HelpNamesEveryKindOfContainerItWalks) {
    ScratchDir dir;
    const RunResult r = run_mwconv(dir, "--help");
    EXPECT_EQ(r.status, 0);
    for (const char *kind : {"MacBinary", "BinHex", "AppleSingle", "StuffIt", "zip", "tar", "ISO 9660", "disk images",
                             "DiskCopy 4.2", "NDIF", "DART", "UDIF", "partition maps", "MFS", "HFS"})
        EXPECT_NE(r.out.find(kind), std::string::npos) << kind;
}

TEST(CliExport, TextBecomesAMacWriteDocumentThatReadsBack) {
    ScratchDir dir;
    const std::string text = "Caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D\tend\n\fnext\n";
    const std::string in = dir.write("note.txt", text);
    const std::string doc = dir.file("note.mw");
    const RunResult r = run_mwconv(dir, "-f text -t macwrite5 -o '" + doc + "' '" + in + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(doc).substr(0, 2), std::string("\0\x06", 2));
    EXPECT_EQ(run_mwconv(dir, "'" + doc + "'").out, text);
}

TEST(CliExport, EveryMacWriteInputUpgradesInOneRun) {
    ScratchDir dir;
    const std::string old = dir.write("old", Mw22Builder().paragraph("From 1984\r").build());
    const RunResult r = run_mwconv(dir, "-t macwrite5 -o '" + dir.file("new") + "' '" + old + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(run_mwconv(dir, "-f macwrite5 '" + dir.file("new") + "'").out, "From 1984\n");
    const std::string stream = dir.write("s", "x\\#y\r");
    EXPECT_EQ(run_mwconv(dir, "-f stream -t macwrite5 -o '" + dir.file("s.mw") + "' '" + stream + "'").status, 0);
    EXPECT_EQ(run_mwconv(dir, "'" + dir.file("s.mw") + "'").out, "xy\n");
}

TEST(CliExport, MacBinaryWrappingCarriesTypeCreatorNameAndCrc) {
    ScratchDir dir;
    const std::string in = dir.write("t.txt", "Hello\n");
    const std::string out = dir.file("Letter.bin");
    ASSERT_EQ(run_mwconv(dir, "-f text -t macwrite5 --macbinary -o '" + out + "' '" + in + "'").status, 0);
    const std::string bin = read_file(out);
    ASSERT_GT(bin.size(), 128u);
    EXPECT_EQ(bin.size() % 128, 0u);
    EXPECT_EQ(bin.substr(65, 8), "WORDMACA");
    EXPECT_EQ(bin.substr(1, 7), std::string("\x06Letter", 7));
    const auto crc = kavrel::macbinary::header_crc(reinterpret_cast<const uint8_t *>(bin.data()));
    EXPECT_EQ(static_cast<uint8_t>(bin[124]), crc >> 8);
    EXPECT_EQ(static_cast<uint8_t>(bin[125]), crc & 0xFF);
    const uint32_t length = static_cast<uint8_t>(bin[83]) << 24 | static_cast<uint8_t>(bin[84]) << 16 |
                            static_cast<uint8_t>(bin[85]) << 8 | static_cast<uint8_t>(bin[86]);
    const RunResult bare = run_mwconv(dir, "-f text -t macwrite5 '" + in + "'");
    EXPECT_EQ(bin.substr(128, length), bare.out);
    EXPECT_EQ(run_mwconv(dir, "'" + out + "'").out, "Hello\n");
    EXPECT_EQ(run_mwconv(dir, "--macbinary -t text '" + in + "'").status, 1);
}

TEST(CliExport, InvalidUtf8IsRefusedWithItsOffsetAndNoOutput) {
    ScratchDir dir;
    const std::string in = dir.write("bad.txt", "fine\nbad \xC3(\n");
    const std::string out = dir.file("bad.mw");
    const RunResult r = run_mwconv(dir, "-f text -t macwrite5 -o '" + out + "' '" + in + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "mwconv: " + in + ": not valid UTF-8 text (byte offset 9)\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(CliExport, TooManyParagraphsAreRefusedWithNoOutput) {
    ScratchDir dir;
    std::string text;
    for (int i = 0; i < 4100; ++i) text += "line\n";
    const std::string in = dir.write("long.txt", text);
    const RunResult r = run_mwconv(dir, "-f text -t macwrite5 '" + in + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("too many paragraphs"), std::string::npos);
}

TEST(CliExport, ADocumentPast16MBIsRefusedWithTheLimitNamed) {
    ScratchDir dir;
    const std::string in = dir.write("big.stream", std::string(17u << 20, 'w'));
    const std::string out = dir.file("big.mw");
    const RunResult r = run_mwconv(dir, "-f stream -t macwrite5 -o '" + out + "' '" + in + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("mwconv: " + in + ": too long for a MacWrite 4.6/5 document (at most 16 MB"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

Mw2Builder footnoted() {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.area({"Old files\x05 matter\x05.\r", {{0, 21}}, {}});
    doc.area({"\x03" "First note.\r\x03" "Second note.\r", {{0, 26}}, {}});
    return doc;
}

TEST(CliMacWrite2, FootnotesComeThroughEveryOutputAndNoScratchFileStays) {
    ScratchDir dir, tmp;
    const std::string in = dir.write("notes", footnoted().build());
    const std::string wrapped = dir.write("notes.bin", footnoted().build_macbinary());
    const std::string env = "TMPDIR='" + tmp.path() + "' ";
    const std::string expected = "Old files[1] matter[2].\n\n[1] First note.\n[2] Second note.\n";
    for (const std::string &args : {"'" + in + "'", "-f macwrite-ii '" + in + "'", "'" + wrapped + "'", "- <'" + in + "'"}) {
        const std::string cmd = "sh -c \"" + env + "'" + MWCONV_BINARY + "' " + args + "\"";
        std::FILE *p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        const std::string out = contents(p);
        EXPECT_EQ(pclose(p), 0) << args;
        EXPECT_EQ(out, expected) << args;
    }
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
    const std::string upgraded = dir.file("notes.mw");
    ASSERT_EQ(run_mwconv(dir, "-t macwrite5 -o '" + upgraded + "' '" + in + "'").status, 0);
    // a MacWrite 4.6/5 document has no notes: their texts stand where the calls were
    EXPECT_EQ(run_mwconv(dir, "'" + upgraded + "'").out, "Old filesFirst note.\n matterSecond note.\n.\n");
}

TEST(CliMacWrite2, ANoteRebuildWorksWhateverTheLengthOfTheOutputsName) {
    ScratchDir dir;
    std::string tmp = dir.path();
    for (int i = 0; i < 3; ++i) {
        tmp += "/" + std::string(120, static_cast<char>('a' + i));
        std::filesystem::create_directory(tmp);
    }
    const std::string in = dir.write("notes", footnoted().build());
    const std::string cmd = "TMPDIR='" + tmp + "' '" + std::string(MWCONV_BINARY) + "' '" + in + "'";
    std::FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(contents(p), "Old files[1] matter[2].\n\n[1] First note.\n[2] Second note.\n");
    EXPECT_EQ(pclose(p), 0);
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

// Directory records (MacWrite II) or information entries (MacWrite 4.6/5)
// that name one text again and again.
TEST(CliImport, ADocumentThatReadsItsTextOverAndOverIsRefusedWithItsReason) {
    ScratchDir dir;
    Mw2Area area{std::string(2000, 'r'), {}, {}};
    area.records = 500;
    Mw5Builder mw5;
    mw5.text(Area::Main, std::string(4000, 'x') + "\r");
    for (int i = 0; i < 2000; ++i) mw5.entry(Area::Main, 20, 512, 4004);
    for (const auto &[name, bytes] : {std::pair{"crafted2", Mw2Builder().area(area).build()},
                                      std::pair{"crafted5", mw5.build()}}) {
        const std::string in = dir.write(name, bytes);
        const std::string out = dir.file(std::string(name) + ".txt");
        const RunResult r = run_mwconv(dir, "-o '" + out + "' '" + in + "'");
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, "mwconv: " + in + ": the document refers to far more text than it holds (damaged or crafted); "
                         "conversion stopped at the limit of four times the document's size plus 64 KiB\n");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(Example, TheBundledExampleIsTheBuildersDocumentAndConverts) {
    const std::string path = std::string(MWCONV_SOURCE_DIR) + "/examples/welcome.mw5";
    EXPECT_EQ(read_file(path), example_document()) << "regenerate with build/make_example " << path;
    ScratchDir dir;
    const RunResult r = run_mwconv(dir, "'" + path + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Greek from the Symbol font: \xCE\xB1\xCE\xB2\xCE\xB3."), std::string::npos);
}

}  // namespace

namespace {

// A damaged document is converted as far as it can be read, and every way
// of running mwconv says so: status 4, a message naming it and what was lost,
// the batch's summary and --identify.
TEST(Cli, ADamagedDocumentEndsWithStatus4AndSaysWhatWasLost) {
    ScratchDir dir;
    Mw5Builder doc;
    for (int i = 0; i < 40; ++i) doc.text(Area::Main, "Paragraph number " + std::to_string(i) + " survives.\r", {{0, 12, 0, 3}});
    const std::string whole = doc.build();
    const std::string cut = dir.write("cut", whole.substr(0, whole.size() * 3 / 4));
    const std::string sound = dir.write("sound", whole);
    const RunResult one = run_mwconv(dir, "'" + cut + "'");
    EXPECT_EQ(one.status, 4);
    EXPECT_EQ(one.err.rfind("mwconv: " + cut + ": converted, but the document is damaged; what could not be read is "
                            "missing: recovered ", 0), 0u) << one.err;
    EXPECT_NE(one.err.find("the paragraph index was lost"), std::string::npos) << one.err;
    EXPECT_NE(one.out.find("Paragraph number 20 survives."), std::string::npos);
    const RunResult batch = run_mwconv(dir, "-o '" + dir.file("out") + "' '" + cut + "' '" + sound + "'");
    EXPECT_EQ(batch.status, 4);
    EXPECT_NE(batch.err.find("1 converted, 1 damaged, 0 not MacWrite, 0 failed\n"), std::string::npos) << batch.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/cut.txt")));
    const RunResult id = run_mwconv(dir, "--identify --json '" + cut + "' '" + sound + "'");
    EXPECT_EQ(id.status, 4);
    EXPECT_NE(id.out.find("\"damaged\":\"recovered "), std::string::npos) << id.out;
    EXPECT_NE(id.out.find("\"damaged\":null"), std::string::npos) << id.out;
}

}  // namespace
