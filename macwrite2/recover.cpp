// Text areas that a damaged directory no longer names: each is found by its
// chain's structure (a block list of text blocks that hold text, then two
// run lists), so that bytes that do not hold together give nothing.
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

}  // namespace

// The search reads chains and text blocks that may prove to be no area's:
// it reads on a budget of its own, as large as the document's, and stops
// when that is spent, so that a file full of decoys neither takes long nor
// costs the document its own text.
void emit_lost_areas(ImportContext &ctx) {
    long long search = 4LL * ctx.file_length + 65536;
    for (long block = 1; block <= ctx.block_count() && search >= 0 && !ctx.overdrawn(); ++block) {
        if (ctx.block_used(block)) continue;
        const long long before = ctx.read_budget;
        const bool found = area_chain_at(ctx, block);
        search -= before - ctx.read_budget;
        ctx.read_budget = before;
        if (!found) continue;
        ++ctx.damage.found_areas;
        emit_text_area(ctx, block);
    }
}

}  // namespace macwrite2
