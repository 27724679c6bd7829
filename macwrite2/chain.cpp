// Blocks and chains, and the byte cursor over a copied chain.
#include <cstring>

#include "host/bytes.h"
#include "macwrite2/context.h"
#include "macwrite2/layout.h"

namespace macwrite2 {

size_t Cursor::read(void *out, size_t n) {
    const size_t have = pos_ < bytes_.size() ? bytes_.size() - pos_ : 0;
    const size_t got = n < have ? n : have;
    std::memcpy(out, bytes_.data() + pos_, got);
    pos_ += got;
    return got;
}

void Cursor::skip(long long n) {
    if (n < 0) return;
    const unsigned long long target = pos_ + static_cast<unsigned long long>(n);
    pos_ = target > bytes_.size() ? bytes_.size() : static_cast<size_t>(target);
}

bool Cursor::read_be16(int16_t &v) {
    uint8_t b[2];
    if (read(b, 2) != 2) return false;
    v = kavrel::be16s(b);
    return true;
}

bool Cursor::read_be32(int32_t &v) {
    uint8_t b[4];
    if (read(b, 4) != 4) return false;
    v = static_cast<int32_t>(kavrel::be32(b));
    return true;
}

std::string Cursor::take(long long n) {
    const size_t start = pos_;
    skip(n);
    return bytes_.substr(start, pos_ - start);
}

namespace {

// Reads block n once per chain: a block outside the file, or met before,
// reads as nothing, which ends the chain.
class BlockReader {
public:
    BlockReader(ImportContext &ctx, bool mark)
        : ctx_(ctx), mark_(mark), count_(ctx.block_count()), seen_(static_cast<size_t>(count_ > 0 ? count_ + 1 : 1), false) {}

    size_t read(long n, uint8_t *block) {
        if (n < 1 || n > count_ || seen_[static_cast<size_t>(n)]) return 0;
        seen_[static_cast<size_t>(n)] = true;
        if (mark_) ctx_.use_block(n);
        if (std::fseek(ctx_.in, (n - 1) * kBlockSize + ctx_.mac_binary_offset, SEEK_SET) != 0) return 0;
        return std::fread(block, 1, kBlockSize, ctx_.in);
    }

private:
    ImportContext &ctx_;
    bool mark_;   // the blocks read are the document's
    long count_;
    std::vector<bool> seen_;
};

void append(std::string &data, const uint8_t *from, size_t begin, size_t end) {
    if (end > begin) data.append(reinterpret_cast<const char *>(from) + begin, end - begin);
}

}  // namespace

ChainBytes read_block_chain(ImportContext &ctx, long first_block, bool mark) {
    BlockReader blocks(ctx, mark);
    ChainBytes chain;
    std::string &data = chain.data;
    uint8_t block[kBlockSize];
    long next = first_block;
    // Every way out of the loop but a link of 0 is a chain that breaks.
    bool &ended = chain.ended;
    for (;;) {
        size_t got = blocks.read(next, block);
        append(data, block, 0, got < kBlockData ? got : kBlockData);
        if (got < kBlockSize) break;
        const int16_t link = kavrel::be16s(block + kBlockData);
        if (link >= 0) {
            if ((ended = link == 0)) break;
            next = link;
            continue;
        }
        // A block run: its first block holds the count C, then C - 2 blocks
        // of data only, then an ordinary block that carries the next link.
        const long start = -static_cast<long>(link);
        got = blocks.read(start, block);
        if (got < 2) break;
        const uint16_t run = kavrel::be16(block);
        if (run < 2) {
            append(data, block, 2, got < kBlockData ? got : kBlockData);
            break;
        }
        append(data, block, 2, got);
        bool whole = got == kBlockSize;
        for (long i = 1; whole && i < run - 1; ++i) {
            got = blocks.read(start + i, block);
            append(data, block, 0, got);
            whole = got == kBlockSize;
        }
        if (!whole) break;
        next = start + run - 1;
    }
    ctx.spend(static_cast<long long>(data.size()));
    return chain;
}

bool block_of_zeros(ImportContext &ctx, long n) {
    uint8_t block[kBlockSize];
    if (n < 1 || n > ctx.block_count() || std::fseek(ctx.in, (n - 1) * kBlockSize + ctx.mac_binary_offset, SEEK_SET) != 0)
        return false;
    const size_t got = std::fread(block, 1, kBlockSize, ctx.in);
    for (size_t i = 0; i < got; ++i)
        if (block[i] != 0) return false;
    return got > 0;
}

std::string copy_block_chain(ImportContext &ctx, long first_block) {
    ChainBytes chain = read_block_chain(ctx, first_block, true);
    if (!chain.ended) ++ctx.damage.broken_chains;
    return std::move(chain.data);
}

}  // namespace macwrite2
