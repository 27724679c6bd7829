// What a damaged document still holds beyond its directory: text areas that
// the directory no longer names, each found by its chain's structure (a
// block list of text blocks that hold text, then two run lists), and text
// blocks that no area takes any more, found by their bytes.  Bytes that do
// not hold together give nothing.
#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "macwrite2/context.h"
#include "macwrite2/layout.h"

namespace macwrite2 {

namespace {

constexpr int kListsAt = 4;   // the area chain's lists follow a word that is not read

// A byte of text as MacWrite II stores it: any character but NUL, which fills
// free and lost blocks.
bool text_block_holds(ImportContext &ctx, long block, long count) {
    uint8_t text[kBlockSize];
    const long at = (block - 1) * kBlockSize + ctx.mac_binary_offset;
    if (std::fseek(ctx.in, at, SEEK_SET) != 0 || std::fread(text, 1, static_cast<size_t>(count), ctx.in) != static_cast<size_t>(count))
        return false;
    ctx.spend(count);
    for (long i = 0; i < count; ++i)
        if (text[i] == 0) return false;
    return true;
}

// A block list: references to text blocks of the file that no chain of the
// document has taken, with counts a block can hold, and text in them.
bool blocks_hold(ImportContext &ctx, const std::string &list) {
    if (list.empty() || list.size() % kTextBlockRefSize != 0) return false;
    const auto *ref = reinterpret_cast<const uint8_t *>(list.data());
    for (size_t i = 0; i < list.size(); i += kTextBlockRefSize) {
        const long block = kavrel::be16(ref + i);
        const long count = kavrel::be16s(ref + i + 2);
        if (block < 1 || block > ctx.block_count() || ctx.block_used(block) || count < 1 || count > kBlockSize ||
            !text_block_holds(ctx, block, count))
            return false;
    }
    return true;
}

// A run list: whole runs, each at a table index and over some characters.
bool runs_hold(const std::string &list) {
    if (list.size() % kStyleRunSize != 0) return false;
    const auto *run = reinterpret_cast<const uint8_t *>(list.data());
    for (size_t i = 0; i < list.size(); i += kStyleRunSize)
        if (kavrel::be16s(run + i) < 0 || kavrel::be32(run + i + 4) == 0) return false;
    return true;
}

// The next list of `chain` at `at`: a length word and that many bytes, all
// within the chain; false when it does not fit.
bool next_list(const std::string &chain, size_t &at, std::string &list) {
    if (at + 4 > chain.size()) return false;
    const uint32_t length = kavrel::be32(reinterpret_cast<const uint8_t *>(chain.data()) + at);
    if (length > chain.size() - at - 4) return false;
    list = chain.substr(at + 4, length);
    at += 4 + length;
    return true;
}

// Whether the block can open a text area's chain: its block list starts
// with a reference that holds.  Most blocks fail this first look, so that the
// search reads few chains.
bool opens_area(ImportContext &ctx, long block) {
    uint8_t head[kListsAt + 4 + kTextBlockRefSize];
    const long at = (block - 1) * kBlockSize + ctx.mac_binary_offset;
    if (std::fseek(ctx.in, at, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, ctx.in) != sizeof head) return false;
    const uint32_t length = kavrel::be32(head + kListsAt);
    if (length == 0 || length % kTextBlockRefSize != 0) return false;
    return blocks_hold(ctx, std::string(reinterpret_cast<const char *>(head) + kListsAt + 4, kTextBlockRefSize));
}

// Whether the chain that starts at `block` is a text area's: its three
// lists fit in it and hold together.
bool area_chain_at(ImportContext &ctx, long block) {
    if (!opens_area(ctx, block)) return false;
    const std::string chain = read_block_chain(ctx, block, false).data;
    size_t at = kListsAt;
    std::string blocks, char_runs, para_runs;
    return next_list(chain, at, blocks) && next_list(chain, at, char_runs) && next_list(chain, at, para_runs) &&
           runs_hold(char_runs) && runs_hold(para_runs) && blocks_hold(ctx, blocks);
}

// Bytes of MacWrite II text: printable characters and the control bytes
// that the text holds (fields, note marks, pictures, tabs, breaks, optional
// hyphens).
bool text_byte(uint8_t b) {
    switch (b) {
    case 2: case 3: case 4: case 5: case 7: case 9: case 0x0B: case 0x0D: case 0x0E: case 0x15: case 0x17: case 0x1A: case 0x1F:
        return true;
    default: return b >= 0x20 && b != 0x7F;
    }
}

// A text block that no area takes: text from its first byte, with at least
// a letter or a digit, then nothing but the zeros a text block is filled
// with.  Chain blocks open with lengths and end with a link, style tables
// and pictures hold zeros and binary bytes amid their data: none of them
// passes.
bool lost_text_at(ImportContext &ctx, long block, std::string &text) {
    uint8_t bytes[kBlockSize];
    const long at = (block - 1) * kBlockSize + ctx.mac_binary_offset;
    if (std::fseek(ctx.in, at, SEEK_SET) != 0) return false;
    const size_t got = std::fread(bytes, 1, sizeof bytes, ctx.in);
    ctx.spend(static_cast<long long>(got));
    size_t end = 0;
    bool letters = false;
    for (; end < got && bytes[end] != 0; ++end) {
        if (!text_byte(bytes[end])) return false;
        letters = letters || std::isalnum(bytes[end]) != 0 || bytes[end] >= 0x80;
    }
    for (size_t i = end; i < got; ++i)
        if (bytes[i] != 0) return false;
    if (!letters) return false;
    text.assign(reinterpret_cast<const char *>(bytes), end);
    return true;
}

}  // namespace

// The search reads chains and text blocks that may prove to be no area's:
// it reads on a budget of its own, as large as the document's, and stops
// when that is spent, so that a file full of decoys neither takes long nor
// costs the document its own text.
void search_unused_blocks(ImportContext &ctx, long first, const std::function<bool(long)> &holds,
                          const std::function<void(long)> &found) {
    long long search = 4LL * ctx.file_length + 65536;
    for (long block = first; block <= ctx.block_count() && search >= 0 && !ctx.overdrawn(); ++block) {
        if (ctx.block_used(block)) continue;
        const long long before = ctx.read_budget;
        const bool holds_one = holds(block);
        search -= before - ctx.read_budget;
        ctx.read_budget = before;
        if (holds_one) found(block);
    }
}

void emit_lost_areas(ImportContext &ctx) {
    search_unused_blocks(ctx, 1, [&](long block) { return area_chain_at(ctx, block); },
                         [&](long block) {
                             ++ctx.damage.found_areas;
                             emit_text_area(ctx, block);
                         });
}

std::vector<std::string> find_lost_text(ImportContext &ctx) {
    std::vector<std::string> runs;
    std::string text;
    long last = -1;
    search_unused_blocks(ctx, kDocumentChainBlock, [&](long block) { return lost_text_at(ctx, block, text); },
                         [&](long block) {
                             ctx.use_block(block);
                             ++ctx.damage.found_blocks;
                             if (runs.empty() || block != last + 1) runs.emplace_back();
                             runs.back() += text;
                             last = block;
                         });
    return runs;
}

// Short enough for an identification's 160 characters in the common cases;
// what could not be read is missing, which the message around it says.
std::string ChainDamage::summary() const {
    const auto count = [](int32_t n, const char *one, const char *many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string text = "read " + count(areas, "text area", "text areas");
    const auto add = [&](bool what, const std::string &said) {
        if (what) text += "; " + said;
    };
    add(lost_first_block, "the first block (signature and page setup) is lost");
    add(lost_document_chain, "the document chain does not hold together");
    add(directory_cut, "the directory is cut short");
    add(broken_chains > 0, count(broken_chains, "chain breaks", "chains break"));
    add(lost_zones > 0, count(lost_zones, "text area lost its block list", "text areas lost their block lists"));
    add(cut_lists > 0, count(cut_lists, "text area's chain ends inside its styles or notes",
                             "text areas' chains end inside their styles or notes"));
    add(lost_pictures > 0, count(lost_pictures, "picture is lost", "pictures are lost"));
    add(zeroed_blocks > 0, count(zeroed_blocks, "text block holds zeros", "text blocks hold zeros"));
    add(lost_blocks > 0, count(lost_blocks, "text block lies outside the file", "text blocks lie outside the file"));
    add(found_areas > 0, count(found_areas, "text area", "text areas") + " found without the directory, after the others");
    add(found_blocks > 0, count(found_blocks, "text block", "text blocks") + " found outside any area, after the others, in file order");
    return text;
}

}  // namespace macwrite2
