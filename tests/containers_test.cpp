// The container layer on its own: names made safe, the wrapper formats read
// from their published layouts, and the walker's limits.
#include <gtest/gtest.h>

#include "containers/applesingle.h"
#include "containers/formats.h"
#include "containers/names.h"
#include "mactext/roman.h"
#include "containers/source.h"
#include "containers/walk.h"
#include "host/macbinary.h"
#include "tests/support/apple_builder.h"
#include "tests/support/binhex_builder.h"
#include "tests/support/mw5_builder.h"

namespace {

using namespace containers;
using testing_support::AppleBuilder;

std::shared_ptr<const Source> source_of(const std::string &bytes) {
    return containers::bytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::string read_all(const Source &s) {
    std::string out(s.size(), '\0');
    out.resize(s.read_at(0, out.data(), out.size()));
    return out;
}

std::vector<Leaf> walk_all(const std::string &bytes) {
    auto source = source_of(bytes);
    const Format *format = recognise(*source);
    if (format == nullptr) return {};
    Walker walker(source, *format);
    std::vector<Leaf> leaves;
    for (Leaf leaf; walker.next(leaf);) leaves.push_back(leaf);
    return leaves;
}

TEST(ContainerNames, NothingLeavesTheOutputFolder) {
    std::vector<std::string> changes;
    EXPECT_EQ(safe_path({"..", "..", "etc", "passwd"}, changes), "__/__/etc/passwd");
    EXPECT_EQ(changes.size(), 2u);
    changes.clear();
    EXPECT_EQ(safe_path(split_archive_path("/abs/./x//y"), changes), "abs/x/y");
    EXPECT_TRUE(changes.empty());
    std::string change;
    EXPECT_EQ(safe_name("Letters/Memos", change), "Letters:Memos");  // as macOS shows a Mac name's slash
    EXPECT_TRUE(change.empty());
    EXPECT_EQ(safe_name(std::string("a\0b\x1b[2J", 7), change), "a_b_[2J");
    EXPECT_FALSE(change.empty());
    EXPECT_EQ(safe_name("", change), "_");
    EXPECT_EQ(safe_name(".", change), "_.");
    EXPECT_EQ(safe_name("\xff\xfe", change), "__");  // malformed UTF-8
    const std::string long_name = safe_name(std::string(300, 'x') + "\xc3\xa9", change);
    EXPECT_LE(long_name.size(), 240u);
    EXPECT_FALSE(change.empty());
    EXPECT_EQ(mactext::mac_roman_to_utf8("Caf\x8e \xa5"), "Caf\xc3\xa9 \xe2\x80\xa2");
}

TEST(AppleSingle, BothVersionsGiveForkNameTypeAndDates) {
    for (int version : {1, 2}) {
        const std::string doc = "the data fork";
        const std::string file = AppleBuilder(AppleBuilder::kSingle, version)
                                     .name("Memo \x8e")
                                     .finder("WORD", "MACA", 0x0100)
                                     .dates(version == 2 ? 100 : 2082844800u + 100, version == 2 ? 200 : 2082844800u + 200)
                                     .resource(std::string(300, 'r'))
                                     .data(doc)
                                     .build();
        const auto leaves = walk_all(file);
        ASSERT_EQ(leaves.size(), 1u) << version;
        const Member &m = leaves[0].member;
        EXPECT_TRUE(leaves[0].path.empty());  // a wrapper's member takes the wrapper's name
        EXPECT_EQ(leaves[0].shown, "Memo \xc3\xa9");
        EXPECT_EQ(m.type + m.creator, "WORDMACA");
        EXPECT_EQ(m.finder_flags, 0x0100);
        EXPECT_EQ(m.resource_length, 300u);
        EXPECT_EQ(*m.modified, version == 2 ? 946684800 + 200 : 200);
        EXPECT_EQ(read_all(*leaves[0].data), doc);
    }
    // An AppleDouble companion lends its fields; anything else lends nothing.
    Member m;
    EXPECT_TRUE(apply_companion(*source_of(AppleBuilder(AppleBuilder::kDouble, 2).finder("MW2D", "MWII").build()), m));
    EXPECT_EQ(m.creator, "MWII");
    Member untouched;
    EXPECT_FALSE(apply_companion(*source_of("not a companion at all, just text"), untouched));
    EXPECT_TRUE(untouched.creator.empty());
    EXPECT_EQ(companion_target({"__MACOSX", "Docs", "._Memo"}), (std::vector<std::string>{"Docs", "Memo"}));
}

TEST(MacBinary, HeaderCheckedAndDocumentsNotTakenForIt) {
    using testing_support::Mw5Builder;
    Mw5Builder doc;
    doc.text(testing_support::Area::Main, "Hello\r");
    // MacBinary I (the builder's) and II (the export's, with a CRC).
    EXPECT_EQ(read_all(*walk_all(doc.build_macbinary()).at(0).data), doc.build());
    const auto header = kavrel::macbinary::make_header("Memo", "WORD", "MACA", static_cast<uint32_t>(doc.build().size()), 0);
    std::string bin = std::string(header.begin(), header.end()) + doc.build();
    auto leaves = walk_all(bin);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(read_all(*leaves[0].data), doc.build());
    EXPECT_TRUE(leaves[0].member.warning.empty());
    bin[40] ^= 1;  // in the name: the CRC no longer matches, the fork still reads
    leaves = walk_all(bin);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_NE(leaves[0].member.warning.find("CRC"), std::string::npos);
    EXPECT_EQ(read_all(*leaves[0].data), doc.build());
    EXPECT_EQ(recognise(*source_of(doc.build())), nullptr);
}

TEST(BinHex, RunsDecodedAndEveryCrcChecked) {
    const std::string data = std::string(700, '\0') + "\x90\x90\x90\x90\x90 text" + std::string(5, 'x');
    const std::string text = std::string(300, 'M') + "\nail headers: ignored, more than 4 KB of them\n" +
                             std::string(5000, 'h') + "\n\n" + testing_support::binhex("Memo \x8e", "WORDMACA", data, "rsrc");
    auto leaves = walk_all(text);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].shown, "Memo \xc3\xa9");
    EXPECT_EQ(leaves[0].member.resource_length, 4u);
    ASSERT_NE(leaves[0].data, nullptr) << leaves[0].member.problem;
    EXPECT_EQ(read_all(*leaves[0].data), data);
    // The resource fork's last character changed: the member is lost, with why.
    std::string damaged = text;
    damaged[damaged.rfind(':') - 3] ^= 1;
    leaves = walk_all(damaged);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].data, nullptr);
    EXPECT_NE(leaves[0].member.problem.find("CRC"), std::string::npos) << leaves[0].member.problem;
}

TEST(Walker, NestingStopsAtItsLimit) {
    std::string file = "innermost";
    for (int i = 0; i < kMaxDepth + 2; ++i) file = AppleBuilder(AppleBuilder::kSingle, 2).name("n").data(file).build();
    const auto leaves = walk_all(file);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_NE(leaves[0].member.problem.find("nested deeper"), std::string::npos) << leaves[0].member.problem;
    EXPECT_EQ(leaves[0].data, nullptr);
}

TEST(Walker, DamagedWrapperReportedNotThrown) {
    const std::string file = AppleBuilder(AppleBuilder::kSingle, 2).name("n").data("abc").build();
    const auto leaves = walk_all(file.substr(0, 40));  // an entry past the end
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_NE(leaves[0].member.problem.find("past the end"), std::string::npos) << leaves[0].member.problem;
}

#ifdef MWCONV_HAVE_LIBARCHIVE
TEST(Archives, EmptyAndZeroFilesAreFilesNotArchives) {
    EXPECT_EQ(recognise(*source_of("")), nullptr);
    EXPECT_EQ(recognise(*source_of(std::string(512, '\0'))), nullptr);
    EXPECT_EQ(recognise(*source_of(std::string(4096, '\0'))), nullptr);
}
#endif

}  // namespace
