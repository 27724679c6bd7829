// Writes fuzzing seeds of every MacWrite generation, built from the layouts,
// the same documents in every container format mwconv reads (named
// "container-..."), and, given a second folder, pictures with every opcode
// family, and given a third, a document the import refuses as damaged:
//   make_seeds DIR [PICTURE_DIR [DAMAGED_DIR]]
#include <cstdio>
#include <string>
#include <vector>

#ifdef MWCONV_HAVE_LIBARCHIVE
#include <archive.h>
#include <archive_entry.h>
#endif

#include "host/macbinary.h"
#include "tests/support/apple_builder.h"
#include "tests/support/binhex_builder.h"
#include "tests/support/example_document.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw2_builder.h"
#include "tests/support/mw2disk_builder.h"
#include "tests/support/mw5_builder.h"
#include "tests/support/pict_builder.h"
#include "tests/support/sit_builder.h"

namespace {

using namespace testing_support;

std::string macwrite2_seed(ChainLinks links) {
    Mw2Builder doc;
    doc.char_style(3, 12);
    doc.char_style(23, 10, 0x1003);
    doc.para_format(0);
    doc.para_format(1);
    doc.empty_records(0);
    doc.area({"Text with a note\x05 and a tab\tand more words to fill a line.\r", {{0, 20}, {1, 10}, {0, 30}}, {{0, 15}, {1, 45}}, 17});
    doc.area({"\x03Note text.\r\x03" "Another.\r", {{0, 22}}, {{0, 22}}, 200, 1});
    doc.links(links);
    return doc.build();
}

// A MacWrite 4.6/5 document whose entries name one text again and again:
// the import refuses it (damaged or crafted), a failure to report.
std::string damaged_seed() {
    Mw5Builder doc;
    doc.text(Area::Main, std::string(4000, 'x') + "\r");
    for (int i = 0; i < 2000; ++i) doc.entry(Area::Main, 20, 512, 4004);
    return doc.build();
}

std::string picture_seed(int version) {
    PictBuilder b(version, 0, 0, 60, 80);
    b.op(0x01).region(0, 0, 60, 80, {}).pen_size(2, 2).pattern(0x09, 0x55).rect_op(0x30, 1, 1, 9, 9);
    b.op(0x0B).point(4, 4).rect_op(0x41, 2, 2, 20, 20).rect_op(0x50, 3, 3, 30, 30).rect_op(0x60, 0, 0, 40, 40).u16(45).u16(90);
    b.op(0x71).u16(18).rect(0, 0, 9, 9).point(0, 0).point(9, 9);
    b.op(0x81).region(0, 0, 30, 20, {0, 0, 20, 0x7FFF, 30, 0, 20, 0x7FFF, 0x7FFF});
    b.op(0x20).point(1, 1).point(50, 70).op(0x03).u16(21).op(0x0D).u16(10).long_text(20, 5, "Hi").op(0x29).u8(9).u8(1).raw("!");
    b.bits(true, 8, 64, {std::string(8, '\x0F'), std::string(8, '\xF0')}, 30, 0);
    b.bits(false, 2, 16, {std::string(2, '\xFF')}, 32, 0, 3).bits(false, 2, 16, {std::string("\x0F\xF0", 2)}, 32, 0, 6);
    if (version == 2) b.pixmap8({std::string("\x00\x01", 2)}, 2, {0xFFFFFF, 0x0000FF}, 40, 0, 1).direct32({{0x112233}}, 50, 0);
    b.op(0xA1).u16(1).u16(2).u16(0);
    return b.build();
}

// An archive with a folder and the methods a builder can write by itself.
SitFolder stuffit_seed() {
    SitFile memo{"Memo", "WORD", "MACA", 0x0100, 2882000000u, 2882003600u, sit_rle90(example_document()),
                 sit_lzw_literals("resource bytes"), false};
    SitFile note{"Note", "TEXT", "ttxt", 0, 0, 0, sit_stored("plain\r"), {}, false};
    return SitFolder{"", {note}, {SitFolder{"Letters", {memo}, {}}}};
}

int write_file(const std::string &path, const std::string &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    return 0;
}

#ifdef MWCONV_HAVE_LIBARCHIVE
// An archive written by libarchive: Docs/Memo, its AppleDouble companion
// under __MACOSX, and a file that is no document.
std::string archive_seed(int format, int filter, const std::string &memo) {
    std::vector<char> buffer(1 << 20);
    size_t used = 0;
    archive *a = archive_write_new();
    archive_write_set_format(a, format);
    archive_write_add_filter(a, filter);
    archive_write_open_memory(a, buffer.data(), buffer.size(), &used);
    const std::string companion = AppleBuilder(AppleBuilder::kDouble, 2).finder("WORD", "MACA").dates(1000, 2000).build();
    for (const auto &[name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"Docs/Memo", memo}, {"__MACOSX/Docs/._Memo", companion}, {"Docs/other", std::string(100, 'o')}}) {
        archive_entry *e = archive_entry_new();
        archive_entry_set_pathname(e, name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(bytes.size()));
        archive_write_header(a, e);
        archive_write_data(a, bytes.data(), bytes.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
    return std::string(buffer.data(), used);
}
#endif

std::vector<std::pair<std::string, std::string>> container_seeds(const std::string &memo) {
    const auto header = kavrel::macbinary::make_header("Memo", "WORD", "MACA", static_cast<uint32_t>(memo.size()), 0);
    std::vector<std::pair<std::string, std::string>> seeds = {
        {"container-macbinary", std::string(header.begin(), header.end()) + memo},
        {"container-binhex", binhex("Memo", "WORDMACA", memo, "resource fork")},
        {"container-applesingle-v1", AppleBuilder(AppleBuilder::kSingle, 1).name("Memo").finder("WORD", "MACA").data(memo).build()},
        {"container-applesingle-v2",
         AppleBuilder(AppleBuilder::kSingle, 2).name("Memo").finder("WORD", "MACA").dates(1, 2).resource("r").data(memo).build()},
    };
#ifdef MWCONV_HAVE_LIBARCHIVE
    seeds.emplace_back("container-zip", archive_seed(ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE, memo));
    seeds.emplace_back("container-tar-gz", archive_seed(ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FILTER_GZIP, memo));
#endif
    return seeds;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: make_seeds DIR [PICTURE_DIR [DAMAGED_DIR]]\n");
        return 1;
    }
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"macwrite5-example", example_document()},
        {"macwrite22", Mw22Builder()
                           .paragraph("Old text\r")
                           .ruler(Area::Main)
                           .paragraph("C:\\\x8E\r", 3, 5)
                           .text(Area::Main, "Bold abg\r", {{0, 12, 1, 3}, {5, 12, 0, 23}})
                           .text(Area::Header, "Memo\r", {{0, 9, 2, 3}})
                           .text(Area::Footer, "p. \r")
                           .field(Area::Footer, 1, 0, 40)
                           .build()},
        {"macwrite2-forward", macwrite2_seed(ChainLinks::Forward)},
        {"macwrite2-backward", macwrite2_seed(ChainLinks::Backward)},
        {"macwrite2-runs", macwrite2_seed(ChainLinks::BlockRuns)},
        {"macwrite2-disk", full_disk_document().build()},
        {"container-stuffit-classic.sit", classic_archive(stuffit_seed())},
        {"container-stuffit5.sit", sit5_archive(stuffit_seed())},
    };
    for (const auto &[name, bytes] : seeds)
        if (write_file(std::string(argv[1]) + "/" + name, bytes) != 0) return 1;
    for (const auto &[name, bytes] : container_seeds(example_document()))
        if (write_file(std::string(argv[1]) + "/" + name, bytes) != 0) return 1;
    if (argc == 4 && write_file(std::string(argv[3]) + "/damaged-macwrite5", damaged_seed()) != 0) return 1;
    if (argc >= 3)
        for (int version : {1, 2})
            if (write_file(std::string(argv[2]) + "/picture-v" + std::to_string(version), picture_seed(version)) != 0) return 1;
    return 0;
}
